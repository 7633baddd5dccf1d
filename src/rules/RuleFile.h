#pragma once
// Rule files: TOML, one or more [[rule]] tables each. Everything is checked
// when the file is read; a fault is reported with its line and only the rule
// it sits in is dropped.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rules/Rule.h"

namespace qnb::rules {

struct TFieldInfo {
  const char* name;
  TFieldKind kind;
  size_t offset;  // in TOriginData
  size_t size;    // bytes of the array; 8 for an amount or the date
};

// The record fields a rule can fill, in record order.
const std::vector<TFieldInfo>& FieldTable();
const TFieldInfo* FindField(std::string_view name);

struct TRuleFileResult {
  std::vector<std::shared_ptr<TRule>> rules;
  std::vector<TRuleError> errors;
};

// Reads the rules of a file's text; fileName is used in the errors and kept in
// the rules.
TRuleFileResult ParseRuleText(std::string_view text, const std::string& fileName, bool user);
// Reads a file; one that cannot be read is one error at line 1.
TRuleFileResult LoadRuleFile(const std::string& path, bool user);

}  // namespace qnb::rules
