// quenbell-cli password / config.

#include <ostream>

#include "cli/Cli.h"
#include "cli/Json.h"
#include "mailcheck/QnbGlobals.h"
#include "settings/QnbBase.h"
#include "settings/VrDiag.h"

namespace qnb::cli {

namespace {

// Remembers whether the store reported a failure while it wrote it to stderr.
class TCliPresenter final : public TMessagePresenter {
 public:
  explicit TCliPresenter(std::ostream& err) : err_(err), old_(SetMessagePresenter(this)) {}
  ~TCliPresenter() override { SetMessagePresenter(old_); }
  bool Show(TBoxKind kind, const std::string&, const std::string& text) override {
    err_ << "quenbell-cli: " << text << "\n";
    if (kind == TBoxKind::Error) failed = true;
    return false;
  }
  bool failed = false;

 private:
  std::ostream& err_;
  TMessagePresenter* old_;
};

}  // namespace

int CmdPassword(const TArgs& args, TCliIo& io) {
  if (args.size() != 2) throw TUsageError("expected encode TEXT or decode HEX");
  if (args[0] == "encode") {
    io.out << EncodePass(args[1]) << "\n";
  } else if (args[0] == "decode") {
    io.out << DecodePass(args[1]) << "\n";
  } else {
    throw TUsageError("unknown password action \"" + args[0] + "\"");
  }
  return EXIT_OK;
}

int CmdConfig(const TArgs& args, TCliIo& io) {
  if (!args.empty()) throw TUsageError("config takes no arguments");
  TCliPresenter presenter(io.err);
  TQnbProcessObjects objects;
  const TOptions& o = *AppOption;
  std::string accounts = "[";
  for (size_t i = 0; i < o.AccountList.size(); ++i) {
    const TMailAccount& a = *o.AccountList[i];
    if (i) accounts += ",";
    accounts += TJsonObject()
                    .Str("Name", a.Name)
                    .Str("Host", a.Host)
                    .Str("Port", a.Port)
                    .Str("UserName", a.UserName)
                    .Bool("Enabled", a.Enabled)
                    .Str("Security", SecurityName(a.Security))
                    .Str("Protocol", ProtocolName(a.Protocol))
                    .Str("Folder", a.Folder)
                    .Str("PasswordStore", PasswordPlaceName(a.PasswordStore))
                    .Text();
  }
  accounts += "]";
  io.out << TJsonObject()
                .Bool("bAutoRun", o.bAutoRun)
                .Bool("bMinToTray", o.bMinToTray)
                .Bool("bCheckPaymentWhenOpening", o.bCheckPaymentWhenOpening)
                .Bool("bCheckPaymentOnSchedule", o.bCheckPaymentOnSchedule)
                .Int("iCheckPaymentTime", o.iCheckPaymentTime)
                .Str("sMailProgram", o.sMailProgram)
                .Bool("bRememberPayments", o.bRememberPayments)
                .Bool("bDesktopNotify", o.bDesktopNotify)
                .Raw("accounts", accounts)
                .Text()
         << "\n";
  return presenter.failed ? EXIT_FAILURE_ : EXIT_OK;
}

}  // namespace qnb::cli
