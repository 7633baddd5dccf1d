// decode-header and message: the mail reader from the command line.
#include <ostream>

#include "analysis/MailBase.h"
#include "analysis/MsgType.h"
#include "cli/Cli.h"
#include "cli/Json.h"

namespace qnb::cli {

int CmdDecodeHeader(const TArgs& args, TCliIo& io) {
  if (args.size() != 1) throw TUsageError("decode-header needs exactly one TEXT");
  std::string decoded = VrDecodeHeader(args[0]);
  io.out.write(decoded.data(), static_cast<std::streamsize>(decoded.size()));
  io.out << "\n";
  return EXIT_OK;
}

int CmdMessage(const TArgs& args, TCliIo& io) {
  if (args.size() != 1) throw TUsageError("message needs exactly one FILE");
  TStrings lines = ReadLinesArg(args[0], io);
  TMsgType msg;
  msg.Assign(lines);

  std::string parts = "[";
  for (const auto& part : msg.Parsed().Parts()) {
    if (parts.size() > 1) parts += ',';
    TJsonObject p;
    if (part.IsAttachment()) {
      p.Str("type", "attachment")
          .Raw("headers", JsonStringList(part.Headers))
          .Str("filename", part.FileName)
          .Int("size", static_cast<int64_t>(part.Size()));
    } else {
      p.Str("type", "text").Raw("headers", JsonStringList(part.Headers)).Raw("body", JsonStringList(part.Body));
    }
    parts += p.Text();
  }
  parts += ']';

  TJsonObject o;
  o.Str("subject", msg.Subject())
      .Raw("headers", JsonStringList(msg.Headers()))
      .Raw("body", JsonStringList(msg.Body()))
      .Raw("parts", parts);
  io.out << o.Text() << "\n";
  return EXIT_OK;
}

}  // namespace qnb::cli
