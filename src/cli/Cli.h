#pragma once
// quenbell-cli as a library: a table of subcommands with injectable streams, so
// that tests run commands in process as well as through the real binary.

#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

namespace qnb {
struct TOrderData;
struct TTaskData;
}

namespace qnb::cli {

struct TCliIo {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
};

using TArgs = std::vector<std::string>;

// Exit codes fixed by the command-line interface.
constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILURE_ = 1;  // a failure of the system: "quenbell-cli: MESSAGE"
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_NOT_ORDER = 3;

// Thrown by a command for a wrong call; the runner prints the message and the
// command's usage and exits 2.
struct TUsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct TCommand {
  const char* name;
  const char* usage;  // arguments after the name, for --help
  const char* summary;
  int (*run)(const TArgs& args, TCliIo& io);  // args exclude the command name
};

// Runs one command line (argv[0] excluded). Any std::exception escaping a
// command is a failure of the system: one line on err, exit 1.
int RunCli(const TArgs& args, TCliIo& io);

// Reads FILE ("-" is standard input) as lines: split at LF, a CR before the LF
// dropped. Throws std::runtime_error when the file cannot be read.
std::vector<std::string> ReadLinesArg(const std::string& file, TCliIo& io);

// Takes "--name VALUE" out of args; returns false when absent. Throws
// TUsageError when the value is missing.
bool TakeOption(TArgs& args, const std::string& name, std::string& value);
// Takes "--name" out of args; returns false when absent.
bool TakeFlag(TArgs& args, const std::string& name);

// Subcommands, one function each (defined in the Cmd*.cpp files).
int CmdPassword(const TArgs& args, TCliIo& io);
int CmdConfig(const TArgs& args, TCliIo& io);
int CmdDecodeHeader(const TArgs& args, TCliIo& io);
int CmdMessage(const TArgs& args, TCliIo& io);
int CmdAnalyze(const TArgs& args, TCliIo& io);
int CmdPlugins(const TArgs& args, TCliIo& io);
int CmdRules(const TArgs& args, TCliIo& io);
int CmdCheck(const TArgs& args, TCliIo& io);
int CmdWatch(const TArgs& args, TCliIo& io);
int CmdHistory(const TArgs& args, TCliIo& io);
int CmdTestAccount(const TArgs& args, TCliIo& io);

// An order as the "order" object of analyze and check (CmdAnalyze.cpp).
std::string OrderJson(const TOrderData& order);

}  // namespace qnb::cli
