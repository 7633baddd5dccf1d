#include "analysis/MsgType.h"

#include "analysis/MailBase.h"

namespace qnb {

namespace {
// True when the lines joined with CR LF would trim to nothing.
bool IsBlankText(TLineSpan lines) {
  for (std::string_view l : lines)
    for (char c : l)
      if (static_cast<unsigned char>(c) > 0x20) return false;
  return true;
}
}  // namespace

void TMsgType::Assign(TStrings& source) {
  TMailLines copy(source);
  if (!source.empty() && Trim(source.back()) != ".") source.emplace_back(".");
  Assign(std::move(copy));
}

void TMsgType::Assign(TMailLines&& source) {
  FBody.clear();
  FParsed.Clear();
  FFullSource = std::move(source);
  if (FFullSource.empty()) throw EMailError("The retrieved mail has no lines.");
  Split();
}

void TMsgType::Split() {
  // The reader ends the lines with the "." line when they lack it; the
  // source is kept as it came.
  FParsed.Parse(FFullSource);
  FHeaders = FParsed.Headers();
  FSubject = VrDecodeHeader(FParsed.Subject());
  if (!IsBlankText(FParsed.Body())) {
    FBody = FParsed.Body();
    return;
  }
  for (const auto& part : FParsed.Parts()) {
    if (part.IsAttachment()) continue;
    FBody.assign(part.Body.begin(), part.Body.end());
    return;
  }
}

}  // namespace qnb
