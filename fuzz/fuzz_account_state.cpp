// The account-state file on arbitrary bytes: loading never fails hard, and
// what it keeps reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/AccountState.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qnb::TAccountStateBook book;
  book.LoadText(std::string(reinterpret_cast<const char*>(data), size));
  const std::string text = book.SaveText();
  qnb::TAccountStateBook again;
  if (!again.LoadText(text) || again.SaveText() != text) std::abort();
  return 0;
}
