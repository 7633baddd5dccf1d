// The IMAP response parser on arbitrary server output: responses are read
// one after another until the input ends. Only the parser's own failure
// (ENetFailure) may come out, and never more than the limits allow.
#include <cstddef>
#include <cstdint>
#include <string>

#include "mailcheck/ImapParser.h"
#include "mailcheck/ImapSession.h"

namespace {

class TBytes final : public qnb::TImapInput {
 public:
  TBytes(const char* p, size_t n) : s_(p, n) {}
  std::string ReadLine() override {
    const size_t lf = s_.find('\n', pos_);
    if (lf == std::string::npos) throw qnb::ENetFailure(qnb::kClosedByPeer);
    std::string line = s_.substr(pos_, lf - pos_);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos_ = lf + 1;
    return line;
  }
  std::string ReadBytes(size_t n) override {
    if (s_.size() - pos_ < n) throw qnb::ENetFailure(qnb::kClosedByPeer);
    std::string b = s_.substr(pos_, n);
    pos_ += n;
    return b;
  }
  bool AtEnd() const { return pos_ >= s_.size(); }

 private:
  std::string s_;
  size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TBytes in(reinterpret_cast<const char*>(data), size);
  qnb::TImapLimits limits;
  limits.MaxLiteral = 4096;
  limits.MaxResponse = 65536;
  try {
    while (!in.AtEnd()) {
      qnb::TImapResponse r = qnb::ReadImapResponse(in, limits);
      for (const auto& v : r.Data)
        if (v.Kind == qnb::TImapValue::vString) (void)qnb::SplitMailLines(v.Text, true);
    }
  } catch (const qnb::ENetFailure&) {
  }
  return 0;
}
