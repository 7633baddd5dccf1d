// The message reader on arbitrary text: whole-mail use through TMsgType.Assign
// and the header-only use. Only the reader's own errors may come out, and a
// mail read from its lines in place reads as its text does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "analysis/MailBase.h"
#include "analysis/MailLines.h"
#include "analysis/MailMessage.h"
#include "analysis/MsgType.h"

namespace {

// What a reading gave, or which error it threw.
template <class F>
std::string Reading(F&& parse) {
  std::string out;
  auto add = [&](std::string_view s) {
    out += s;
    out += '\0';
  };
  try {
    qnb::TMailMessage m;
    parse(m);
    for (const auto& h : m.Headers()) add(h);
    add(m.Subject());
    for (std::string_view l : m.Body()) add(l);
    for (const auto& p : m.Parts()) {
      for (const auto& h : p.Headers) add(h);
      for (const auto& l : p.Body) add(l);
      add(p.FileName);
      add(p.Content);
    }
  } catch (const qnb::EMailError& e) {
    out = std::string("mail error ") + e.what();
  } catch (const qnb::EConvertError&) {
    out = "convert error";
  }
  return out;
}

}  // namespace

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

  const qnb::TMailLines held(lines);
  const std::string joined = qnb::JoinCRLF(lines);
  if (Reading([&](qnb::TMailMessage& m) { m.Parse(held); }) != Reading([&](qnb::TMailMessage& m) { m.Parse(joined); }))
    std::abort();

  qnb::TMailMessage head;
  for (const auto& line : lines) {
    if (line.empty() || line == ".") break;
    head.AddRawHeaderLine(line);
  }
  head.ParseHeaders();  // never throws for a bad encoded word
  return 0;
}
