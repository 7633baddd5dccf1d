// The message reader on arbitrary text: whole-mail use through TMsgType.Assign
// and the header-only use. Only the reader's own errors may come out.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "analysis/MailBase.h"
#include "analysis/MailMessage.h"
#include "analysis/MsgType.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  qnb::TStrings lines = qnb::SplitLines(text);
  try {
    qnb::TMsgType msg;
    msg.Assign(lines);
    for (const auto& part : msg.Parsed().Parts()) (void)part.Size();
  } catch (const qnb::EMailError&) {
  } catch (const qnb::EConvertError&) {
  }

  qnb::TMailMessage head;
  for (const auto& line : lines) {
    if (line.empty() || line == ".") break;
    head.AddRawHeaderLine(line);
  }
  head.ParseHeaders();  // never throws for a bad encoded word
  return 0;
}
