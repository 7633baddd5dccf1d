#include "analysis/PluginProtocol.h"

#include <cstring>

namespace qnb::hostproto {

namespace {

class TWriter {
 public:
  explicit TWriter(TKind kind) { buf_.assign(kHeaderSize, '\0'), buf_[4] = static_cast<char>(kind); }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) buf_ += static_cast<char>((v >> (8 * i)) & 0xff);
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void Str(std::string_view s) {
    U32(static_cast<uint32_t>(s.size()));
    buf_.append(s);
  }
  std::string Frame() {
    const size_t n = buf_.size() - kHeaderSize;
    if (n > kMaxPayload) throw EProtocol("message too large");
    for (int i = 0; i < 4; ++i) buf_[static_cast<size_t>(i)] = static_cast<char>((n >> (8 * i)) & 0xff);
    return std::move(buf_);
  }
  std::string& Raw() { return buf_; }

 private:
  std::string buf_;
};

class TReader {
 public:
  explicit TReader(std::string_view data) : data_(data) {}
  uint32_t U32() {
    Need(4);
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(static_cast<unsigned char>(data_[pos_ + static_cast<size_t>(i)])) << (8 * i);
    pos_ += 4;
    return v;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  std::string Str() {
    const uint32_t n = U32();
    Need(n);
    std::string s(data_.substr(pos_, n));
    pos_ += n;
    return s;
  }
  void Text(std::string& s) { s = Str(); }
  // A count of items of at least minSize bytes each: never more than the
  // rest of the message can hold, so a hostile count allocates nothing.
  uint32_t Count(size_t minSize) {
    const uint32_t n = U32();
    if (minSize > 0 && n > (data_.size() - pos_) / minSize) throw EProtocol("count past the end of the message");
    return n;
  }
  void Bytes(void* dest, size_t n) {
    Need(n);
    std::memcpy(dest, data_.data() + pos_, n);
    pos_ += n;
  }
  void End() const {
    if (pos_ != data_.size()) throw EProtocol("bytes after the message");
  }

 private:
  void Need(size_t n) const {
    if (data_.size() - pos_ < n) throw EProtocol("message cut short");
  }
  std::string_view data_;
  size_t pos_ = 0;
};

void CheckVersion(uint32_t v) {
  if (v != kVersion) throw EProtocol("version " + std::to_string(v) + " of the helper's messages is not known");
}

}  // namespace

std::string Encode(const TLoad& m) {
  TWriter w(mkLoad);
  w.U32(m.Version);
  w.U32(static_cast<uint32_t>(m.Paths.size()));
  for (const auto& p : m.Paths) w.Str(p);
  return w.Frame();
}

std::string Encode(const TLoaded& m) {
  TWriter w(mkLoaded);
  w.U32(m.Version);
  w.U32(static_cast<uint32_t>(m.Items.size()));
  for (const auto& i : m.Items) {
    w.Str(i.Reseller);
    w.Str(i.FileName);
  }
  return w.Frame();
}

std::string Encode(const TClaim& m) {
  TWriter w(mkClaim);
  w.U32(static_cast<uint32_t>(m.Headers.size()));
  for (const auto& h : m.Headers) w.Str(h);
  return w.Frame();
}

std::string Encode(const TClaimed& m) {
  TWriter w(mkClaimed);
  w.U32(static_cast<uint32_t>(m.Parsers.size()));
  for (int32_t p : m.Parsers) w.I32(p);
  return w.Frame();
}

std::string Encode(const TParse& m) {
  TWriter w(mkParse);
  w.I32(m.From);
  w.Str(m.Header);
  w.Str(m.Source);
  w.U32(m.BodyAt);
  if (m.BodyAt == TParse::kOwnBody) w.Str(m.Body);
  return w.Frame();
}

namespace {

// Where body starts as the tail of source's text, or kOwnBody. Compared by
// content: the body lines may be copies of the source's.
uint32_t BodyAtInSource(TLineSpan body, TLineSpan source) {
  if (body.empty() || body.size() > source.size()) return TParse::kOwnBody;
  const size_t first = source.size() - body.size();
  for (size_t i = 0; i < body.size(); ++i)
    if (body[i] != source[first + i]) return TParse::kOwnBody;
  return static_cast<uint32_t>(JoinedSize(source) - JoinedSize(body));
}

}  // namespace

void EncodeParse(int32_t from, TLineSpan body, TLineSpan header, TLineSpan source,
                 const std::function<void(std::string_view)>& put) {
  constexpr size_t kPiece = 256 * 1024;
  const uint32_t bodyAt = BodyAtInSource(body, source);
  const bool ownBody = bodyAt == TParse::kOwnBody;
  const size_t total =
      4 + 12 + JoinedSize(header) + JoinedSize(source) + (ownBody ? 4 + JoinedSize(body) : 0);
  if (total > kMaxPayload) throw EProtocol("message too large");
  TWriter w(mkParse);
  std::string& buf = w.Raw();
  for (int i = 0; i < 4; ++i) buf[static_cast<size_t>(i)] = static_cast<char>((total >> (8 * i)) & 0xff);
  w.I32(from);
  auto text = [&](TLineSpan lines) {
    w.U32(static_cast<uint32_t>(JoinedSize(lines)));
    for (std::string_view l : lines) {
      buf += l;
      buf += "\r\n";
      if (buf.size() >= kPiece) {
        put(buf);
        buf.clear();
      }
    }
  };
  text(header);
  text(source);
  w.U32(bodyAt);
  if (ownBody) text(body);
  if (!buf.empty()) put(buf);
}

std::string EncodeParse(int32_t from, TLineSpan body, TLineSpan header, TLineSpan source) {
  std::string frame;
  EncodeParse(from, body, header, source, [&](std::string_view piece) { frame.append(piece); });
  return frame;
}

std::string Encode(const TParsed& m) {
  TWriter w(mkParsed);
  w.U32(m.Parsed ? 1 : 0);
  w.I32(m.Next);
  // Both ends are built from the same header: the record goes as its bytes.
  w.Raw().append(reinterpret_cast<const char*>(&m.Record), sizeof m.Record);
  return w.Frame();
}

void DecodeHeader(std::string_view header, uint32_t& length, TKind& kind) {
  if (header.size() != kHeaderSize) throw EProtocol("frame header cut short");
  length = TReader(header.substr(0, 4)).U32();
  if (length > kMaxPayload) throw EProtocol("message too large");
  const auto k = static_cast<uint8_t>(header[4]);
  if (k < mkLoad || k > mkParsed) throw EProtocol("unknown message kind " + std::to_string(k));
  kind = static_cast<TKind>(k);
}

void Decode(std::string_view payload, TLoad& m) {
  TReader r(payload);
  m.Version = r.U32();
  CheckVersion(m.Version);
  m.Paths.clear();
  for (uint32_t n = r.Count(4); n > 0; --n) m.Paths.push_back(r.Str());
  r.End();
}

void Decode(std::string_view payload, TLoaded& m) {
  TReader r(payload);
  m.Version = r.U32();
  CheckVersion(m.Version);
  m.Items.clear();
  for (uint32_t n = r.Count(8); n > 0; --n) {
    TLoadedItem i;
    i.Reseller = r.Str();
    i.FileName = r.Str();
    m.Items.push_back(std::move(i));
  }
  r.End();
}

void Decode(std::string_view payload, TClaim& m) {
  TReader r(payload);
  m.Headers.clear();
  for (uint32_t n = r.Count(4); n > 0; --n) m.Headers.push_back(r.Str());
  r.End();
}

void Decode(std::string_view payload, TClaimed& m) {
  TReader r(payload);
  m.Parsers.clear();
  for (uint32_t n = r.Count(4); n > 0; --n) m.Parsers.push_back(r.I32());
  r.End();
}

void Decode(std::string_view payload, TParse& m) {
  TReader r(payload);
  ReadParseFields(r, m);
  r.End();
}

void Decode(std::string_view payload, TParsed& m) {
  TReader r(payload);
  const uint32_t parsed = r.U32();
  if (parsed > 1) throw EProtocol("parse result neither 0 nor 1");
  m.Parsed = parsed == 1;
  m.Next = r.I32();
  r.Bytes(&m.Record, sizeof m.Record);
  r.End();
}

}  // namespace qnb::hostproto
