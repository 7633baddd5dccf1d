#pragma once
// The order history: every order that ever joined the order list, with its
// account, its mail's UID, when it was seen and whether its mail is still on
// the server; the handled-message memory per account; and the compressed
// source of each claimed mail. One SQLite file in WAL mode, shared by the
// window and any number of quenbell-cli processes.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <string>
#include <unordered_map>
#include <vector>

#include "analysis/OMAnalyze.h"
#include "mailcheck/OldUIDs.h"
#include "mailcheck/OrderMailUtils.h"
#include "mailcheck/OrderStoreHook.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qnb {

struct THistoryRecord {
  int64_t Id = 0;
  TOrderData Order;
  TDateTime SeenAt = 0;
  bool OnServer = false;
};

struct THistoryQuery {
  std::string Account;         // empty: every account
  TDateTime From = 0, To = 0;  // PurchaseDate in [From, To); 0 leaves that end open
  // Part of the buyer's name, the e-mail, the product or the order ID; ASCII
  // letter case does not count.
  std::string Search;
  bool OnServerOnly = false;
};

// Local time now, as a date-time.
TDateTime NowDateTime();

class TOrderHistory final : public TOrderStoreHook {
 public:
  static constexpr int kSchemaVersion = 1;

  // $XDG_DATA_HOME/Varnett/Qnb/history.sqlite (XDG_DATA_HOME defaults to
  // ~/.local/share).
  static std::string DefaultPath();

  // Nothing is touched before Open.
  explicit TOrderHistory(std::string path = DefaultPath());
  ~TOrderHistory() override;
  TOrderHistory(const TOrderHistory&) = delete;
  TOrderHistory& operator=(const TOrderHistory&) = delete;

  // Opens the history, creating the folder (0700) and the file (0600) when
  // needed. A file that is damaged, truncated, no SQLite database or of a
  // newer schema is moved aside with a time stamp in its name and a new
  // history is started. False when no history can be kept (the folder or
  // the file cannot be written): the caller goes on with the memory only.
  // Each problem reaches OnProblem once.
  bool Open();
  // Open, then Restore; the damage check of a stored file runs beside the
  // reading of its orders. The start of the window, with 100,000 orders to
  // read, waits for one of the two only.
  bool OpenAndRestore(TOrderList& list, TUidlList& memory);
  bool IsOpen() const;
  const std::string& Path() const { return FPath; }
  // Where the last damaged file went; empty when none was moved.
  const std::string& MovedAsidePath() const { return FMovedAside; }

  // Set before Open. Called on the thread that met the problem, at most once
  // per kind of problem; the text is for the user.
  std::function<void(const std::string&)> OnProblem;
  // The clock of SeenAt (tests set their own).
  std::function<TDateTime()> Now = NowDateTime;

  // Appends the orders that were on the order list when the last process
  // stopped, in list order, and sets the memory of every stored account.
  void Restore(TOrderList& list, TUidlList& memory);
  // By PurchaseDate, then SeenAt.
  std::vector<THistoryRecord> Query(const THistoryQuery& q);
  int64_t Count();
  // The stored source of an order's mail; false when there is none.
  bool MailSource(int64_t id, TStrings& lines);
  // Replaces the fields of a stored order (its key fields stay).
  bool UpdateOrder(int64_t id, const TOrderData& order);
  // The stored order of the same account, UID and order ID; 0 when none.
  int64_t FindId(const TOrderData& order);
  // Runs the analyzers again over the stored mail of an order (after a rule
  // changed) and stores what they say now; account, UID and order ID stay,
  // as they are the order's key. False, with why, when there is no stored
  // mail or no analyzer claims or parses it any more.
  bool AnalyseAgain(int64_t id, TParseGear& gear, TOrderData& result, std::string& why);

  // TOrderStoreHook: the worker thread. Each call hands the write to the
  // history's own writer thread and returns at once, so that the check does
  // not wait for the disk; whoever announces an order calls Flush first.
  using TOrderStoreHook::OrderFound;
  void OrderFound(const TOrderData& order, TLineSpan mailSource) override;
  void OrdersLeftList(const std::vector<TOrderData>& orders) override;
  void MemoryUpdated(const std::string& account, const TStrings& uids) override;
  // Returns once every write handed over before the call is in the file (or
  // given up because the file cannot be written). Reads flush first. Writes
  // nobody waits for are gathered for up to 20 ms and then stored together.
  void Flush();

 private:
  enum TOpenResult { orOk, orDamaged, orUnwritable };
  bool OpenFile(TOrderList* list, TUidlList* memory);
  // With deferred, the damage checks of a stored file of this schema are
  // left to the caller and named there.
  TOpenResult TryOpen(std::string& why, std::vector<std::string>* deferred = nullptr);
  bool MoveAside(const std::string& why);
  void Close();
  // Reports a failed write once and goes on without the file.
  void WriteFailed(const std::string& what);
  void Report(const std::string& text);

  // A statement prepared once per connection, for the writes of every order.
  sqlite3_stmt* Cached(const std::string& sql);

  struct TJob {
    enum TKind { jkOrder, jkLeft, jkMemory } Kind = jkOrder;
    TOrderData Order;
    TStrings Lines;    // the memory's UIDs
    std::string Mail;  // the mail's lines joined with LF, as stored
    TDateTime SeenAt = 0;
    std::vector<TOrderData> Left;
    std::string Account;
  };
  void Enqueue(TJob job);
  void StartWriter();
  // Writes what is queued, then ends the writer thread.
  void StopWriter();
  void WriterLoop();
  // Inside the writer's transaction.
  void WriteOrder(const TOrderData& order, const std::string& text, TDateTime seenAt);
  void WriteLeft(const std::vector<TOrderData>& orders);
  void WriteMemory(const std::string& account, const TStrings& uids);
  bool ReadMailSource(int64_t id, TStrings& lines);

  std::string FPath;
  std::string FMovedAside;
  sqlite3* FDb = nullptr;
  std::unordered_map<std::string, sqlite3_stmt*> FStatements;
  std::recursive_mutex FMutex;  // the connection
  std::atomic<bool> FOpen{false};
  bool FWriteFailReported = false;

  std::mutex FQueueMutex;  // the queue and the counters
  std::condition_variable FQueueCv, FDoneCv;
  std::deque<TJob> FQueue;
  uint64_t FEnqueued = 0, FDone = 0;
  int FFlushWaiters = 0;
  bool FStopping = false;
  std::thread FWriter;
};

}  // namespace qnb
