#include "rules/Pattern.h"
#include "settings/TextConv.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace qnb::rules {

namespace {

// Enough for the patterns of a sane rule over a bounded text, small enough
// that a pattern that backtracks without end gives up within milliseconds.
constexpr uint32_t kMatchLimit = 2'000'000;
constexpr uint32_t kDepthLimit = 5'000;

// One match context and JIT stack for the process: every search runs to its
// end before the next starts on the same thread, and the contexts hold only
// settings (thread_local keeps threads of their own apart).
struct TMatchEnv {
  pcre2_match_context* ctx = nullptr;
  pcre2_jit_stack* stack = nullptr;
  pcre2_match_data* data = nullptr;
  TMatchEnv() {
    ctx = pcre2_match_context_create(nullptr);
    pcre2_set_match_limit(ctx, kMatchLimit);
    pcre2_set_depth_limit(ctx, kDepthLimit);
    stack = pcre2_jit_stack_create(32 * 1024, 1024 * 1024, nullptr);
    if (stack) pcre2_jit_stack_assign(ctx, nullptr, stack);
    data = pcre2_match_data_create(16, nullptr);
  }
  ~TMatchEnv() {
    pcre2_match_data_free(data);
    pcre2_jit_stack_free(stack);
    pcre2_match_context_free(ctx);
  }
};

TMatchEnv& Env() {
  thread_local TMatchEnv env;
  return env;
}

}  // namespace

std::string ValidUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    size_t n = Utf8SequenceLength(s, i);
    if (n) {
      out.append(s.substr(i, n));
      i += n;
    } else {
      unsigned char c = static_cast<unsigned char>(s[i++]);
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

void CutUtf8(std::string& s, size_t max) {
  if (s.size() <= max) return;
  size_t cut = max;
  while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
  s.resize(cut);
}

TPattern::TPattern(std::string_view pattern) : source_(pattern) {
  int err = 0;
  PCRE2_SIZE off = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(source_.data()), source_.size(),
                                   PCRE2_UTF | PCRE2_UCP | PCRE2_MULTILINE, &err, &off, nullptr);
  if (!code) {
    PCRE2_UCHAR buf[256];
    pcre2_get_error_message(err, buf, sizeof buf);
    error_ = reinterpret_cast<const char*>(buf);
    errorOffset_ = off;
    return;
  }
  uint32_t groups = 0;
  pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &groups);
  groups_ = static_cast<int>(groups);
  code_ = code;
}

TPattern::~TPattern() { pcre2_code_free(static_cast<pcre2_code*>(code_)); }

TMatchResult TPattern::Search(std::string_view subject, TMatch& m, size_t start) const {
  if (!code_) return TMatchResult::Error;
  // Without JIT (a machine that forbids it) the interpreter runs with the same limits.
  std::call_once(jit_, [this] { pcre2_jit_compile(static_cast<pcre2_code*>(code_), PCRE2_JIT_COMPLETE); });
  TMatchEnv& env = Env();
  int rc = pcre2_match(static_cast<pcre2_code*>(code_), reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(),
                       start, PCRE2_NO_UTF_CHECK, env.data, env.ctx);
  if (rc == PCRE2_ERROR_NOMATCH) return TMatchResult::NoMatch;
  if (rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT || rc == PCRE2_ERROR_HEAPLIMIT ||
      rc == PCRE2_ERROR_JIT_STACKLIMIT)
    return TMatchResult::Limit;
  if (rc < 0) return TMatchResult::Error;
  PCRE2_SIZE* ov = pcre2_get_ovector_pointer(env.data);
  m.start = ov[0];
  m.end = ov[1];
  m.hasGroup = rc >= 2 && ov[2] != PCRE2_UNSET;
  if (m.hasGroup) {
    m.groupStart = ov[2];
    m.groupEnd = ov[3];
  }
  return TMatchResult::Match;
}

}  // namespace qnb::rules
