#pragma once
// The message reader: one mail as text lines turned into its header lines,
// subject, body lines and parts. All text stays bytes in the mail's own
// character set.

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/MailLines.h"
#include "analysis/TextUtil.h"

namespace qnb {

// A mail the reader cannot read: "Unknown Message Part Type.",
// "Uneven size in DecodeToStream.".
struct EMailError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Value of header `name` in a list of header lines: the first line whose text
// before its first ":" is `name` (any case), with the continuation lines that
// begin with a blank or a tab joined by one blank; trimmed. Empty when missing.
std::string LookupHeader(const TStrings& headers, std::string_view name);

// Boundary parameter of a Content-Type value; empty when it has none.
std::string BoundaryOf(std::string_view contentType);

struct TMessagePart {
  enum class TKind { Text, Attachment };
  TKind Kind = TKind::Text;
  // Header lines as stored: continuations joined, the first ": " turned into "=".
  TStrings Headers;
  TStrings Body;         // text part: the decoded bytes as lines
  std::string FileName;  // attachment
  std::string Content;   // attachment: the decoded bytes

  bool IsAttachment() const { return Kind == TKind::Attachment; }
  size_t Size() const { return Content.size(); }
  // Value of a stored part header ("Name=value"), trimmed; empty when missing.
  std::string Value(std::string_view name) const;
};

class TMailMessage {
 public:
  // Header-only use (the answer to "TOP n 0"): every raw line but empty lines
  // and the closing ".", then ParseHeaders(). A Q-encoded word with a bad "=XX"
  // is left undecoded here: the raw lines are what the analyzers read.
  void AddRawHeaderLine(std::string line);
  void ParseHeaders();

  // Whole-mail use: the mail as text (lines joined with CR LF, ending with a
  // "." line, which is supplied when missing). Throws EMailError and
  // EConvertError (a bad "=XX" in a Q-encoded Subject, From, To, Cc, Bcc or
  // attachment name).
  void Parse(std::string_view text);
  // The same for a mail already cut into lines (no line ends, the "." line
  // optional). The top-level body lines then view `lines`, which must outlive
  // this message or its next Parse.
  void Parse(const TMailLines& lines);

  TMailMessage() = default;
  TMailMessage(TMailMessage&&) noexcept = default;
  TMailMessage& operator=(TMailMessage&&) noexcept = default;
  // The body views the message's own lines: a copy would share them.
  TMailMessage(const TMailMessage&) = delete;
  TMailMessage& operator=(const TMailMessage&) = delete;

  void Clear();

  const TStrings& Headers() const { return headers_; }
  const std::string& Subject() const { return subject_; }
  const std::string& From() const { return from_; }
  const std::string& To() const { return to_; }
  const std::string& Cc() const { return cc_; }
  const std::string& Bcc() const { return bcc_; }
  const std::string& Date() const { return date_; }
  const std::string& ContentType() const { return contentType_; }
  const std::string& ContentTransferEncoding() const { return transferEncoding_; }
  const std::string& ContentDisposition() const { return disposition_; }
  // The top-level boundary from Content-Type; empty when the mail has none.
  const std::string& Boundary() const { return boundary_; }

  // Top-level body lines that belong to no part.
  const TLineViews& Body() const { return body_; }
  const std::vector<TMessagePart>& Parts() const { return parts_; }

 private:
  friend class TMailReader;
  void ReadHeaderFields(bool strictWords);

  TStrings headers_;
  std::string subject_, from_, to_, cc_, bcc_, date_;
  std::string contentType_, transferEncoding_, disposition_, boundary_;
  TLineViews body_;
  TMailLines ownBody_;  // the body lines of a mail parsed from its text
  std::vector<TMessagePart> parts_;
};

}  // namespace qnb
