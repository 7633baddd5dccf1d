// The rules analyzer plug-in: the rule engine behind the C interface.
#include <dlfcn.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>

#include "quenbell/analyzer.h"
#include "rules/RuleEngine.h"
#include "rules/RulePaths.h"

namespace {

using Clock = std::chrono::steady_clock;
// Folders are looked at again at most this often, so that a rule saved in the
// window counts from the next check on without costing every header a scan.
constexpr auto kRefreshInterval = std::chrono::milliseconds(250);

struct TState {
  std::unique_ptr<qnb::rules::TRuleStore> store;
  Clock::time_point lastRefresh;
};

TState& State() {
  static TState state;
  return state;
}

std::string PluginFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&GetResellerName), &info) && info.dli_fname)
    return std::filesystem::path(info.dli_fname).parent_path().string();
  return ".";
}

const qnb::rules::TRuleSet& Rules() {
  TState& s = State();
  Clock::time_point now = Clock::now();
  if (!s.store) {
    s.store = std::make_unique<qnb::rules::TRuleStore>(qnb::rules::ShippedRulesDir(PluginFolder()),
                                                       qnb::rules::UserRulesDir());
    s.store->Refresh();
    s.lastRefresh = now;
  } else if (now - s.lastRefresh >= kRefreshInterval) {
    s.store->Refresh();
    s.lastRefresh = now;
  }
  return s.store->Set();
}

}  // namespace

extern "C" {

QNB_EXPORT int32_t QNB_CALL GetResellerName(char* name) {
  std::strcpy(name, "Rules");
  // The rule files are read now, while the caller connects to its servers,
  // not when the first mail waits for its claim.
  try {
    (void)Rules();
  } catch (...) {
  }
  return AS_NORMAL;
}

QNB_EXPORT int32_t QNB_CALL IsOrder(const char* header) {
  try {
    if (!header) return AS_ERROR;
    return Rules().Claim(header) ? AS_NORMAL : AS_DLL_NOFIND;
  } catch (...) {
    return AS_ERROR;
  }
}

QNB_EXPORT int32_t QNB_CALL IsOrderEx(const char* header) { return IsOrder(header); }

// The rules need the whole mail: its MIME structure, charsets and HTML part.
QNB_EXPORT int32_t QNB_CALL ParseOrder(const char*, const char*, TOriginData*) { return AS_FUN_NOFIND; }

QNB_EXPORT int32_t QNB_CALL ParseOrderEx(const char* source, TOriginData* od) {
  try {
    if (!source || !od) return AS_ERROR;
    return Rules().Analyze(source, *od) ? AS_NORMAL : AS_ERROR;
  } catch (...) {
    return AS_ERROR;
  }
}

}  // extern "C"
