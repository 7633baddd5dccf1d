#pragma once
// One retrieved mail as the analyzers read it: raw source, header lines,
// decoded subject and the body text.

#include <string>

#include "analysis/MailMessage.h"
#include "analysis/TextUtil.h"

namespace qnb {

class TMsgType {
 public:
  const std::string& UID() const { return FUID; }
  void SetUID(std::string uid) { FUID = std::move(uid); }
  const std::string& Subject() const { return FSubject; }
  const TStrings& Body() const { return FBody; }
  const TStrings& Headers() const { return FHeaders; }
  const TStrings& FullSource() const { return FFullSource; }

  // Splits the retrieved mail (one line per entry, no line ends). When the last
  // line, trimmed, is not ".", a "." line is appended to `source` itself.
  // Throws EMailError, EConvertError; an empty source is an EMailError.
  void Assign(TStrings& source);
  // The same, taking the lines over instead of copying them (a big mail is
  // then held once less).
  void Assign(TStrings&& source);

  // The reader's view of the mail: parts with their headers and content.
  const TMailMessage& Parsed() const { return FParsed; }

 private:
  void Split(std::string text);

  std::string FUID;
  std::string FSubject;
  TStrings FBody;
  TStrings FHeaders;
  TStrings FFullSource;
  TMailMessage FParsed;
};

}  // namespace qnb
