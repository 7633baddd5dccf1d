#pragma once
// The messages between the analyzer host and its helper process: frames of a
// 4-byte little-endian payload length, a kind byte and the payload. Numbers
// are little-endian, texts a 4-byte length and their bytes. The first
// exchange (Load / Loaded) carries the version; a helper of another version
// is not used.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/ParserInf.h"
#include "analysis/TextUtil.h"

namespace qnb::hostproto {

inline constexpr uint32_t kVersion = 1;
inline constexpr size_t kHeaderSize = 5;
// Room for a whole mail of the largest size three times over (body, header
// and source of one parse request).
inline constexpr uint32_t kMaxPayload = uint32_t(256) << 20;

enum TKind : uint8_t { mkLoad = 1, mkLoaded, mkClaim, mkClaimed, mkParse, mkParsed };

// A message that cannot be read: cut short, too long, of an unknown kind.
struct EProtocol : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct TLoad {
  uint32_t Version = kVersion;
  std::vector<std::string> Paths;
};
struct TLoadedItem {
  std::string Reseller, FileName;
};
struct TLoaded {
  uint32_t Version = kVersion;
  std::vector<TLoadedItem> Items;
};
// Header texts (lines followed by CR LF), one per mail.
struct TClaim {
  std::vector<std::string> Headers;
};
// Per mail: the index of the claiming plug-in, or -1.
struct TClaimed {
  std::vector<int32_t> Parsers;
};
struct TParse {
  static constexpr uint32_t kOwnBody = 0xffffffff;
  int32_t From = 0;  // the plug-in to try first
  std::string Header, Source;
  // The body of a mail without parts is the tail of its source, from BodyAt:
  // then it is sent and held once. Otherwise (kOwnBody) it is Body.
  uint32_t BodyAt = kOwnBody;
  std::string Body;
  // NUL-terminated, as the plug-ins take it.
  const char* BodyText() const { return BodyAt == kOwnBody ? Body.c_str() : Source.c_str() + BodyAt; }
};
struct TParsed {
  bool Parsed = false;
  int32_t Next = 0;  // the plug-in after the last one tried
  TOriginData Record{};
};

// A whole frame for the message.
std::string Encode(const TLoad& m);
std::string Encode(const TLoaded& m);
std::string Encode(const TClaim& m);
std::string Encode(const TClaimed& m);
std::string Encode(const TParse& m);
// A parse request straight from the mail's lines (each followed by CR LF in
// the texts), without the joined texts in between: a big mail is held once
// less.
std::string EncodeParse(int32_t from, TLineSpan body, TLineSpan header, TLineSpan source);
// The same frame handed to put in pieces of about 256 KiB, so that it is
// never held whole.
void EncodeParse(int32_t from, TLineSpan body, TLineSpan header, TLineSpan source,
                 const std::function<void(std::string_view)>& put);
std::string Encode(const TParsed& m);

// The frame header: payload length and kind; throws EProtocol for a length
// over kMaxPayload or an unknown kind.
void DecodeHeader(std::string_view header, uint32_t& length, TKind& kind);

// A payload of the given kind; throws EProtocol unless it is exactly one
// well-formed message.
void Decode(std::string_view payload, TLoad& m);
void Decode(std::string_view payload, TLoaded& m);
void Decode(std::string_view payload, TClaim& m);
void Decode(std::string_view payload, TClaimed& m);
void Decode(std::string_view payload, TParse& m);
// The fields of a parse request in their order, read through `in`, which has
// `uint32_t U32()` and `void Text(std::string&)` (a length, then its bytes).
// Decode uses it, and the helper reading a request straight from its socket.
template <class TIn>
void ReadParseFields(TIn& in, TParse& m) {
  m.From = static_cast<int32_t>(in.U32());
  in.Text(m.Header);
  in.Text(m.Source);
  m.BodyAt = in.U32();
  m.Body.clear();
  if (m.BodyAt == TParse::kOwnBody) in.Text(m.Body);
  else if (m.BodyAt > m.Source.size()) throw EProtocol("body outside the source");
}
void Decode(std::string_view payload, TParsed& m);

}  // namespace qnb::hostproto
