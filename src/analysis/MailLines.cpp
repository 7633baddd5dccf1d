#include "analysis/MailLines.h"

#include <algorithm>

namespace qnb {

namespace {
// Small mails take one small buffer; big ones grow to buffers of this size,
// so that the last one wastes little.
constexpr size_t kFirstBuffer = 4096;
constexpr size_t kLargestBuffer = size_t(1) << 20;
}  // namespace

TMailLines::TMailLines(TLineSpan lines) {
  lines_.reserve(lines.size());
  for (std::string_view l : lines) push_back(l);
}

std::string_view TMailLines::push_back(std::string_view line) {
  std::string* buf = buffers_.empty() ? nullptr : buffers_.back().get();
  if (!buf || buf->capacity() - buf->size() < line.size()) {
    const size_t grown = buf ? std::min(kLargestBuffer, 2 * buf->capacity()) : kFirstBuffer;
    auto fresh = std::make_unique<std::string>();
    fresh->reserve(std::max(grown, line.size()));
    buf = fresh.get();
    buffers_.push_back(std::move(fresh));
  }
  const size_t at = buf->size();
  buf->append(line);
  const std::string_view stored(buf->data() + at, line.size());
  lines_.push_back(stored);
  bytes_ += line.size() + 2;
  return stored;
}

void TMailLines::AdoptText(std::string text) {
  auto owned = std::make_unique<std::string>(std::move(text));
  const std::string_view t(*owned);
  size_t pos = 0;
  while (pos < t.size()) {
    const size_t nl = t.find('\n', pos);
    const size_t end = nl == std::string_view::npos ? t.size() : nl;
    size_t len = end - pos;
    if (len > 0 && t[end - 1] == '\r') --len;
    lines_.push_back(t.substr(pos, len));
    bytes_ += len + 2;
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
  // Put before the last buffer, which later lines may still fill.
  buffers_.insert(buffers_.empty() ? buffers_.end() : buffers_.end() - 1, std::move(owned));
}

}  // namespace qnb
