#include "cli/Cli.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "analysis/TextUtil.h"

namespace qnb::cli {

namespace {

int CmdHelp(const TArgs& args, TCliIo& io);

// One row per subcommand; --help prints them in this order.
const TCommand kCommands[] = {
    {"password", "encode TEXT | decode HEX", "code a password as it is stored, or decode a stored one", CmdPassword},
    {"config", "", "print the stored options and accounts (passwords omitted) as JSON", CmdConfig},
    {"decode-header", "TEXT", "decode the encoded words of a header value", CmdDecodeHeader},
    {"message", "FILE", "split a mail into subject, headers, body and parts (JSON)", CmdMessage},
    {"analyze", "[--plugins DIR] FILE", "let the analyzer plug-ins turn a mail into an order (JSON)", CmdAnalyze},
    {"plugins", "[--plugins DIR]", "list the accepted analyzer plug-ins (JSON lines)", CmdPlugins},
    {"rules", "list [--rules DIR] | test [--rules DIR] FILE... | check RULEFILE...",
     "list the rules analyzer's rules, try them on mails, or check rule files", CmdRules},
    {"check",
     "[--plugins DIR] [--repeat N] [--cafile FILE] [--pipeline-window N] [--no-history] "
     "[--account NAME=(pop3|imap)[s|+starttls]://USER:PASS@HOST:PORT[/FOLDER]]...",
     "check the given or the stored accounts for new payments (JSON lines)", CmdCheck},
    {"watch",
     "[--plugins DIR] [--cafile FILE] [--interval MINUTES] [--seconds N] [--no-history] "
     "[--account NAME=URL]...",
     "check once, then again on IMAP IDLE news and on a schedule (JSON lines)", CmdWatch},
    {"history",
     "list [--account NAME] [--from DATE] [--to DATE] [--search TEXT] | "
     "export --format csv|json [--from DATE] [--to DATE] [--output FILE] | "
     "totals [--by day|month] [--from DATE] [--to DATE]",
     "the stored orders as JSON lines, exported, or summed per period and currency", CmdHistory},
    {"test-account", "[--cafile FILE] (NAME | --account NAME=URL)",
     "connect, log in and count the messages of one account, changing nothing (JSON)", CmdTestAccount},
    {"help", "", "list the subcommands", CmdHelp},
};

void PrintUsage(std::ostream& os) {
  os << "usage: quenbell-cli COMMAND [ARGS]\n\ncommands:\n";
  for (const auto& c : kCommands) {
    std::string line = std::string("  ") + c.name + (c.usage[0] ? " " : "") + c.usage;
    os << line;
    if (line.size() < 48) os << std::string(48 - line.size(), ' ');
    else os << "\n" << std::string(48, ' ');
    os << c.summary << "\n";
  }
}

int CmdHelp(const TArgs&, TCliIo& io) {
  PrintUsage(io.out);
  return EXIT_OK;
}

}  // namespace

int RunCli(const TArgs& args, TCliIo& io) {
  if (args.empty()) {
    PrintUsage(io.err);
    return EXIT_USAGE;
  }
  if (args[0] == "--help" || args[0] == "-h") return CmdHelp({}, io);
  for (const auto& c : kCommands) {
    if (args[0] != c.name) continue;
    try {
      return c.run(TArgs(args.begin() + 1, args.end()), io);
    } catch (const TUsageError& e) {
      io.err << "quenbell-cli: " << e.what() << "\nusage: quenbell-cli " << c.name << " " << c.usage << "\n";
      return EXIT_USAGE;
    } catch (const std::exception& e) {
      io.err << "quenbell-cli: " << e.what() << "\n";
      return EXIT_FAILURE_;
    }
  }
  io.err << "quenbell-cli: unknown command \"" << args[0] << "\"\n";
  PrintUsage(io.err);
  return EXIT_USAGE;
}

std::vector<std::string> ReadLinesArg(const std::string& file, TCliIo& io) {
  std::string text;
  if (file == "-") {
    text.assign(std::istreambuf_iterator<char>(io.in), std::istreambuf_iterator<char>());
  } else {
    std::ifstream f(file, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read \"" + file + "\"");
    text.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    if (f.bad()) throw std::runtime_error("cannot read \"" + file + "\"");
  }
  return SplitLines(text);
}

bool TakeOption(TArgs& args, const std::string& name, std::string& value) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != name) continue;
    if (i + 1 >= args.size()) throw TUsageError(name + " needs a value");
    value = args[i + 1];
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    return true;
  }
  return false;
}

bool TakeFlag(TArgs& args, const std::string& name) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != name) continue;
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
    return true;
  }
  return false;
}

}  // namespace qnb::cli
