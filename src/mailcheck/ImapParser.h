#pragma once
// Server responses of IMAP4rev1 (RFC 3501) taken apart: the tag, the status
// of a status response with its bracketed code and text, or the values of a
// data response (atoms, strings, NIL, parenthesised lists). Literals, {n} and
// {n+}, are read exactly: n bytes, whatever they hold, then the line goes on.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mailcheck/Socket.h"

namespace qnb {

// Where a response comes from: lines without their line end, and exact byte
// counts for literals.
class TImapInput {
 public:
  virtual ~TImapInput() = default;
  virtual std::string ReadLine() = 0;
  virtual std::string ReadBytes(size_t n) = 0;
};

struct TImapValue {
  enum TKind : uint8_t { vAtom, vString, vNil, vList };
  TKind Kind = vAtom;
  std::string Text;               // atom or string
  std::vector<TImapValue> Items;  // list

  bool IsAtom(std::string_view upper) const;
};

struct TImapResponse {
  std::string Tag;     // "*", "+" or the command's tag
  std::string Status;  // "OK", "NO", "BAD", "BYE", "PREAUTH" (upper case), or empty for data
  std::string Code;    // the bracketed response code, without the brackets
  std::string Text;    // the human text of a status or continuation response
  std::vector<TImapValue> Data;  // the values of a data response, e.g. 12 FETCH (...)

  bool Untagged() const { return Tag == "*"; }
};

// Limits against a server that sends without end.
struct TImapLimits {
  size_t MaxLiteral = size_t(100) << 20;   // one literal
  size_t MaxResponse = size_t(128) << 20;  // all literals and lines of one response
  int MaxDepth = 32;                       // nested lists
};

// Texts of the parser's failures (ENetFailure).
inline constexpr const char* kImapLiteralTooLarge = "IMAP literal too large";
inline constexpr const char* kImapResponseTooLarge = "IMAP response too large";
inline constexpr const char* kImapMalformed = "Malformed IMAP response";

// Reads one whole response. Throws ENetFailure for a malformed response or a
// limit passed, and passes on the input's failures (a literal cut short by
// the connection's end among them).
TImapResponse ReadImapResponse(TImapInput& in, const TImapLimits& limits = {});

// s as an IMAP quoted string; false when it can only go as a literal (line
// breaks, NUL or 8-bit bytes).
bool ImapQuote(std::string_view s, std::string& quoted);

}  // namespace qnb
