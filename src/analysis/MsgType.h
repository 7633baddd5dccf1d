#pragma once
// One retrieved mail as the analyzers read it: raw source, header lines,
// decoded subject and the body text.

#include <string>

#include "analysis/MailLines.h"
#include "analysis/MailMessage.h"
#include "analysis/TextUtil.h"

namespace qnb {

class TMsgType {
 public:
  TMsgType() = default;
  TMsgType(TMsgType&&) noexcept = default;
  TMsgType& operator=(TMsgType&&) noexcept = default;
  // Body and parsed view point into the source held here.
  TMsgType(const TMsgType&) = delete;
  TMsgType& operator=(const TMsgType&) = delete;

  const std::string& UID() const { return FUID; }
  void SetUID(std::string uid) { FUID = std::move(uid); }
  const std::string& Subject() const { return FSubject; }
  // Lines of the source or of a text part.
  const TLineViews& Body() const { return FBody; }
  const TStrings& Headers() const { return FHeaders; }
  const TLineViews& FullSource() const { return FFullSource.Lines(); }

  // Splits the retrieved mail (one line per entry, no line ends). When the last
  // line, trimmed, is not ".", a "." line is appended to `source` itself.
  // Throws EMailError, EConvertError; an empty source is an EMailError.
  void Assign(TStrings& source);
  // The same, taking the lines over: the mail is then held once, its body
  // lines viewing it.
  void Assign(TMailLines&& source);

  // The reader's view of the mail: parts with their headers and content.
  const TMailMessage& Parsed() const { return FParsed; }

 private:
  void Split();

  std::string FUID;
  std::string FSubject;
  TLineViews FBody;
  TStrings FHeaders;
  TMailLines FFullSource;
  TMailMessage FParsed;
};

}  // namespace qnb
