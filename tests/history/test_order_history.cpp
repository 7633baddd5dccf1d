// The history file on disk: what it keeps across opens, what it does with
// files it cannot read or write, and two writers at once.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "history/OrderFields.h"
#include "history/OrderHistory.h"
#include "support/TempDir.h"

namespace qnb::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

TOrderData MakeOrder(const std::string& account, const std::string& uid, const std::string& id, TDateTime date,
                     TCurrency amount = 499000, const std::string& currency = "EUR") {
  TOrderData o;
  o.FromAccount = account;
  o.UID = uid;
  o.OrderID = id;
  o.PurchaseDate = date;
  o.Amount = amount;
  o.Currency = currency;
  o.Name = "Jane Example";
  o.Email = "jane@example.com";
  o.Product_Name = "Widget Pro";
  o.Quantity = 1;
  return o;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::vector<std::string> Ids(const std::vector<THistoryRecord>& rs) {
  std::vector<std::string> ids;
  for (const auto& r : rs) ids.push_back(r.Order.OrderID.str());
  return ids;
}

class History : public ::testing::Test {
 protected:
  fs::path File() const { return dir.Path() / "Varnett" / "Qnb" / "history.sqlite"; }
  std::unique_ptr<TOrderHistory> OpenHistory() {
    auto h = std::make_unique<TOrderHistory>(File().string());
    h->OnProblem = [this](const std::string& m) { problems.push_back(m); };
    double clock = 46000.5;
    h->Now = [clock]() mutable { return clock += 0.001; };
    return h;
  }
  TTempDir dir;
  std::vector<std::string> problems;
};

TEST_F(History, KeepsOrdersListAndMemoryAcrossOpensWithEveryField) {
  TOrderData full = MakeOrder("Shop", "uid-1", "A-1", 46001.25);
  // Every field its own value, so that a column mixed up shows.
  int n = 0;
  for (const auto& f : OrderFields()) {
    ++n;
    if (f.Kind == TOrderField::Text) f.SetText(full, std::string(f.Name) + "-" + std::to_string(n) + "\xe9");
    else if (f.Kind == TOrderField::Date) f.SetDate(full, 46001.25);
    else f.SetInt(full, 1000 + n);
  }
  const TStrings source = {"From: PayNimbus <service@paynimbus.example>", "Subject: Payment", "", "body \r", ""};
  {
    auto h = OpenHistory();
    ASSERT_TRUE(h->Open());
    h->OrderFound(full, source);
    h->OrderFound(MakeOrder("Shop", "uid-2", "A-2", 46000), {"x"});
    h->OrderFound(MakeOrder("Other", "uid-9", "B-1", 46002), {"y"});
    h->OrdersLeftList({MakeOrder("Shop", "uid-2", "A-2", 46000)});
    h->MemoryUpdated("Shop", {"uid-1", "uid-2", "uid-3"});
    h->MemoryUpdated("Other", {});
  }
  // The window opens and restores in one call, the check beside the reading.
  for (bool together : {false, true}) {
    SCOPED_TRACE(together ? "OpenAndRestore" : "Open, Restore");
    auto h = OpenHistory();
    TOrderList list;
    TUidlList memory;
    if (together) {
      ASSERT_TRUE(h->OpenAndRestore(list, memory));
    } else {
      ASSERT_TRUE(h->Open());
      h->Restore(list, memory);
    }
    {
      auto orders = list.Lock();
      ASSERT_EQ(orders->size(), 2u);
      for (const auto& f : OrderFields()) {
        if (f.Kind == TOrderField::Text) EXPECT_EQ(f.GetText(*(*orders)[0]), f.GetText(full)) << f.Name;
        else if (f.Kind == TOrderField::Date) EXPECT_EQ(f.GetDate(*(*orders)[0]), f.GetDate(full)) << f.Name;
        else EXPECT_EQ(f.GetInt(*(*orders)[0]), f.GetInt(full)) << f.Name;
      }
      EXPECT_EQ((*orders)[1]->OrderID.str(), "B-1");
    }
    ASSERT_NE(memory.Find("Shop"), nullptr);
    EXPECT_THAT(memory.Find("Shop")->Uids(), ElementsAre("uid-1", "uid-2", "uid-3"));
    ASSERT_NE(memory.Find("Other"), nullptr);
    EXPECT_TRUE(memory.Find("Other")->Uids().empty());

    const auto all = h->Query({});
    // By purchase date: A-2 (46000), the full one (46001.25), B-1 (46002).
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].Order.OrderID.str(), "A-2");
    EXPECT_FALSE(all[0].OnServer);
    EXPECT_TRUE(all[1].OnServer);
    EXPECT_GT(all[1].SeenAt, 46000.5);
    TStrings back;
    ASSERT_TRUE(h->MailSource(all[1].Id, back));
    EXPECT_EQ(back, source);
    EXPECT_TRUE(problems.empty());
  }
}

// Sources of every size, and text that does not compress, come back the same.
TEST_F(History, MailSourcesOfEverySizeComeBackWhole) {
  auto h = OpenHistory();
  ASSERT_TRUE(h->Open());
  uint32_t seed = 12345;
  auto noise = [&](size_t n) {
    std::string line;
    for (size_t i = 0; i < n; ++i) {
      seed = seed * 1103515245u + 12345u;
      line += static_cast<char>(33 + (seed >> 16) % 94);
    }
    return line;
  };
  const std::vector<TStrings> sources = {
      {""},
      {"x"},
      {std::string(510, 'a')},
      {std::string(513, 'a'), "b"},
      {"Subject: Payment", "", noise(5000)},
      TStrings(2000, "Amount: 49.90 EUR for an order of many lines"),
      {noise(40000), noise(40000)},
      {noise(300000)},
  };
  for (size_t i = 0; i < sources.size(); ++i)
    h->OrderFound(MakeOrder("Shop", "uid-" + std::to_string(i), "Z-" + std::to_string(i), 46000 + i), sources[i]);
  const auto all = h->Query({});
  ASSERT_EQ(all.size(), sources.size());
  for (size_t i = 0; i < sources.size(); ++i) {
    TStrings back;
    ASSERT_TRUE(h->MailSource(all[i].Id, back)) << i;
    EXPECT_EQ(back, sources[i]) << i;
  }
  EXPECT_TRUE(problems.empty());
}

// Stored mails as earlier builds compressed them (zlib streams with a window
// of 2^9 and of 2^15 bytes) read back; a damaged stream, a wrong size or an
// absurd one give no source and no crash.
TEST_F(History, StoredMailsOfEarlierBuildsReadBackAndDamagedOnesAreRefused) {
  using namespace std::string_literals;
  const std::string text =
      "Subject: Your order\nFrom: PayNimbus <notify@paynimbus.example>\n\nOrder PN-7 paid: 49.90 EUR\n"
      "Order PN-7 paid: 49.90 EUR\n";
  const std::string tail =
      "\x0b\x2e\x4d\xca\x4a\x4d\x2e\xb1\x52\x88\xcc\x2f\x2d\x52\xc8\x2f\x4a\x49\x2d\xe2\x72\x2b\xca\xcf\xb5"
      "\x52\x08\x48\xac\xf4\xcb\xcc\x4d\x2a\x2d\x56\xb0\xc9\xcb\x2f\xc9\x4c\xab\x74\x28\x48\xac\xcc\x03\x8b"
      "\xe8\xa5\x56\x24\xe6\x16\xe4\xa4\xda\x71\x71\xf9\x83\x74\x28\x04\xf8\xe9\x9a\x2b\x14\x24\x66\xa6\x58"
      "\x29\x98\x58\xea\x59\x1a\x28\xb8\x86\x06\xe1\x93\x02\x00\x7d\xd2\x25\xbf"s;  // NUL inside
  std::string damaged = "\x78\x9c" + tail;
  damaged[20] ^= 0x55;
  const struct {
    const char* what;
    std::string blob;
    int64_t size;
    bool readable;
  } cases[] = {
      {"window 2^9", "\x18\x95" + tail, int64_t(text.size()), true},
      {"window 2^15", "\x78\x9c" + tail, int64_t(text.size()), true},
      {"damaged stream", damaged, int64_t(text.size()), false},
      {"size too small", "\x78\x9c" + tail, int64_t(text.size()) - 1, false},
      {"size too large", "\x78\x9c" + tail, int64_t(text.size()) + 1, false},
      {"absurd size", "\x78\x9c" + tail, int64_t(1) << 50, false},
      {"negative size", "\x78\x9c" + tail, -1, false},
  };
  auto h = OpenHistory();
  ASSERT_TRUE(h->Open());
  h->OrderFound(MakeOrder("Shop", "u1", "A-1", 46000), {"placeholder"});
  const int64_t id = h->Query({}).at(0).Id;
  for (const auto& c : cases) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(File().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "UPDATE mails SET size = ?, source = ? WHERE order_id = ?", -1, &st, nullptr),
              SQLITE_OK);
    sqlite3_bind_int64(st, 1, c.size);
    sqlite3_bind_blob(st, 2, c.blob.data(), int(c.blob.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 3, id);
    EXPECT_EQ(sqlite3_step(st), SQLITE_DONE) << c.what;
    sqlite3_finalize(st);
    sqlite3_close(db);
    TStrings back;
    EXPECT_EQ(h->MailSource(id, back), c.readable) << c.what;
    if (c.readable) {
      EXPECT_THAT(back, ElementsAre("Subject: Your order", "From: PayNimbus <notify@paynimbus.example>", "",
                                    "Order PN-7 paid: 49.90 EUR", "Order PN-7 paid: 49.90 EUR", ""))
          << c.what;
    }
  }
  EXPECT_TRUE(problems.empty());
}

TEST_F(History, TheSameOrderFromTwoProcessesIsOneRowBackOnTheList) {
  auto a = OpenHistory(), b = OpenHistory();
  ASSERT_TRUE(a->Open());
  ASSERT_TRUE(b->Open());
  a->OrderFound(MakeOrder("Shop", "u1", "A-1", 46000), {"x"});
  a->OrdersLeftList({MakeOrder("Shop", "u1", "A-1", 46000)});
  a->Flush();
  b->OrderFound(MakeOrder("Shop", "u1", "A-1", 46000), {"x"});
  b->Flush();
  const auto all = a->Query({});
  ASSERT_EQ(all.size(), 1u);
  EXPECT_TRUE(all[0].OnServer);
}

// Writes are gathered into shared transactions until someone waits for them;
// those nobody waits for, a short run or more than one batch, still reach
// the file by themselves.
TEST_F(History, WritesNobodyWaitsForReachTheFileByThemselves) {
  auto a = OpenHistory(), b = OpenHistory();
  ASSERT_TRUE(a->Open());
  ASSERT_TRUE(b->Open());
  for (const int n : {3, 150}) {
    const int64_t start = b->Count();
    for (int i = 0; i < n; ++i) {
      const std::string k = std::to_string(n) + "-" + std::to_string(i);
      a->OrderFound(MakeOrder("Shop", "u" + k, "G-" + k, 46000), {"x"});
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (b->Count() < start + n && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(b->Count(), start + n) << n;
  }
  EXPECT_TRUE(problems.empty());
}

TEST_F(History, QueryFiltersByAccountDatesAndSearch) {
  auto h = OpenHistory();
  ASSERT_TRUE(h->Open());
  TOrderData o1 = MakeOrder("Shop", "u1", "A-100", 46000.2);
  o1.Name = "Jane Example";
  TOrderData o2 = MakeOrder("Shop", "u2", "A-200", 46001.9);
  o2.Email = "max@example.org";
  o2.Name = "Max Mustermann";
  TOrderData o3 = MakeOrder("Other", "u3", "B_1", 46003.0);
  o3.Product_Name = "100% Cotton Shirt";
  o3.Name = "Lee Sample";
  o3.Email = "lee@example.net";
  for (const auto& o : {o1, o2, o3}) h->OrderFound(o, {"x"});

  struct Case {
    const char* what;
    THistoryQuery q;
    std::vector<std::string> ids;
  };
  const Case cases[] = {
      {"all", {}, {"A-100", "A-200", "B_1"}},
      {"account", {"Other", 0, 0, "", false}, {"B_1"}},
      {"from is inclusive", {"", 46001, 0, "", false}, {"A-200", "B_1"}},
      {"to is exclusive", {"", 0, 46003, "", false}, {"A-100", "A-200"}},
      {"buyer, any case", {"", 0, 0, "JANE", false}, {"A-100"}},
      {"e-mail", {"", 0, 0, "example.org", false}, {"A-200"}},
      {"order ID", {"", 0, 0, "a-2", false}, {"A-200"}},
      {"percent is literal", {"", 0, 0, "100%", false}, {"B_1"}},
      {"underscore is literal", {"", 0, 0, "B_", false}, {"B_1"}},
      {"nothing", {"", 0, 0, "zzz", false}, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Ids(h->Query(c.q)), c.ids) << c.what;
}

TEST_F(History, UnreadableFilesAreMovedAsideAndANewHistoryStarts) {
  // The file's bytes with another schema version in its header.
  auto WithVersion = [this](const std::string& bytes, int version) {
    fs::path p = dir.Path() / "version.sqlite";
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
    sqlite3* d = nullptr;
    sqlite3_open(p.c_str(), &d);
    sqlite3_exec(d, ("PRAGMA user_version=" + std::to_string(version)).c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(d);
    return ReadAll(p);
  };
  // A file with content to damage.
  {
    auto h = OpenHistory();
    ASSERT_TRUE(h->Open());
    for (int i = 0; i < 300; ++i)
      h->OrderFound(MakeOrder("Shop", "u" + std::to_string(i), "ID-" + std::to_string(i), 46000 + i),
                    {std::string(300, static_cast<char>('a' + i % 26))});
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(File().c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  const std::string good = ReadAll(File());
  ASSERT_GT(good.size(), 16384u);

  struct Case {
    const char* what;
    std::function<std::string()> content;
  };
  const Case cases[] = {
      {"not SQLite", [] { return std::string("order list\nA-1;49.90\n"); }},
      {"truncated", [&] { return good.substr(0, good.size() / 3); }},
      {"damaged", [&] {
         std::string s = good;
         for (size_t i = 4096; i < s.size(); i += 4096) s.replace(i + 8, 64, std::string(64, '\x5a'));
         return s;
       }},
      {"newer schema", [&] { return WithVersion(good, 99); }},
      // No version this program ever wrote: a damaged header.
      {"negative schema version", [&] { return WithVersion(good, -7); }},
  };
  for (const auto& c : cases) {
    for (bool together : {false, true}) {
      SCOPED_TRACE(together ? "OpenAndRestore" : "Open");
      problems.clear();
      for (const auto& e : fs::directory_iterator(File().parent_path())) fs::remove(e.path());
      const std::string bad = c.content();
      std::ofstream(File(), std::ios::binary) << bad;
      auto h = OpenHistory();
      TOrderList list;
      TUidlList memory;
      ASSERT_TRUE(together ? h->OpenAndRestore(list, memory) : h->Open()) << c.what;
      EXPECT_EQ(list.Count(), 0u) << c.what;
      ASSERT_EQ(problems.size(), 1u) << c.what;
      EXPECT_THAT(problems[0], HasSubstr("It was kept as")) << c.what;
      ASSERT_FALSE(h->MovedAsidePath().empty()) << c.what;
      EXPECT_THAT(h->MovedAsidePath(), HasSubstr("history.sqlite.damaged-")) << c.what;
      EXPECT_EQ(ReadAll(h->MovedAsidePath()), bad) << c.what;
      // The new history works.
      EXPECT_EQ(h->Count(), 0) << c.what;
      h->OrderFound(MakeOrder("Shop", "n1", "NEW-1", 46000), {"x"});
      EXPECT_EQ(h->Count(), 1) << c.what;
      EXPECT_EQ(problems.size(), 1u) << c.what;
    }
  }
}

TEST_F(History, FileAndFolderAreTheUsersAlone) {
  auto h = OpenHistory();
  ASSERT_TRUE(h->Open());
  h->OrderFound(MakeOrder("Shop", "u1", "A-1", 46000), {"x"});
  struct stat st {};
  ASSERT_EQ(::stat(File().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((File().string() + "-wal").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(File().parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(History, AFolderThatCannotBeMadeGivesOneMessageAndNoHistory) {
  // A file where the folder should be: no user can create the folder.
  dir.Write("Varnett", "not a folder");
  auto h = OpenHistory();
  EXPECT_FALSE(h->Open());
  EXPECT_FALSE(h->IsOpen());
  h->OrderFound(MakeOrder("Shop", "u1", "A-1", 46000), {"x"});
  h->MemoryUpdated("Shop", {"u1"});
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_THAT(problems[0], HasSubstr("in memory only"));
  EXPECT_TRUE(h->Query({}).empty());
}

TEST_F(History, AFullDiskGivesOneMessageAndTheRestGoesOnWithoutTheFile) {
  auto h = OpenHistory();
  ASSERT_TRUE(h->Open());
  h->OrderFound(MakeOrder("Shop", "u0", "A-0", 46000), {"x"});
  h->Flush();
  // A file size limit makes every write past it fail, as a full disk does.
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &old);
  rlimit before {};
  getrlimit(RLIMIT_FSIZE, &before);
  rlimit limit = before;
  limit.rlim_cur = static_cast<rlim_t>(fs::file_size(File().string() + "-wal") + 4096);
  setrlimit(RLIMIT_FSIZE, &limit);
  std::string big(200000, 'q');
  for (size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>('a' + (i * 31) % 26);
  for (int i = 1; i <= 5; ++i) h->OrderFound(MakeOrder("Shop", "u" + std::to_string(i), "A-" + std::to_string(i), 46000), {big});
  h->MemoryUpdated("Shop", {"u1"});
  h->Flush();
  setrlimit(RLIMIT_FSIZE, &before);
  sigaction(SIGXFSZ, &old, nullptr);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_THAT(problems[0], HasSubstr("cannot be written"));
  EXPECT_FALSE(h->IsOpen());
  // What was stored before the failure is still there.
  auto again = OpenHistory();
  ASSERT_TRUE(again->Open());
  EXPECT_EQ(Ids(again->Query({})), std::vector<std::string>{"A-0"});
}

TEST_F(History, TwoProcessesWritingAndReadingAtOnceNeverFail) {
  { auto h = OpenHistory(); ASSERT_TRUE(h->Open()); }
  const int kEach = 150;
  const pid_t child = fork();
  if (child == 0) {
    bool failed = false;
    TOrderHistory h(File().string());
    h.OnProblem = [&](const std::string&) { failed = true; };
    if (!h.Open()) _exit(2);
    for (int i = 0; i < kEach; ++i) {
      h.OrderFound(MakeOrder("Child", "c" + std::to_string(i), "C-" + std::to_string(i), 46000), {"c"});
      h.MemoryUpdated("Child", {"c" + std::to_string(i)});
    }
    h.Flush();
    _exit(failed ? 1 : 0);
  }
  auto h = OpenHistory();
  ASSERT_TRUE(h->Open());
  for (int i = 0; i < kEach; ++i) {
    h->OrderFound(MakeOrder("Parent", "p" + std::to_string(i), "P-" + std::to_string(i), 46000), {"p"});
    h->Query({"Child", 0, 0, "", false});
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(problems.empty()) << problems.front();
  EXPECT_EQ(h->Count(), 2 * kEach);
}

}  // namespace
}  // namespace qnb::test
