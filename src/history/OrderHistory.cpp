#include "history/OrderHistory.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <future>
#include <optional>
#include <stdexcept>
#include <thread>

#include "analysis/MsgType.h"
#include "history/OrderFields.h"

namespace qnb {

namespace fs = std::filesystem;

namespace {

// A busy file is waited for this long before a statement gives up: a check in
// another process holds the write lock only for one short transaction.
constexpr int kBusyTimeoutMs = 15000;
// Files up to this size get a full check at opening; larger ones only the
// tables read at start, so that the start stays quick. The mail sources of a
// larger file are checked when they are read.
constexpr int64_t kFullCheckBytes = int64_t(32) << 20;
// The write-ahead log is copied back into the file at the end of an
// account's check, not in the middle of storing an order; only a log grown
// this far (pages of 4 KB) is copied back at once.
constexpr int kWalPagesLimit = 16384;

int OnWalCommit(void*, sqlite3* db, const char*, int pages) {
  if (pages >= kWalPagesLimit) sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  return SQLITE_OK;
}

struct TSqlError : std::runtime_error {
  TSqlError(int code, const std::string& what) : std::runtime_error(what), Code(code) {}
  int Code;
};

bool IsDamage(int code) {
  const int primary = code & 0xff;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

class TStmt {
 public:
  TStmt(sqlite3* db, const std::string& sql) : db_(db) {
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &st_, nullptr);
    if (rc != SQLITE_OK) throw TSqlError(rc, sqlite3_errmsg(db));
  }
  // A statement of the connection's cache: reset, not finalized, at the end.
  TStmt(sqlite3* db, sqlite3_stmt* cached) : db_(db), st_(cached), owned_(false) {}
  ~TStmt() {
    if (owned_) {
      sqlite3_finalize(st_);
    } else {
      sqlite3_reset(st_);
      sqlite3_clear_bindings(st_);
    }
  }
  TStmt(const TStmt&) = delete;
  TStmt& operator=(const TStmt&) = delete;

  void Text(int i, const std::string& v) { Check(sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT)); }
  void Int(int i, int64_t v) { Check(sqlite3_bind_int64(st_, i, v)); }
  void Double(int i, double v) { Check(sqlite3_bind_double(st_, i, v)); }
  void Blob(int i, const std::string& v) { Check(sqlite3_bind_blob(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT)); }

  // True while there is a row.
  bool Step() {
    const int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw TSqlError(sqlite3_extended_errcode(db_), sqlite3_errmsg(db_));
  }
  std::string ColText(int i) const {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(st_, i));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(st_, i))) : std::string();
  }
  // Valid until the next step.
  std::string_view ColView(int i) const {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(st_, i));
    return p ? std::string_view(p, static_cast<size_t>(sqlite3_column_bytes(st_, i))) : std::string_view();
  }
  int64_t ColInt(int i) const { return sqlite3_column_int64(st_, i); }
  // Ready for the next run with new values.
  void Reset() {
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
  }
  double ColDouble(int i) const { return sqlite3_column_double(st_, i); }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) throw TSqlError(rc, sqlite3_errmsg(db_));
  }
  sqlite3* db_;
  sqlite3_stmt* st_ = nullptr;
  bool owned_ = true;
};

void Exec(sqlite3* db, const std::string& sql) {
  char* msg = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg);
  if (rc != SQLITE_OK) {
    std::string text = msg ? msg : sqlite3_errstr(rc);
    sqlite3_free(msg);
    throw TSqlError(sqlite3_extended_errcode(db), text);
  }
}

// A write transaction taken at once, so that a reader never has to upgrade
// its lock (which fails at once in WAL mode instead of waiting).
class TWriteTxn {
 public:
  explicit TWriteTxn(sqlite3* db) : db_(db) { Exec(db, "BEGIN IMMEDIATE"); }
  ~TWriteTxn() {
    if (!done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  void Commit() {
    Exec(db_, "COMMIT");
    done_ = true;
  }

 private:
  sqlite3* db_;
  bool done_ = false;
};

std::string ColumnList() {
  std::string s;
  for (const auto& f : OrderFields()) {
    if (!s.empty()) s += ", ";
    s += f.Name;
  }
  return s;
}

// Step n upgrades a file of schema version n to n + 1.
std::vector<std::string> Migrations() {
  std::string cols;
  for (const auto& f : OrderFields()) {
    cols += std::string(f.Name) + (f.Kind == TOrderField::Text ? " TEXT NOT NULL DEFAULT ''"
                                   : f.Kind == TOrderField::Date ? " REAL NOT NULL DEFAULT 0"
                                                                 : " INTEGER NOT NULL DEFAULT 0");
    cols += ", ";
  }
  return {
      "CREATE TABLE orders(id INTEGER PRIMARY KEY, " + cols +
          "SeenAt REAL NOT NULL, OnServer INTEGER NOT NULL);"
          "CREATE UNIQUE INDEX orders_key ON orders(FromAccount, UID, OrderID);"
          "CREATE INDEX orders_date ON orders(PurchaseDate, SeenAt);"
          "CREATE INDEX orders_listed ON orders(id) WHERE OnServer = 1;"
          "CREATE TABLE mails(order_id INTEGER PRIMARY KEY, size INTEGER NOT NULL, source BLOB NOT NULL);"
          "CREATE TABLE memory(account TEXT PRIMARY KEY, uids TEXT NOT NULL);",
  };
}

void BindOrder(TStmt& st, const TOrderData& o, int first) {
  int i = first;
  for (const auto& f : OrderFields()) {
    switch (f.Kind) {
      case TOrderField::Text: st.Text(i, f.GetText(o)); break;
      case TOrderField::Int:
      case TOrderField::Currency: st.Int(i, f.GetInt(o)); break;
      case TOrderField::Date: st.Double(i, f.GetDate(o)); break;
    }
    ++i;
  }
}

void ReadOrder(const TStmt& st, TOrderData& o, int first) {
  int i = first;
  for (const auto& f : OrderFields()) {
    switch (f.Kind) {
      case TOrderField::Text: f.SetText(o, st.ColView(i)); break;
      case TOrderField::Int:
      case TOrderField::Currency: f.SetInt(o, st.ColInt(i)); break;
      case TOrderField::Date: f.SetDate(o, st.ColDouble(i)); break;
    }
    ++i;
  }
}

// A mail is compressed in one call by a compressor set up once per thread, at
// the fastest level: zlib's streaming state cost as much to set up and finish
// as compressing a payment mail of 1 KB. The output is a plain zlib stream,
// as earlier builds stored it, and those read back the same way.
struct TCompressor {
  libdeflate_compressor* c = libdeflate_alloc_compressor(1);
  ~TCompressor() { libdeflate_free_compressor(c); }
};
struct TDecompressor {
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  ~TDecompressor() { libdeflate_free_decompressor(d); }
};

std::string Compress(const std::string& text) {
  thread_local TCompressor z;
  if (!z.c) throw std::runtime_error("compression failed");
  std::string out(libdeflate_zlib_compress_bound(z.c, text.size()), '\0');
  const size_t n = libdeflate_zlib_compress(z.c, text.data(), text.size(), out.data(), out.size());
  if (n == 0) throw std::runtime_error("compression failed");
  out.resize(n);
  return out;
}

// Twice the largest mail that is fetched; a bigger size is a damaged file's.
constexpr size_t kMaxStoredMail = size_t(128) << 20;

// False for a stream that is damaged or does not give exactly `size` bytes.
bool Uncompress(const std::string& packed, size_t size, std::string& text) {
  if (size > kMaxStoredMail) return false;
  thread_local TDecompressor z;
  if (!z.d) return false;
  text.assign(size, '\0');
  size_t got = 0;
  return libdeflate_zlib_decompress(z.d, packed.data(), packed.size(), text.data(), size, &got) ==
             LIBDEFLATE_SUCCESS &&
         got == size;
}

std::string TimeStamp() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &local);
  return buf;
}

// Creates the missing folders of dir; the last one is the user's alone.
bool MakePrivateDir(const fs::path& dir, std::string& why) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    why = "cannot create the folder \"" + dir.string() + "\": " + ec.message();
    return false;
  }
  if (::chmod(dir.c_str(), 0700) != 0) {
    why = "cannot protect the folder \"" + dir.string() + "\": " + std::strerror(errno);
    return false;
  }
  return true;
}


constexpr const char* kDamaged = "the file is damaged";

// Why a file of this schema version cannot be opened; empty when it can
// (migrated first when older). No version below 0 was ever written: the
// header is damaged, and the version must not index the migrations.
std::string VersionProblem(int version) {
  if (version < 0) return kDamaged;
  if (version > TOrderHistory::kSchemaVersion)
    return "it was written by a newer version of Quenbell (schema " + std::to_string(version) + ")";
  return {};
}

// What tells a damaged file at the start: the whole file while it is small;
// beyond that the orders and the memory, as the mails are read only when
// asked for.
std::vector<std::string> DamageChecks(int64_t size) {
  if (size > kFullCheckBytes) return {"PRAGMA quick_check(orders)", "PRAGMA quick_check(memory)"};
  return {"PRAGMA quick_check"};
}

bool PassesChecks(sqlite3* db, const std::vector<std::string>& checks) {
  for (const auto& sql : checks) {
    TStmt q(db, sql);
    if (!q.Step() || q.ColText(0) != "ok") return false;
  }
  return true;
}

// The memory as stored: per account its UIDs, one per line.
void ReadMemory(sqlite3* db, TUidlList& memory) {
  TStmt st(db, "SELECT account, uids FROM memory");
  while (st.Step()) {
    TStrings uids;
    const std::string_view all = st.ColView(1);
    uids.reserve(static_cast<size_t>(std::count(all.begin(), all.end(), '\n')) + 1);
    for (size_t b = 0; b < all.size();) {
      size_t e = all.find('\n', b);
      if (e == std::string::npos) e = all.size();
      uids.emplace_back(all.substr(b, e - b));
      b = e + 1;
    }
    memory.Obtain(st.ColText(0)).SetUids(std::move(uids));
  }
}

// The orders that were on the list, in list order.
std::vector<std::unique_ptr<TOrderData>> ReadListedOrders(sqlite3* db) {
  std::vector<std::unique_ptr<TOrderData>> orders;
  TStmt count(db, "SELECT count(*) FROM orders WHERE OnServer = 1");
  orders.reserve(count.Step() ? static_cast<size_t>(count.ColInt(0)) : 0);
  TStmt all(db, "SELECT max(id) FROM orders");
  const int64_t stored = all.Step() ? all.ColInt(0) : 0;
  // Most of the history on the list: one pass over the table, in id order
  // as it is stored, is quicker than a look-up per row through the index.
  const bool most = static_cast<int64_t>(orders.capacity()) * 4 > stored;
  TStmt st(db, "SELECT " + ColumnList() + " FROM orders" + (most ? " NOT INDEXED" : "") +
                   " WHERE OnServer = 1 ORDER BY id");
  while (st.Step()) {
    auto o = std::make_unique<TOrderData>();
    ReadOrder(st, *o, 0);
    orders.push_back(std::move(o));
  }
  return orders;
}

void AppendOrders(TOrderList& list, std::vector<std::unique_ptr<TOrderData>>& orders) {
  auto l = list.Lock();
  l->reserve(l->size() + orders.size());
  for (auto& o : orders) l->push_back(std::move(o));
}

}  // namespace

TDateTime NowDateTime() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t secs = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&secs, &local);
  TDateTime day = 0;
  TryEncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, 0, 0, 0, day);
  const double ms = static_cast<double>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  return day + ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec + ms / 1000.0) / 86400.0;
}

std::string TOrderHistory::DefaultPath() {
  std::string base;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x == '/') base = x;
  else if (const char* h = std::getenv("HOME"); h && *h) base = std::string(h) + "/.local/share";
  else base = "/tmp";
  return base + "/Varnett/Qnb/history.sqlite";
}

TOrderHistory::TOrderHistory(std::string path) : FPath(std::move(path)) {}

TOrderHistory::~TOrderHistory() {
  // What was handed over is written before the file is closed.
  StopWriter();
  Close();
}

bool TOrderHistory::IsOpen() const { return FOpen; }

void TOrderHistory::Close() {
  std::lock_guard<std::recursive_mutex> lock(FMutex);
  for (auto& [sql, st] : FStatements) sqlite3_finalize(st);
  FStatements.clear();
  if (FDb) sqlite3_close_v2(FDb);
  FDb = nullptr;
  FOpen = false;
}

sqlite3_stmt* TOrderHistory::Cached(const std::string& sql) {
  auto it = FStatements.find(sql);
  if (it != FStatements.end()) return it->second;
  sqlite3_stmt* st = nullptr;
  const int rc = sqlite3_prepare_v3(FDb, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &st,
                                    nullptr);
  if (rc != SQLITE_OK) throw TSqlError(rc, sqlite3_errmsg(FDb));
  FStatements.emplace(sql, st);
  return st;
}

void TOrderHistory::Report(const std::string& text) {
  if (OnProblem) OnProblem(text);
}

bool TOrderHistory::Open() { return OpenFile(nullptr, nullptr); }

bool TOrderHistory::OpenAndRestore(TOrderList& list, TUidlList& memory) { return OpenFile(&list, &memory); }

bool TOrderHistory::OpenFile(TOrderList* list, TUidlList* memory) {
  StopWriter();
  std::lock_guard<std::recursive_mutex> lock(FMutex);
  Close();
  std::string why;
  std::vector<std::string> checks;
  TOpenResult r = TryOpen(why, list ? &checks : nullptr);
  if (r == orOk && list && !checks.empty()) {
    // The damage check reads the whole table as the restore does: it runs
    // beside it on a connection of its own, and reads the memory there too.
    // Nothing restored is used before the check has passed.
    struct TSide {
      bool ok = false;
      std::optional<TSqlError> error;  // a read that failed, damaged or not
      TUidlList memory;
    };
    auto side = std::async(std::launch::async, [path = FPath, checks] {
      TSide out;
      sqlite3* db = nullptr;
      if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        try {
          out.ok = PassesChecks(db, checks);
          if (out.ok) ReadMemory(db, out.memory);
        } catch (const TSqlError& e) {
          out.ok = false;
          out.error = e;
        }
      }
      sqlite3_close_v2(db);
      return out;
    });
    std::vector<std::unique_ptr<TOrderData>> orders;
    std::optional<TSqlError> error;
    try {
      orders = ReadListedOrders(FDb);
    } catch (const TSqlError& e) {
      error = e;
    }
    TSide checked = side.get();
    if (!error) error = checked.error;
    if (checked.ok && !error) {
      AppendOrders(*list, orders);
      if (memory->Count() == 0) {
        *memory = std::move(checked.memory);
      } else {
        for (size_t i = 0; i < checked.memory.Count(); ++i)
          memory->Obtain(checked.memory[i].Account).SetUids(checked.memory[i].Uids());
      }
      list = nullptr;  // restored
    } else if (error && !IsDamage(error->Code)) {
      // Busy or out of memory: the file is kept as it is, the check goes on
      // from memory, as when a restore fails.
      WriteFailed(error->what());
      return false;
    } else {
      why = kDamaged;
      Close();
      r = orDamaged;
    }
  }
  if (r == orDamaged) {
    if (!MoveAside(why)) return false;
    r = TryOpen(why);
    if (r == orDamaged) r = orUnwritable;  // a new file that fails cannot be helped by moving it again
  }
  if (r != orOk) {
    Close();
    Report("The order history \"" + FPath + "\" cannot be used (" + why +
           "). Payments are kept in memory only until the program ends.");
    return false;
  }
  FOpen = true;
  StartWriter();
  // A small file, checked as it was opened, or a new one.
  if (list) Restore(*list, *memory);
  return true;
}

TOrderHistory::TOpenResult TOrderHistory::TryOpen(std::string& why, std::vector<std::string>* deferred) {
  const fs::path file(FPath);
  if (!MakePrivateDir(file.parent_path(), why)) return orUnwritable;
  // The file is created by us, so that it is the user's alone from the start;
  // SQLite gives its journal files the same mode.
  const int fd = ::open(FPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    why = std::strerror(errno);
    return orUnwritable;
  }
  const bool protectedOk = ::fchmod(fd, 0600) == 0;
  struct stat st {};
  ::fstat(fd, &st);
  ::close(fd);
  if (!protectedOk) {
    why = "cannot protect the file";
    return orUnwritable;
  }
  const bool fresh = st.st_size == 0;

  // Every use of the connection holds FMutex, so SQLite's own lock per call
  // (one per column read) is left out.
  if (sqlite3_open_v2(FPath.c_str(), &FDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    why = FDb ? sqlite3_errmsg(FDb) : "out of memory";
    Close();
    return orUnwritable;
  }
  sqlite3_busy_timeout(FDb, kBusyTimeoutMs);
  sqlite3_extended_result_codes(FDb, 1);
  try {
    int version = 0;
    {
      TStmt v(FDb, "PRAGMA user_version");
      if (v.Step()) version = static_cast<int>(v.ColInt(0));
    }
    if (const std::string problem = VersionProblem(version); !problem.empty()) {
      why = problem;
      Close();
      return orDamaged;
    }
    if (!fresh && version > 0) {
      if (deferred && version == kSchemaVersion) {
        *deferred = DamageChecks(st.st_size);
      } else if (!PassesChecks(FDb, DamageChecks(st.st_size))) {
        why = kDamaged;
        Close();
        return orDamaged;
      }
    }
    {
      TStmt wal(FDb, "PRAGMA journal_mode=WAL");
      if (!wal.Step() || wal.ColText(0) != "wal") throw TSqlError(SQLITE_CANTOPEN, "WAL mode refused");
    }
    // WAL with NORMAL survives a killed process; only a power cut may lose the
    // last commits.
    Exec(FDb, "PRAGMA synchronous=NORMAL");
    sqlite3_wal_hook(FDb, OnWalCommit, nullptr);
    if (version < kSchemaVersion) {
      TWriteTxn txn(FDb);
      // Another process may have upgraded the file meanwhile.
      TStmt v(FDb, "PRAGMA user_version");
      version = v.Step() ? static_cast<int>(v.ColInt(0)) : 0;
      if (const std::string problem = VersionProblem(version); !problem.empty())
        throw TSqlError(SQLITE_CORRUPT, problem);
      const auto steps = Migrations();
      for (int n = version; n < kSchemaVersion; ++n) Exec(FDb, steps[static_cast<size_t>(n)]);
      Exec(FDb, "PRAGMA user_version=" + std::to_string(kSchemaVersion));
      txn.Commit();
    }
  } catch (const TSqlError& e) {
    why = e.what();
    Close();
    return IsDamage(e.Code) ? orDamaged : orUnwritable;
  }
  return orOk;
}

bool TOrderHistory::MoveAside(const std::string& why) {
  std::string aside = FPath + ".damaged-" + TimeStamp();
  for (int n = 2; fs::exists(aside); ++n) aside = FPath + ".damaged-" + TimeStamp() + "-" + std::to_string(n);
  std::error_code ec;
  fs::rename(FPath, aside, ec);
  if (ec) return false;
  // The journal files belong to the moved file; a new file must not take them.
  for (const char* suffix : {"-wal", "-shm"}) {
    std::error_code ignore;
    if (fs::exists(FPath + suffix)) fs::rename(FPath + suffix, aside + suffix, ignore);
  }
  FMovedAside = aside;
  Report("The order history \"" + FPath + "\" could not be read (" + why + "). It was kept as \"" + aside +
         "\" and a new history was started.");
  return true;
}

void TOrderHistory::WriteFailed(const std::string& what) {
  Close();
  if (FWriteFailReported) return;
  FWriteFailReported = true;
  Report("The order history \"" + FPath + "\" cannot be written (" + what +
         "). Payments are kept in memory only until the program ends.");
}

void TOrderHistory::Restore(TOrderList& list, TUidlList& memory) {
  Flush();
  std::lock_guard<std::recursive_mutex> lock(FMutex);
  if (!FDb) return;
  try {
    auto orders = ReadListedOrders(FDb);
    ReadMemory(FDb, memory);
    AppendOrders(list, orders);
  } catch (const TSqlError& e) {
    WriteFailed(e.what());
  }
}

std::vector<THistoryRecord> TOrderHistory::Query(const THistoryQuery& q) {
  Flush();
  std::lock_guard<std::recursive_mutex> lock(FMutex);
  std::vector<THistoryRecord> out;
  if (!FDb) return out;
  std::string sql = "SELECT id, SeenAt, OnServer, " + ColumnList() + " FROM orders WHERE 1";
  if (!q.Account.empty()) sql += " AND FromAccount = ?";
  if (q.From != 0) sql += " AND PurchaseDate >= ?";
  if (q.To != 0) sql += " AND PurchaseDate < ?";
  if (q.OnServerOnly) sql += " AND OnServer = 1";
  if (!q.Search.empty())
    sql += " AND (Name LIKE ? ESCAPE '\\' OR RegName LIKE ? ESCAPE '\\' OR FirstName LIKE ? ESCAPE '\\'"
           " OR LastName LIKE ? ESCAPE '\\' OR Email LIKE ? ESCAPE '\\' OR Product_Name LIKE ? ESCAPE '\\'"
           " OR OrderID LIKE ? ESCAPE '\\')";
  sql += " ORDER BY PurchaseDate, SeenAt, id";
  try {
    TStmt st(FDb, sql);
    int i = 1;
    if (!q.Account.empty()) st.Text(i++, q.Account);
    if (q.From != 0) st.Double(i++, q.From);
    if (q.To != 0) st.Double(i++, q.To);
    if (!q.Search.empty()) {
      std::string pattern = "%";
      for (char c : q.Search) {
        if (c == '%' || c == '_' || c == '\\') pattern += '\\';
        pattern += c;
      }
      pattern += "%";
      for (int k = 0; k < 7; ++k) st.Text(i++, pattern);
    }
    while (st.Step()) {
      THistoryRecord r;
      r.Id = st.ColInt(0);
      r.SeenAt = st.ColDouble(1);
      r.OnServer = st.ColInt(2) != 0;
      ReadOrder(st, r.Order, 3);
      out.push_back(std::move(r));
    }
  } catch (const TSqlError& e) {
    Report("The order history \"" + FPath + "\" could not be read: " + e.what());
  }
  return out;
}

int64_t TOrderHistory::Count() {
  Flush();
  std::lock_guard<std::recursive_mutex> lock(FMutex);
  if (!FDb) return 0;
  try {
    TStmt st(FDb, "SELECT count(*) FROM orders");
    return st.Step() ? st.ColInt(0) : 0;
  } catch (const TSqlError&) {
    return 0;
  }
}

bool TOrderHistory::MailSource(int64_t id, TStrings& lines) {
  Flush();
  return ReadMailSource(id, lines);
}

bool TOrderHistory::ReadMailSource(int64_t id, TStrings& lines) {
  std::lock_guard<std::recursive_mutex> lock(FMutex);
  lines.clear();
  if (!FDb) return false;
  try {
    TStmt st(FDb, "SELECT size, source FROM mails WHERE order_id = ?");
    st.Int(1, id);
    if (!st.Step()) return false;
    std::string text;
    if (!Uncompress(st.ColText(1), static_cast<size_t>(st.ColInt(0)), text)) return false;
    for (size_t b = 0; b <= text.size();) {
      size_t e = text.find('\n', b);
      if (e == std::string::npos) e = text.size();
      lines.push_back(text.substr(b, e - b));
      b = e + 1;
    }
    return true;
  } catch (const TSqlError& e) {
    Report("The order history \"" + FPath + "\" could not be read: " + e.what());
    return false;
  }
}

bool TOrderHistory::UpdateOrder(int64_t id, const TOrderData& order) {
  Flush();
  std::lock_guard<std::recursive_mutex> lock(FMutex);
  if (!FDb) return false;
  std::string set;
  for (const auto& f : OrderFields()) {
    const std::string name = f.Name;
    if (name == "UID" || name == "FromAccount" || name == "OrderID") continue;
    set += (set.empty() ? "" : ", ") + name + " = ?";
  }
  try {
    TStmt st(FDb, "UPDATE orders SET " + set + " WHERE id = ?");
    const TOrderData& o = order;
    int index = 1;
    for (const auto& f : OrderFields()) {
      const std::string name = f.Name;
      if (name == "UID" || name == "FromAccount" || name == "OrderID") continue;
      switch (f.Kind) {
        case TOrderField::Text: st.Text(index, f.GetText(o)); break;
        case TOrderField::Int:
        case TOrderField::Currency: st.Int(index, f.GetInt(o)); break;
        case TOrderField::Date: st.Double(index, f.GetDate(o)); break;
      }
      ++index;
    }
    st.Int(index, id);
    TWriteTxn txn(FDb);
    st.Step();
    txn.Commit();
    return sqlite3_changes(FDb) > 0;
  } catch (const TSqlError& e) {
    WriteFailed(e.what());
    return false;
  }
}

int64_t TOrderHistory::FindId(const TOrderData& order) {
  Flush();
  std::lock_guard<std::recursive_mutex> lock(FMutex);
  if (!FDb) return 0;
  try {
    TStmt st(FDb, "SELECT id FROM orders WHERE FromAccount = ? AND UID = ? AND OrderID = ?");
    st.Text(1, order.FromAccount);
    st.Text(2, order.UID);
    st.Text(3, order.OrderID);
    return st.Step() ? st.ColInt(0) : 0;
  } catch (const TSqlError&) {
    return 0;
  }
}

bool TOrderHistory::AnalyseAgain(int64_t id, TParseGear& gear, TOrderData& result, std::string& why) {
  Flush();
  std::lock_guard<std::recursive_mutex> lock(FMutex);
  TOrderData old;
  {
    if (!FDb) {
      why = "no order history";
      return false;
    }
    try {
      TStmt st(FDb, "SELECT " + ColumnList() + " FROM orders WHERE id = ?");
      st.Int(1, id);
      if (!st.Step()) {
        why = "the order is not stored";
        return false;
      }
      ReadOrder(st, old, 0);
    } catch (const TSqlError& e) {
      why = e.what();
      return false;
    }
  }
  TStrings lines;
  if (!ReadMailSource(id, lines)) {
    why = "its mail is not stored";
    return false;
  }
  TStrings headers;
  for (const auto& l : lines) {
    if (l.empty()) break;
    headers.push_back(l);
  }
  try {
    if (!gear.IsOrderMail(headers)) {
      why = "no analyzer claims the mail";
      return false;
    }
    TMsgType msg;
    msg.Assign(lines);
    msg.SetUID(old.UID);
    TOrderData fresh;
    if (!gear.GetOrderData(msg, &fresh)) {
      why = "no analyzer could parse the mail";
      return false;
    }
    if (Trim(fresh.RegName.str()).empty()) fresh.RegName = fresh.Name.str();
    fresh.UID = old.UID;
    fresh.FromAccount = old.FromAccount;
    fresh.OrderID = old.OrderID;
    if (!UpdateOrder(id, fresh)) {
      why = "the order history cannot be written";
      return false;
    }
    result = fresh;
    return true;
  } catch (const std::exception& e) {
    why = e.what();
    return false;
  }
}

void TOrderHistory::OrderFound(const TOrderData& order, TLineSpan mailSource) {
  TJob job;
  job.Kind = TJob::jkOrder;
  job.Order = order;
  // Joined at once: the mail waits for the writer as one block, not a block
  // per line.
  size_t total = 0;
  for (std::string_view l : mailSource) total += l.size() + 1;
  job.Mail.reserve(total);
  for (size_t i = 0; i < mailSource.size(); ++i) {
    if (i) job.Mail += '\n';
    job.Mail += mailSource[i];
  }
  job.SeenAt = Now();
  Enqueue(std::move(job));
}

void TOrderHistory::OrdersLeftList(const std::vector<TOrderData>& orders) {
  TJob job;
  job.Kind = TJob::jkLeft;
  job.Left = orders;
  Enqueue(std::move(job));
}

void TOrderHistory::MemoryUpdated(const std::string& account, const TStrings& uids) {
  TJob job;
  job.Kind = TJob::jkMemory;
  job.Account = account;
  job.Lines = uids;
  Enqueue(std::move(job));
}

// Jobs share one transaction: each commit costs a lock and log pages of its
// own, more than the rows of an order. Until someone waits for them, jobs
// gather for a while, up to a bounded number; a Flush is served at once.
constexpr size_t kWriteBatch = 64;
constexpr auto kWriteGather = std::chrono::milliseconds(20);

void TOrderHistory::Enqueue(TJob job) {
  if (!FOpen) return;
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(FQueueMutex);
    if (!FWriter.joinable()) return;
    FQueue.push_back(std::move(job));
    ++FEnqueued;
    // A gathering writer is woken only when its batch is full.
    wake = FQueue.size() == 1 || FQueue.size() == kWriteBatch;
  }
  if (wake) FQueueCv.notify_one();
}

void TOrderHistory::Flush() {
  std::unique_lock<std::mutex> lock(FQueueMutex);
  const uint64_t target = FEnqueued;
  if (FDone >= target) return;
  // The writer stops gathering for whoever waits.
  ++FFlushWaiters;
  FQueueCv.notify_one();
  FDoneCv.wait(lock, [&] { return FDone >= target; });
  --FFlushWaiters;
}

void TOrderHistory::StartWriter() {
  std::lock_guard<std::mutex> lock(FQueueMutex);
  FStopping = false;
  FWriter = std::thread([this] { WriterLoop(); });
}

void TOrderHistory::StopWriter() {
  {
    std::lock_guard<std::mutex> lock(FQueueMutex);
    if (!FWriter.joinable()) return;
    FStopping = true;
  }
  FQueueCv.notify_one();
  FWriter.join();
  std::lock_guard<std::mutex> lock(FQueueMutex);
  FWriter = std::thread();
}

void TOrderHistory::WriterLoop() {
  for (;;) {
    std::vector<TJob> batch;
    {
      std::unique_lock<std::mutex> lock(FQueueMutex);
      FQueueCv.wait(lock, [&] { return FStopping || !FQueue.empty(); });
      if (FQueue.empty()) return;
      FQueueCv.wait_until(lock, std::chrono::steady_clock::now() + kWriteGather,
                          [&] { return FStopping || FFlushWaiters > 0 || FQueue.size() >= kWriteBatch; });
      while (!FQueue.empty() && batch.size() < kWriteBatch) {
        batch.push_back(std::move(FQueue.front()));
        FQueue.pop_front();
      }
    }
    {
      std::lock_guard<std::recursive_mutex> lock(FMutex);
      if (FDb) {
        try {
          bool memory = false;
          TWriteTxn txn(FDb);
          for (const TJob& job : batch) {
            if (job.Kind == TJob::jkOrder) WriteOrder(job.Order, job.Mail, job.SeenAt);
            else if (job.Kind == TJob::jkLeft) WriteLeft(job.Left);
            else WriteMemory(job.Account, job.Lines), memory = true;
          }
          txn.Commit();
          // A reader in another process may keep part of the log; the rest
          // goes back into the file now, between two accounts, not while the
          // next orders wait.
          if (memory) sqlite3_wal_checkpoint_v2(FDb, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        } catch (const std::exception& e) {
          WriteFailed(e.what());
        }
      }
    }
    {
      std::lock_guard<std::mutex> lock(FQueueMutex);
      FDone += batch.size();
    }
    FDoneCv.notify_all();
  }
}

void TOrderHistory::WriteOrder(const TOrderData& order, const std::string& text, TDateTime seenAt) {
  const std::string packed = Compress(text);
  const size_t n = OrderFields().size();
  static const std::string insertSql = [n] {
    std::string params;
    for (size_t i = 0; i < n; ++i) params += "?, ";
    return "INSERT INTO orders(" + ColumnList() + ", SeenAt, OnServer) VALUES(" + params +
           "?, 1) ON CONFLICT(FromAccount, UID, OrderID) DO UPDATE SET OnServer = 1 RETURNING id";
  }();
  int64_t id = 0;
  {
    TStmt ins(FDb, Cached(insertSql));
    BindOrder(ins, order, 1);
    ins.Double(static_cast<int>(n) + 1, seenAt);
    if (!ins.Step()) throw TSqlError(SQLITE_ERROR, "no row id");
    id = ins.ColInt(0);
    while (ins.Step()) {
    }
  }
  TStmt mail(FDb, Cached("INSERT OR REPLACE INTO mails(order_id, size, source) VALUES(?, ?, ?)"));
  mail.Int(1, id);
  mail.Int(2, static_cast<int64_t>(text.size()));
  mail.Blob(3, packed);
  mail.Step();
}

void TOrderHistory::WriteLeft(const std::vector<TOrderData>& orders) {
  TStmt st(FDb, Cached("UPDATE orders SET OnServer = 0 WHERE FromAccount = ? AND UID = ? AND OrderID = ?"));
  for (const auto& o : orders) {
    st.Text(1, o.FromAccount);
    st.Text(2, o.UID);
    st.Text(3, o.OrderID);
    st.Step();
    st.Reset();
  }
}

void TOrderHistory::WriteMemory(const std::string& account, const TStrings& uids) {
  std::string all;
  for (size_t i = 0; i < uids.size(); ++i) {
    if (i) all += '\n';
    all += uids[i];
  }
  TStmt st(FDb, Cached("INSERT OR REPLACE INTO memory(account, uids) VALUES(?, ?)"));
  st.Text(1, account);
  st.Text(2, all);
  st.Step();
}

}  // namespace qnb
