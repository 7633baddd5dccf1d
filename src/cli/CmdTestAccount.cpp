// quenbell-cli test-account: the account dialog's "Test connection" without
// the dialog.

#include <fstream>
#include <ostream>

#include "cli/CheckRun.h"
#include "cli/Cli.h"
#include "cli/Json.h"
#include "mailcheck/ConnectionTest.h"
#include "mailcheck/OrderMailUtils.h"
#include "mailcheck/QnbGlobals.h"
#include "settings/QnbBase.h"

namespace qnb::cli {

int CmdTestAccount(const TArgs& argsIn, TCliIo& io) {
  TArgs args = argsIn;
  std::string caFile, accountArg;
  if (TakeOption(args, "--cafile", caFile) && !std::ifstream(caFile).good())
    throw TUsageError("--cafile: cannot read \"" + caFile + "\"");
  const bool adhoc = TakeOption(args, "--account", accountArg);
  if (adhoc ? !args.empty() : args.size() != 1) throw TUsageError("expected one account: NAME or --account NAME=URL");

  TMailAccount account;
  std::unique_ptr<TQnbProcessObjects> objects;
  if (adhoc) {
    const TTaskData t = ParseAccountArg(accountArg, 0);
    account.Name = t.Account.str();
    account.Host = t.Server.str();
    account.Port = t.Port.str();
    account.UserName = t.Username.str();
    account.Password = t.Password.str();
    account.Security = t.Security;
    account.Protocol = t.Protocol;
    account.Folder = t.Folder.str().empty() ? std::string(kDefaultFolder) : t.Folder.str();
  } else {
    objects = std::make_unique<TQnbProcessObjects>(false);  // never opens the mail client
    const TMailAccount* found = nullptr;
    for (const auto& a : AppOption->AccountList)
      if (a->Name == args[0]) found = a.get();
    if (!found) throw std::runtime_error("no stored account is named \"" + args[0] + "\"");
    account = *found;
  }
  auto probe = MakeProbe(account);
  probe->CAFile = caFile;
  const TConnectionTestResult r = probe->Run(account);
  io.out << TJsonObject().Bool("ok", r.Ok).Int("messages", r.Messages).Str("error", r.Error).Str("tls", r.Tls).Text()
         << "\n";
  return r.Ok ? EXIT_OK : EXIT_FAILURE_;
}

}  // namespace qnb::cli
