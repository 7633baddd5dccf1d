#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "mailcheck/AccountStateFeed.h"
#include "settings/AccountState.h"
#include "support/TempDir.h"

namespace qnb {
namespace {

namespace fs = std::filesystem;

TLogRec Rec(int32_t task, const std::string& account, TLogType code, const std::string& caption,
            const std::string& text) {
  TLogRec r;
  r.TaskID = task;
  r.Account = account;
  r.LogCode = code;
  r.Reserved = caption;
  r.LogMessage = text;
  return r;
}

// Records as the worker sends them for one run over three accounts.
void FeedRun(TAccountStateFeed& feed, int64_t now, const std::vector<TLogRec>& recs) {
  for (const auto& r : recs) feed.Feed(r, now);
}

TEST(AccountState, RecordsOfARunGiveEachAccountItsLastCheck) {
  TAccountStateBook book;
  TAccountStateFeed feed(book);
  FeedRun(feed, 1000,
          {Rec(0, "Shop", ltSingleTaskBegin, "Begin", "Begin to execute task"),
           Rec(0, "Shop", ltConnecting, "Connecting", "Connecting"),
           Rec(0, "Shop", ltSingleTaskFinished, "Congratulating", "2 new payments received on \"pop.example.com\""),
           Rec(0, "Shop", ltQuit, "Quit", "Quit"),
           Rec(1, "Outlet", ltSingleTaskBegin, "Begin", "Begin"),
           Rec(1, "Outlet", ltSingleTaskFailed, "TLS Error",
               "Secure connection to \"pop.example.net\" failed: certificate verify failed"),
           Rec(2, "Empty", ltSingleTaskBegin, "Begin", "Begin"),
           Rec(2, "Empty", ltSingleTaskFinished, "Checked", "No new messages on \"pop.example.org\""),
           Rec(2, "Empty", ltAllTaskFinished, "2", "2 new payment(s) received")});

  const TAccountState* shop = book.Find("Shop");
  ASSERT_NE(shop, nullptr);
  EXPECT_FALSE(shop->Failed);
  EXPECT_EQ(shop->NewPayments, 2);
  EXPECT_EQ(shop->Time, 1000);
  const TAccountState* outlet = book.Find("Outlet");
  ASSERT_NE(outlet, nullptr);
  EXPECT_TRUE(outlet->Failed);
  EXPECT_EQ(outlet->Caption, "TLS Error");
  EXPECT_EQ(outlet->Text, "Secure connection to \"pop.example.net\" failed: certificate verify failed");
  ASSERT_NE(book.Find("Empty"), nullptr);
  EXPECT_EQ(book.Find("Empty")->NewPayments, 0);
  EXPECT_EQ(book.Find("Never"), nullptr);
  EXPECT_EQ(book.FailedAccounts(), std::vector<std::string>{"Outlet"});

  // The next run: the failed account recovers, a stopped check keeps what the
  // account had, and a later failure of the stopped task (its connection cut
  // by the stop) is no failure of the account.
  FeedRun(feed, 2000,
          {Rec(0, "Outlet", ltSingleTaskBegin, "Begin", "Begin"),
           Rec(0, "Outlet", ltSingleTaskFinished, "Checked", "No new messages on \"pop.example.net\""),
           Rec(1, "Shop", ltSingleTaskBegin, "Begin", "Begin"),
           Rec(1, "Shop", ltStopManually, "Stop", "Stopped by manual"),
           Rec(1, "Shop", ltSingleTaskFailed, "Connect Error", "Can not connect the mail host"),
           Rec(1, "Shop", ltAllTaskFinished, "0", "0 new payment(s) received")});
  EXPECT_TRUE(book.FailedAccounts().empty());
  EXPECT_EQ(book.Find("Outlet")->Time, 2000);
  EXPECT_EQ(book.Find("Shop")->Time, 1000);
  EXPECT_EQ(book.Find("Shop")->NewPayments, 2);

  // A stop in one run does not reach into the next.
  FeedRun(feed, 3000,
          {Rec(1, "Shop", ltSingleTaskBegin, "Begin", "Begin"),
           Rec(1, "Shop", ltSingleTaskFailed, "Login Failed", "Login failed of account \"Shop\"!")});
  EXPECT_EQ(book.FailedAccounts(), std::vector<std::string>{"Shop"});
}

TEST(AccountState, NamesAreKeptAsTheRecordsCutThem) {
  TAccountStateBook book;
  TAccountStateFeed feed(book);
  const std::string longName(40, 'n');
  feed.Feed(Rec(0, longName, ltSingleTaskBegin, "Begin", ""), 1);
  feed.Feed(Rec(0, longName, ltSingleTaskFailed, "Connect Error", "x"), 1);
  ASSERT_NE(book.Find(longName), nullptr);
  EXPECT_TRUE(book.Find(longName)->Failed);
  book.Retain({"other"});
  EXPECT_EQ(book.Find(longName), nullptr);
}

TEST(AccountState, FileKeepsTheStatesForTheOwnerOnlyAndDamageLosesOnlyThem) {
  test::TTempDir dir;
  const fs::path file = dir.Path() / "sub" / "AccountState.json";
  TAccountStateBook book;
  TAccountState failed;
  failed.Time = 1765400000;
  failed.Failed = true;
  failed.Caption = "Login Failed";
  failed.Text = "Error: -ERR <b>denied</b> \xc3\xa9";
  book.Set("Shop \"one\"", failed);
  TAccountState ok;
  ok.Time = 1765400100;
  ok.NewPayments = 3;
  book.Set("Outlet", ok);
  ASSERT_TRUE(book.Save(file.string()));
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

  TAccountStateBook back;
  ASSERT_TRUE(back.Load(file.string()));
  ASSERT_NE(back.Find("Shop \"one\""), nullptr);
  EXPECT_TRUE(back.Find("Shop \"one\"")->Failed);
  EXPECT_EQ(back.Find("Shop \"one\"")->Text, failed.Text);
  EXPECT_EQ(back.Find("Shop \"one\"")->Time, failed.Time);
  EXPECT_EQ(back.Find("Outlet")->NewPayments, 3);
  EXPECT_EQ(back.FailedAccounts(), std::vector<std::string>{"Shop \"one\""});

  std::ofstream(file, std::ios::trunc) << "{\"accounts\": [ {\"account\": ";
  EXPECT_FALSE(back.Load(file.string()));
  EXPECT_TRUE(back.Empty());
  EXPECT_TRUE(back.Load((dir.Path() / "missing.json").string()));
  EXPECT_TRUE(back.Empty());
}

TEST(AccountState, SummariesSayWhatHappened) {
  TAccountState failed;
  failed.Time = 1765400000;
  failed.Failed = true;
  failed.Caption = "Connect Error";
  failed.Text = "Can not connect the mail host \"pop.example.com\".";
  EXPECT_EQ(StateSummary(nullptr), "Not checked yet");
  EXPECT_EQ(StateSummary(&failed).rfind("Failed ", 0), 0u);
  EXPECT_NE(StateSummary(&failed).find(": Connect Error"), std::string::npos);
  EXPECT_EQ(StateDetails(&failed), StateSummary(&failed) + "\n" + failed.Text);
  TAccountState ok;
  ok.NewPayments = 4;
  EXPECT_NE(StateSummary(&ok).find(": 4 new payment(s)"), std::string::npos);
}

}  // namespace
}  // namespace qnb
