#include "analysis/MsgType.h"

#include "analysis/MailBase.h"

namespace qnb {

namespace {
// True when the lines joined with CR LF would trim to nothing.
bool IsBlankText(const TStrings& lines) {
  for (const auto& l : lines)
    for (char c : l)
      if (static_cast<unsigned char>(c) > 0x20) return false;
  return true;
}
}  // namespace

void TMsgType::Assign(TStrings& source) {
  FFullSource = source;
  if (source.empty()) throw EMailError("The retrieved mail has no lines.");
  if (Trim(source.back()) != ".") source.emplace_back(".");
  Split(JoinCRLF(source));
}

void TMsgType::Assign(TStrings&& source) {
  FFullSource = std::move(source);
  if (FFullSource.empty()) throw EMailError("The retrieved mail has no lines.");
  // The text parsed ends with the "." line, the source kept as it came.
  std::string text = JoinCRLF(FFullSource);
  if (Trim(FFullSource.back()) != ".") text += ".\r\n";
  Split(std::move(text));
}

void TMsgType::Split(std::string text) {
  FParsed.Parse(text);
  text = std::string();
  FHeaders = FParsed.Headers();
  FSubject = VrDecodeHeader(FParsed.Subject());
  if (!IsBlankText(FParsed.Body())) {
    FBody = FParsed.Body();
    return;
  }
  for (const auto& part : FParsed.Parts()) {
    if (part.IsAttachment()) continue;
    FBody = part.Body;
    return;
  }
}

}  // namespace qnb
