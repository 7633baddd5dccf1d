#pragma once
// The mail-check worker: one thread that checks the queued accounts one after
// another and reports every step to its owner as a status record plus a posted
// message. New orders reach the owner through the shared order list.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "analysis/MsgType.h"
#include "analysis/OMAnalyze.h"
#include "analysis/TextUtil.h"
#include "mailcheck/MailSource.h"
#include "mailcheck/OldUIDs.h"
#include "mailcheck/OrderList.h"
#include "mailcheck/OrderStoreHook.h"
#include "mailcheck/Pop3Session.h"
#include "settings/QnbBase.h"
#include "settings/ThreadList.h"

namespace qnb {

// Messages posted to the owner; the worker never waits for them.
inline constexpr uint32_t WM_USER = 0x400;
inline constexpr uint32_t WM_ORDWATCH_LOGNOTIFY = WM_USER + 1;  // wParam: TLogType, lParam: task ID
inline constexpr uint32_t WM_ORDWATCH_PROGRESS = WM_USER + 2;   // wParam: TReceiveMailState
inline constexpr uint32_t WM_ORDWATCH_NEWORDER = WM_USER + 3;   // never posted
inline constexpr uint32_t WM_MAILLIST_DONE = WM_USER + 4;       // never posted
inline constexpr uint32_t WM_UPDATEVIEW = WM_USER + 5;          // never posted
inline constexpr uint32_t WM_EXPORT_DONE = WM_USER + 6;         // never posted
inline constexpr uint32_t WM_ADD_ORDER = WM_USER + 10;          // wParam 0, lParam 0

// Receiver of the posted messages: the GUI posts events to its main window,
// the CLI queues them for its main thread. Post must not block for long.
class TMessageTarget {
 public:
  virtual ~TMessageTarget() = default;
  virtual void Post(uint32_t message, intptr_t wParam, intptr_t lParam) = 0;
};

enum TTaskState : uint8_t { tsUnProcess, tsProcessing, tsProcessFailed, tsProcessSuccessed };

// One account to check. Host name, user name and password keep 255
// characters so that long generated values are never cut.
struct TTaskData {
  int32_t ID = 0;
  TShortText<30> Account;
  TShortText<255> Server;
  TShortText<5> Port;
  TShortText<255> Username;
  TShortText<255> Password;
  bool SecureLogin = false;
  bool LeaveCopyOnServer = false;
  bool SaveOrderMail = false;
  TTaskState State = tsUnProcess;
  TSecurity Security = secNone;  // the account's
  TProtocol Protocol = protoPop3;
  TShortText<255> Folder;  // IMAP: the folder watched; empty means "INBOX"
};
using PTaskData = TTaskData*;

// The task for one configured account; id is its index in the account list.
TTaskData TaskOfAccount(const TMailAccount& a, int32_t id);

enum TLogType : uint8_t {
  ltReady, ltConnecting, ltConnected, ltChecking, ltChecked, ltDeleting, ltDeleted, ltReceiving, ltReceived,
  ltProcessing, ltQuit, ltSingleTaskBegin, ltSingleTaskFinished, ltSingleTaskFailed, ltAllTaskFinished,
  ltSocketError, ltHeaderError, ltSizeError, ltReceiveError, ltDeleteError, ltProductUnknown, ltDllLoadError,
  ltDllInvalid, ltAddUserError, ltStopManually, ltAdvanceError
};

// The name of a status code ("ltConnecting"), for logs and the CLI.
const char* LogTypeName(TLogType t);

// One status report; copies of the task's texts, cut for display.
struct TLogRec {
  int32_t TaskID = 0;
  TLogType LogCode = ltReady;
  TShortText<30> Account;
  TShortText<50> Server;
  TShortText<5> Port;
  TShortText<200> LogMessage;
  TShortText<50> Reserved;  // the caption; for ltAllTaskFinished the run's order count
  // On ltSingleTaskFinished: why the message loop was left early (a lost
  // connection), which has no record of its own; empty when it ran through.
  std::string Trouble;
};
using PLogRec = TLogRec*;

enum TReceiveMailState : uint8_t { rmsBegin, rmsWork, rmsEnd };

using TTaskList = TThreadList<TTaskData>;
using TLogList = TThreadList<TLogRec>;

// The process-wide status queue: nullptr until the start-up creates it.
extern TLogList* FLogs;

// Results of DealOrder.
inline constexpr int R_ERROR = -1;
inline constexpr int R_NEW_ORDER = 1;
inline constexpr int R_PLUGIN_FAILED = 2;  // the analyzer helper crashed or hung

class TGetMailThd {
 public:
  // Nothing runs until Start(). logs and uids default to the process-wide
  // objects; the analyzer host is the caller's and must outlive the worker.
  TGetMailThd(TMessageTarget* owner, TTaskList& taskList, TOrderList& orderList, TParseGear& parseGear,
              TLogList* logs = FLogs, TUidlList* uids = OldUIDs);
  // Joins the thread; the owner calls Stop() first when a run must end early.
  ~TGetMailThd();
  TGetMailThd(const TGetMailThd&) = delete;
  TGetMailThd& operator=(const TGetMailThd&) = delete;

  void Start();
  // GUI thread: ends the run early. Never throws.
  void Stop();
  // Waits for the thread body to return.
  void WaitFor();
  bool Terminated() const { return FTerminated.load(); }
  // True once the thread body has returned.
  bool Finished() const { return FFinished.load(); }

  // Public for the owner and for tests.
  std::atomic<int32_t> TotalOrder{0};
  // Time-outs of the POP3 session, shortened by tests.
  int ConnectTimeoutMs = TPop3Session::kConnectTimeoutMs;
  int ReadTimeoutMs = TPop3Session::kReadTimeoutMs;
  int AnswerTimeoutMs = TPop3Session::kAnswerTimeoutMs;
  // A PEM file of CAs trusted besides the system's for TLS accounts (set by
  // the CLI for private servers and tests); empty in the GUI. Set before Start.
  std::string CAFile;
  // Where the server announces PIPELINING, the message loop keeps up to
  // PipelineWindow requests in flight, as long as the commands in flight and
  // the answers read ahead but not yet used stay under PipelineBytes. 0 sends
  // one command at a time and no CAPA, as for a server without pipelining.
  // Set before Start.
  static constexpr int kDefaultPipelineWindow = 1024;
  static constexpr size_t kDefaultPipelineBytes = size_t(4) << 20;
  int PipelineWindow = kDefaultPipelineWindow;
  size_t PipelineBytes = kDefaultPipelineBytes;
  // Told of every new order before it joins the list, of orders pruned from
  // the list and of each account's new memory; nullptr keeps nothing. The
  // store must outlive the worker. Set before Start.
  TOrderStoreHook* Store = nullptr;

 private:
  void Execute();
  bool GetNewTask();
  void StatusChangeNotify(TLogType aLogType, const std::string& reserved, const std::string& statusText,
                          const std::string& trouble = {});
  void SyncOrderList(const TStrings& UIDs);
  // A claimed mail taken ahead of its turn, and the ticket of its parse
  // (0: not sent); no msg when it could not be read.
  struct TAheadMail {
    std::unique_ptr<TMsgType> msg;
    int32_t from = -1;
    uint64_t ticket = 0;
  };
  // One account check, in steps. Each step reports what it did; false (or
  // stLeave) leaves the check, whose last step always runs.
  struct TAccountCheck {
    const TTaskData& task;
    TMailSource& source;
    const std::string server;
    int msgCount = 0;
    int orderCount = 0;
    TStrings uidsOnServer;           // the listing, "NUMBER UID" lines
    TStrings uid4Saving;             // the UIDs handled, for the memory
    bool needUpdateUID = false;      // the loop ran through all messages
    std::vector<char> retrieved;     // per message: handled before
    int unReceivedSeen = 0;          // progress: messages not handled before, so far
    std::function<void()> refill;    // tops up the header requests in flight
    bool epochChanged = false;       // the UIDs remembered belong to an earlier epoch
    bool accountFailed = false;      // by a failure a step reported itself
    std::string trouble;             // the loop was left early: why
    std::unordered_map<int, int32_t> claims;  // per message read ahead: the plug-in that claims it
    std::map<int, TAheadMail> ahead;          // per message: its mail, taken and sent to be parsed ahead
  };
  enum TStep { stNext, stLeave };
  void GetOrderMail(const TTaskData& t);
  std::unique_ptr<TMailSource> MakeSource(const TTaskData& t) const;
  void CheckAccount(TAccountCheck& c);
  bool ConnectStep(TAccountCheck& c);
  void LoginFailed(TAccountCheck& c, const char* said);
  bool CountStep(TAccountCheck& c);
  bool ListStep(TAccountCheck& c);
  void MessageLoop(TAccountCheck& c);
  TStep MessageStep(TAccountCheck& c, class TRequestPipe& pipe, int n);
  void ProcessStep(TAccountCheck& c, class TRequestPipe& pipe, int n, TMailLines& mail, const std::string& uid,
                   TAheadMail* ready);
  void ParseAhead(TAccountCheck& c, class TRequestPipe& pipe, int n);
  void ClaimAhead(TAccountCheck& c, class TRequestPipe& pipe, int n);
  void TooLarge(TAccountCheck& c, int n, const char* what, bool whole);
  void PluginFailure(TAccountCheck& c, int n);
  void AnswerFailed(TAccountCheck& c, int n, const struct EAnswerBound& e);
  // A read or write failed mid-loop: the connection is closed and the loop left.
  TStep ConnectionLost(TAccountCheck& c, int n, const std::exception& e);
  void FinishStep(TAccountCheck& c);
  int DealOrder(TMsgType& AMsg, uint64_t ticket);
  bool IsDuplicatedOrder(const TOrderData& aOD);
  // True when the memory of the current account holds UIDs of another epoch
  // than the source's (a changed UIDVALIDITY).
  bool EpochChanged(const std::string& epoch) const;
  bool IsMailRetrieved(const std::string& mUid) const;
  void Post(uint32_t message, intptr_t wParam, intptr_t lParam);
  // Closes the session, ignoring a failure to send QUIT: the connection is
  // closed in any case.
  void DisconnectQuietly();

  TMessageTarget* FOwner;
  TTaskList& FTaskList;
  TOrderList& FOrderList;
  TParseGear& FParseGear;
  TLogList* FLogList;
  TUidlList* FUidList;
  TMailSourceSlot FSource;
  TTaskData FCurTask;  // written by the worker before each account, read by Stop's report
  std::mutex FCurTaskMutex;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  // Keeps Stop's report before the run's last one: once ltAllTaskFinished is
  // queued, a late Stop does nothing.
  std::mutex FEndMutex;
  bool FRunEnded = false;
  // During a check whose UIDs started over, an order already in the list
  // takes the new UID of its mail instead of being announced again.
  bool FRelabelDuplicates = false;
  // An account's check read a mail of kBigMailBytes or more (worker thread).
  static constexpr size_t kBigMailBytes = size_t(8) << 20;
  bool FBigMailRead = false;
  std::thread FThread;
};

}  // namespace qnb
