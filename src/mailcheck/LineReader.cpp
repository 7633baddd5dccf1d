#include "mailcheck/LineReader.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace qnb {

namespace {
constexpr size_t kChunk = 64 * 1024;
}

void TLineReader::Fill() {
  if (deadline_ != TClock::time_point::max() && TClock::now() >= deadline_) throw EAnswerBound(kAnswerTimeout);
  // Drop what has been consumed before the buffer grows.
  if (pos_ > 0) {
    buf_.erase(0, pos_);
    pos_ = 0;
  }
  size_t old = buf_.size();
  buf_.resize(old + kChunk);
  size_t n;
  try {
    n = stream_.Read(buf_.data() + old, kChunk);
  } catch (...) {
    buf_.resize(old);
    throw;
  }
  buf_.resize(old + n);
  if (n == 0) throw ENetFailure(kClosedByPeer);
}

std::string TLineReader::ReadBytes(size_t n) {
  // The size is known (and bounded by the caller): grown by appends, a mail
  // of 64 MiB would pass through copies of up to twice its size. Pages not yet
  // written take no memory.
  std::string out;
  out.reserve(n);
  for (;;) {
    const size_t take = std::min(n - out.size(), buf_.size() - pos_);
    out.append(buf_, pos_, take);
    pos_ += take;
    if (out.size() == n) return out;
    Fill();
  }
}

bool TLineReader::BufferedHasDotLine() const {
  std::string_view rest(buf_.data() + pos_, buf_.size() - pos_);
  for (size_t at = 0; (at = rest.find("\n.", at)) != std::string_view::npos; ++at) {
    const std::string_view tail = rest.substr(at + 2);
    if (tail.starts_with("\n") || tail.starts_with("\r\n")) return true;
  }
  return false;
}

std::string_view TLineReader::ReadLineView() {
  size_t scanned = pos_;
  for (;;) {
    const char* begin = buf_.data() + pos_;
    const void* lf = scanned < buf_.size() ? memchr(buf_.data() + scanned, '\n', buf_.size() - scanned) : nullptr;
    if (lf) {
      size_t len = static_cast<const char*>(lf) - begin;
      size_t next = pos_ + len + 1;
      if (len > 0 && begin[len - 1] == '\r') --len;
      if (len > maxLineLength_) throw ENetFailure(kLineTooLong);
      pos_ = next;
      return std::string_view(begin, len);
    }
    // Without its end the line may still lose a closing carriage return.
    size_t pending = buf_.size() - pos_;
    if (pending > maxLineLength_ + 1 || (pending == maxLineLength_ + 1 && buf_.back() != '\r'))
      throw ENetFailure(kLineTooLong);
    scanned = buf_.size();
    size_t offset = scanned - pos_;
    Fill();
    scanned = pos_ + offset;
  }
}

}  // namespace qnb
