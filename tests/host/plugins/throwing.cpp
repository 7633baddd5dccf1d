// A C++ analyzer plug-in that throws out of its exports: IsOrder on a mail
// tagged "throw-isorder", ParseOrder (a std::exception) and ParseOrderEx (not
// one) on a mail tagged "throw" or "throw-ex".
#include <cstring>
#include <stdexcept>

#include "quenbell/analyzer.h"

int32_t QNB_CALL GetResellerName(char* name) {
  std::strcpy(name, "Throw");
  return AS_NORMAL;
}

int32_t QNB_CALL IsOrder(const char* header) {
  if (std::strstr(header, "X-Claim: throw-isorder\r\n")) throw std::runtime_error("IsOrder gave up");
  return std::strstr(header, "X-Claim: throw") ? AS_NORMAL : AS_ERROR;
}

int32_t QNB_CALL ParseOrder(const char*, const char* header, TOriginData* od) {
  std::strcpy(od->Comments, "written before the throw");
  if (std::strstr(header, "X-Claim: throw-ex\r\n")) return AS_FUN_NOFIND;
  throw std::runtime_error("ParseOrder gave up");
}

int32_t QNB_CALL ParseOrderEx(const char*, TOriginData*) { throw 42; }
