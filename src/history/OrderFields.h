#pragma once
// Every field of an order once: its name (as the CLI prints it and as the
// history's column), its kind, and how to read and set it.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "analysis/OMAnalyze.h"

namespace qnb {

struct TOrderField {
  enum TKind { Text, Int, Currency, Date };
  const char* Name;
  TKind Kind;
  // Text fields.
  std::string (*GetText)(const TOrderData&);
  void (*SetText)(TOrderData&, std::string_view);
  // Int and Currency fields.
  int64_t (*GetInt)(const TOrderData&);
  void (*SetInt)(TOrderData&, int64_t);
  // Date fields.
  double (*GetDate)(const TOrderData&);
  void (*SetDate)(TOrderData&, double);
};

// In the order of TOrderData's members.
std::span<const TOrderField> OrderFields();

}  // namespace qnb
