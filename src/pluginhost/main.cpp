// quenbell-analyzer-host: runs the analyzer plug-ins for the program and the
// CLI, which start it and talk to it over its standard input (a socket).
// The crash guard passes over a plug-in that crashes as in the program; one
// that aborts, corrupts the heap or hangs ends only this process, and the
// caller starts a new one. Ends when the caller closes its end.

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "analysis/OMAnalyze.h"
#include "analysis/PluginProtocol.h"

using namespace qnb;
using namespace qnb::hostproto;

namespace {

constexpr int kChannel = 0;

// Requests come in many small pieces (a length, then a text): they are read
// through a buffer, one system call for all that has arrived, while a text
// larger than the buffer goes straight to its place.
char gIn[64 * 1024];
size_t gInPos = 0, gInEnd = 0;

// False at the end of the stream.
bool ReadAll(char* buf, size_t size) {
  size_t off = 0;
  while (off < size) {
    if (gInPos < gInEnd) {
      const size_t take = std::min(size - off, gInEnd - gInPos);
      std::memcpy(buf + off, gIn + gInPos, take);
      gInPos += take;
      off += take;
      continue;
    }
    const bool direct = size - off >= sizeof gIn;
    const ssize_t n = direct ? read(kChannel, buf + off, size - off) : read(kChannel, gIn, sizeof gIn);
    if (n > 0) {
      if (direct) {
        off += static_cast<size_t>(n);
      } else {
        gInPos = 0;
        gInEnd = static_cast<size_t>(n);
      }
    } else if (n == 0 || errno != EINTR) {
      return false;
    }
  }
  return true;
}

bool WriteAll(const std::string& data) {
  size_t off = 0;
  while (off < data.size()) {
    const ssize_t n = write(kChannel, data.data() + off, data.size() - off);
    if (n > 0) off += static_cast<size_t>(n);
    else if (n < 0 && errno != EINTR) return false;
  }
  return true;
}

// The stream ended (the caller closed its end) inside a request.
struct TStreamEnded {};

// The fields of a request of `left` bytes, read from the socket, each text
// straight into its place, so that a big mail is not held a second time as
// the frame.
class TRequestIn {
 public:
  explicit TRequestIn(uint32_t length) : left_(length) {}
  uint32_t U32() {
    unsigned char b[4];
    Take(reinterpret_cast<char*>(b), 4);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  }
  void Text(std::string& into) {
    const uint32_t n = U32();
    if (left_ < n) throw EProtocol("message cut short");
    into.resize(n);
    Take(into.data(), n);
  }
  void End() const {
    if (left_ != 0) throw EProtocol("bytes after the message");
  }

 private:
  void Take(char* buf, size_t n) {
    if (left_ < n) throw EProtocol("message cut short");
    left_ -= n;
    if (!ReadAll(buf, n)) throw TStreamEnded{};
  }
  size_t left_;
};

// A parse request of `length` bytes; false at the end of the stream.
bool ReadParse(uint32_t length, TParse& m) {
  TRequestIn in(length);
  try {
    ReadParseFields(in, m);
  } catch (const TStreamEnded&) {
    return false;
  }
  in.End();
  return true;
}

std::string ServeParse(TParseGear& gear, const TParse& parse) {
  TParsed parsed;
  std::memset(&parsed.Record, 0, sizeof parsed.Record);
  parsed.Next = parse.From;
  parsed.Parsed =
      gear.ParseFrom(parsed.Next, parse.BodyText(), parse.Header.c_str(), parse.Source.c_str(), parsed.Record);
  return Encode(parsed);
}

std::string Serve(TParseGear& gear, TKind kind, std::string_view payload) {
  switch (kind) {
    case mkLoad: {
      TLoad load;
      Decode(payload, load);
      gear.LoadParserFiles(load.Paths);
      TLoaded loaded;
      for (const auto& item : gear.ParserList()) loaded.Items.push_back({item->Reseller, item->DLLFileName});
      return Encode(loaded);
    }
    case mkClaim: {
      TClaim claim;
      Decode(payload, claim);
      TClaimed claimed;
      for (const auto& header : claim.Headers) claimed.Parsers.push_back(gear.ClaimText(header));
      return Encode(claimed);
    }
    default:
      throw EProtocol("not a request");
  }
}

}  // namespace

int main() {
  TParseGear gear(std::string{}, std::string{});
  for (;;) {
    char header[kHeaderSize];
    if (!ReadAll(header, sizeof header)) return 0;
    try {
      uint32_t length = 0;
      TKind kind{};
      DecodeHeader(std::string_view(header, sizeof header), length, kind);
      if (kind == mkParse) {
        TParse parse;
        if (!ReadParse(length, parse)) return 0;
        if (!WriteAll(ServeParse(gear, parse))) return 0;
        continue;
      }
      std::string payload(length, '\0');
      if (!ReadAll(payload.data(), length)) return 0;
      if (!WriteAll(Serve(gear, kind, payload))) return 0;
    } catch (const EProtocol& e) {
      const std::string text = std::string("quenbell-analyzer-host: ") + e.what() + "\n";
      (void)!write(2, text.data(), text.size());
      return 2;
    }
  }
}
