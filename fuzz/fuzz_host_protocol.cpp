// The messages between the analyzer host and its helper: any bytes either
// decode to a message that encodes back to the same bytes, or fail with
// EProtocol; nothing else (no crash, no huge allocation from a hostile count).

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "analysis/PluginProtocol.h"

using namespace qnb::hostproto;

namespace {

template <class M>
void RoundTrip(std::string_view payload) {
  M m;
  try {
    Decode(payload, m);
  } catch (const EProtocol&) {
    return;
  }
  const std::string frame = Encode(m);
  uint32_t length = 0;
  TKind kind{};
  DecodeHeader(std::string_view(frame).substr(0, kHeaderSize), length, kind);
  if (length != payload.size() || std::string_view(frame).substr(kHeaderSize) != payload) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  if (all.size() >= kHeaderSize) {
    try {
      uint32_t length = 0;
      TKind kind{};
      DecodeHeader(all.substr(0, kHeaderSize), length, kind);
    } catch (const EProtocol&) {
    }
  }
  if (all.empty()) return 0;
  const std::string_view payload = all.substr(1);
  switch (static_cast<uint8_t>(all[0]) % 6) {
    case 0: RoundTrip<TLoad>(payload); break;
    case 1: RoundTrip<TLoaded>(payload); break;
    case 2: RoundTrip<TClaim>(payload); break;
    case 3: RoundTrip<TClaimed>(payload); break;
    case 4: RoundTrip<TParse>(payload); break;
    default: RoundTrip<TParsed>(payload); break;
  }
  return 0;
}
