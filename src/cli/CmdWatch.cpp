// quenbell-cli watch: one check run, then further runs for the accounts whose
// IMAP server reports new mail in IDLE, and for the others on the schedule.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>

#include "cli/CheckRun.h"
#include "cli/Cli.h"
#include "mailcheck/ImapWatch.h"
#include "mailcheck/QnbGlobals.h"
#include "settings/QnbBase.h"

namespace qnb::cli {

namespace {

using TClock = std::chrono::steady_clock;

// Positive, fractions allowed (a test may want seconds).
double PositiveNumber(const std::string& text, const char* option) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(v > 0) || v > 1e7)
    throw TUsageError(std::string(option) + " needs a positive number");
  return v;
}

// Task IDs asked for by the IDLE watches, in ID order.
class TNews {
 public:
  void Add(int32_t id) {
    {
      std::lock_guard lock(mutex_);
      ids_.insert(id);
    }
    cv_.notify_all();
  }
  std::set<int32_t> Take() {
    std::lock_guard lock(mutex_);
    std::set<int32_t> r;
    r.swap(ids_);
    return r;
  }
  void Wait(std::chrono::milliseconds ms) {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, ms, [this] { return !ids_.empty(); });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::set<int32_t> ids_;
};

}  // namespace

int CmdWatch(const TArgs& argsIn, TCliIo& io) {
  TArgs args = argsIn;
  std::string pluginDir, caFile, text;
  const bool hasPlugins = TakeOption(args, "--plugins", pluginDir);
  if (TakeOption(args, "--cafile", caFile) && !std::ifstream(caFile).good())
    throw TUsageError("--cafile: cannot read \"" + caFile + "\"");
  double intervalMin = -1, seconds = -1;
  if (TakeOption(args, "--interval", text)) intervalMin = PositiveNumber(text, "--interval");
  if (TakeOption(args, "--seconds", text)) seconds = PositiveNumber(text, "--seconds");
  std::vector<TTaskData> tasks;
  std::string accountArg;
  while (TakeOption(args, "--account", accountArg))
    tasks.push_back(ParseAccountArg(accountArg, static_cast<int32_t>(tasks.size())));
  const bool noHistory = TakeFlag(args, "--no-history");
  if (!args.empty()) throw TUsageError("unexpected argument \"" + args[0] + "\"");

  TQnbProcessObjects objects(false);  // never opens the mail client
  if (tasks.empty())
    for (size_t i = 0; i < AppOption->AccountList.size(); ++i)
      tasks.push_back(TaskOfAccount(*AppOption->AccountList[i], static_cast<int32_t>(i)));
  if (intervalMin < 0 && AppOption->iCheckPaymentTime > 0) intervalMin = AppOption->iCheckPaymentTime;

  auto gear = hasPlugins ? std::make_unique<TParseGear>(pluginDir) : std::make_unique<TParseGear>();
  TSigintGuard sigint;
  const auto start = TClock::now();
  auto stopWanted = [&] {
    return TSigintGuard::Interrupts() > 0 ||
           (seconds > 0 && TClock::now() - start >= std::chrono::duration<double>(seconds));
  };

  // The watches start before the first run, so that mail arriving during it
  // is not missed.
  TNews news;
  std::vector<std::unique_ptr<TImapWatch>> watches;
  for (const auto& t : tasks) {
    if (t.Protocol != protoImap) continue;
    auto w = std::make_unique<TImapWatch>(t, [&news](int32_t id) { news.Add(id); });
    w->CAFile = caFile;
    w->Start();
    watches.push_back(std::move(w));
  }
  auto idling = [&](int32_t id) {
    for (const auto& w : watches)
      if (w->TaskID() == id) return w->State() == TImapWatch::wsIdling;
    return false;
  };

  TCheckRunner runner(*gear, io);
  runner.CAFile = caFile;
  if (!noHistory && AppOption->bRememberPayments) runner.UseHistory();
  const auto interval = std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(intervalMin * 60));
  auto nextScheduled = TClock::now() + interval;
  bool ok = runner.Run(tasks, stopWanted);
  while (ok && !stopWanted()) {
    // Long enough to cost nothing while all waits; short enough for SIGINT.
    news.Wait(std::chrono::milliseconds(250));
    std::set<int32_t> due = news.Take();
    if (intervalMin > 0 && TClock::now() >= nextScheduled) {
      for (const auto& t : tasks)
        if (!idling(t.ID)) due.insert(t.ID);
      nextScheduled = TClock::now() + interval;
    }
    if (due.empty()) continue;
    std::vector<TTaskData> run;
    for (const auto& t : tasks)
      if (due.count(t.ID)) run.push_back(t);
    ok = runner.Run(run, stopWanted);
  }
  for (auto& w : watches) w->Stop();
  return EXIT_OK;
}

}  // namespace qnb::cli
