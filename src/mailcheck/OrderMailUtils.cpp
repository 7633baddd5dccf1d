#include "mailcheck/OrderMailUtils.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <deque>
#include <stdexcept>
#include <unordered_set>
#include <vector>

#include "analysis/MailMessage.h"
#include "analysis/PluginHostClient.h"
#include "mailcheck/ImapSession.h"
#include "mailcheck/Pop3Source.h"
#include "mailcheck/Socket.h"
#include "settings/TextConv.h"

namespace qnb {

TLogList* FLogs = nullptr;

namespace {

// Headers judged together in one call to the analyzers.
constexpr size_t kClaimBatch = 64;

template <class... A>
std::string Fmt(const char* fmt, A... args) {
  // Status texts are short: one pass into a buffer on the stack.
  char buf[256];
  int n = std::snprintf(buf, sizeof buf, fmt, args...);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof buf) return std::string(buf, static_cast<size_t>(n));
  std::string s(static_cast<size_t>(n), '\0');
  std::snprintf(s.data(), s.size() + 1, fmt, args...);
  return s;
}

// The port text as a number, or 0 when it is not a decimal from 1 to 65535.
int PortNumber(const std::string& text) {
  int32_t v = 0;
  if (text.empty() || text[0] < '0' || text[0] > '9' || !TryStrToInt(text, v) || v < 1 || v > 65535)
    return 0;
  return v;
}

}  // namespace

// The header and whole-message requests of one message loop. Requests are
// queued ahead and go out in batches; answers come back in request order, so
// the answers to requests sent before the one wanted are read and held until
// their message's turn. With a window of 1 every request waits for the
// answer to the one before, exactly as without pipelining, and nothing is
// ever read ahead.
class TRequestPipe {
 public:
  struct TAnswer {
    bool ok = false;
    bool tooLarge = false;  // past the source's bound for its kind; no lines
    TStrings lines;         // a header
    TMailLines mail;        // a whole mail
  };

  TRequestPipe(TMailSource& source, size_t window, size_t maxBytes)
      : source_(source), window_(window < 1 ? 1 : window), maxBytes_(maxBytes) {}

  size_t Window() const { return window_; }
  void Flush() { source_.Flush(); }
  size_t InFlight() const { return inFlight_.size(); }

  // Room for one more read-ahead request; an empty pipe always has room.
  bool HasRoom() const {
    if (inFlight_.empty()) return true;
    return inFlight_.size() < window_ && bytes_ < maxBytes_ && commandBytes_ < kMaxCommandBytes;
  }

  // Room for a whole-message request sent ahead on a guess.
  bool HasRoomForGuess() const { return bytes_ < maxBytes_ && commandBytes_ < kMaxCommandBytes; }

  // True when (whole, n) has been sent and its answer not yet taken. Asked
  // for every message: a set, not a walk through the whole window.
  bool Pending(bool whole, int n) const {
    if (whole) return wholeOut_.count(n) != 0;
    for (const auto& r : inFlight_)
      if (!r.whole && r.n == n) return true;
    for (const auto& h : held_)
      if (!h.whole && h.n == n) return true;
    return false;
  }

  // Calls f(n, lines) once for each header answer read ahead and held (header
  // refused: not at all), in the order they were read.
  template <class F>
  void ForEachNewHeader(F&& f) {
    // The unseen ones are all among the last held: those held since the last
    // call. Only they are visited.
    if (unseen_ == 0) return;
    auto it = held_.end();
    for (size_t left = unseen_; left > 0;) {
      --it;
      if (!it->whole && !it->seen) --left;
    }
    for (; it != held_.end(); ++it) {
      if (it->whole || it->seen) continue;
      it->seen = true;
      if (it->answer.ok) f(it->n, it->answer.lines);
    }
    unseen_ = 0;
  }

  void Send(bool whole, int n) {
    const size_t size = source_.QueueRequest(whole, n);
    if (whole) wholeOut_.insert(n);
    inFlight_.push_back({whole, n, size});
    bytes_ += size;
    commandBytes_ += size;
  }

  // The answer to the request (whole, n) sent earlier. A failure to read it,
  // or one before it, is passed on; the pipe is of no use afterwards.
  TAnswer Take(bool whole, int n) {
    for (auto it = held_.begin(); it != held_.end(); ++it) {
      if (it->whole != whole || it->n != n) continue;
      const bool dropped = it->dropped;
      TAnswer a = std::move(it->answer);
      bytes_ -= it->bytes;
      heldBytes_ -= it->bytes;
      if (!whole && !it->seen) --unseen_;
      held_.erase(it);
      if (!dropped) {
        if (whole) wholeOut_.erase(n);
        return a;
      }
      // Read ahead when the held answers filled their memory: ask again.
      Send(whole, n);
      break;
    }
    source_.Flush();
    for (;;) {
      if (inFlight_.empty()) throw std::logic_error("answer to a request never sent");
      const bool wanted = inFlight_.front().whole == whole && inFlight_.front().n == n;
      THeld h = ReadFront(wanted);
      if (wanted) {
        if (whole) wholeOut_.erase(n);
        return std::move(h.answer);
      }
      Hold(std::move(h));
    }
  }

  // Reads and holds up to `count` answers that come next and have already
  // arrived whole: headers, so that their messages can be judged together,
  // and whole mails, whose parse can then be asked for ahead. It never waits
  // for the server.
  void ReadAheadArrived(size_t count) {
    source_.Flush();
    for (; count > 0 && !inFlight_.empty() && heldBytes_ < kMaxHeldBytes && source_.AnswerArrived(); --count)
      Hold(ReadFront(false));
  }

  // Calls f(n, lines) for each whole mail read ahead and held whole, in the
  // order they were read.
  template <class F>
  void ForEachHeldMail(F&& f) const {
    for (const auto& h : held_)
      if (h.whole && !h.dropped && h.answer.ok && !h.answer.tooLarge) f(h.n, h.answer.mail);
  }

 private:
  struct THeld;
  // Reads the answer to the request in flight first. Answers read ahead
  // share one bounded memory; the wanted one has only the source's bound.
  THeld ReadFront(bool wanted) {
    const TRequest r = inFlight_.front();
    const size_t room = wanted ? SIZE_MAX : (kMaxHeldBytes > heldBytes_ ? kMaxHeldBytes - heldBytes_ : 0);
    THeld h{r.whole, r.n, 0, false, false, {}};
    try {
      h.answer.ok = r.whole ? source_.ReadMailAnswer(r.n, h.answer.mail, room)
                            : source_.ReadAnswer(false, r.n, h.answer.lines, room);
    } catch (const EAnswerTooLarge& e) {
      // Read to its end: the pipe is still in step.
      h.answer = {};
      if (e.Size() > source_.MaxAnswerBytes(r.whole)) h.answer.tooLarge = true;
      else h.dropped = true;
    }
    inFlight_.pop_front();
    bytes_ -= r.commandBytes;
    commandBytes_ -= r.commandBytes;
    return h;
  }
  void Hold(THeld h) {
    h.bytes = h.answer.mail.Bytes();
    for (const auto& l : h.answer.lines) h.bytes += l.size() + 2;
    bytes_ += h.bytes;
    heldBytes_ += h.bytes;
    if (!h.whole) ++unseen_;
    held_.push_back(std::move(h));
  }

  // Commands in flight stay far below what the socket buffers hold, so that
  // writing them never waits for a server that waits for us to read.
  static constexpr size_t kMaxCommandBytes = 32 * 1024;
  // Answers read ahead and held, at most; one past it is read, dropped and
  // asked for again in its turn, so the memory stays bounded whatever the
  // server sends.
  static constexpr size_t kMaxHeldBytes = size_t(16) << 20;

  struct TRequest {
    bool whole;
    int n;
    size_t commandBytes;
  };
  struct THeld {
    bool whole;
    int n;
    size_t bytes;
    bool seen;     // passed to ForEachNewHeader
    bool dropped;  // read but not kept
    TAnswer answer;
  };

  TMailSource& source_;
  size_t window_;
  size_t maxBytes_;
  size_t bytes_ = 0;         // commands in flight and answers held
  size_t heldBytes_ = 0;     // answers held
  size_t commandBytes_ = 0;  // commands in flight
  std::deque<TRequest> inFlight_;
  std::deque<THeld> held_;
  size_t unseen_ = 0;                // held headers not yet passed to ForEachNewHeader
  std::unordered_set<int> wholeOut_;  // whole-message requests sent and not yet taken
};

TTaskData TaskOfAccount(const TMailAccount& a, int32_t id) {
  TTaskData t;
  t.ID = id;
  t.Account = a.Name;
  t.Server = a.Host;
  t.Port = a.Port;
  t.Username = a.UserName;
  t.Password = a.Password;
  t.Security = a.Security;
  t.Protocol = a.Protocol;
  t.Folder = a.Folder;
  t.LeaveCopyOnServer = true;  // never acted upon: mail is only read
  t.State = tsUnProcess;
  return t;
}

const char* LogTypeName(TLogType t) {
  static const char* const kNames[] = {
      "ltReady", "ltConnecting", "ltConnected", "ltChecking", "ltChecked", "ltDeleting", "ltDeleted",
      "ltReceiving", "ltReceived", "ltProcessing", "ltQuit", "ltSingleTaskBegin", "ltSingleTaskFinished",
      "ltSingleTaskFailed", "ltAllTaskFinished", "ltSocketError", "ltHeaderError", "ltSizeError",
      "ltReceiveError", "ltDeleteError", "ltProductUnknown", "ltDllLoadError", "ltDllInvalid", "ltAddUserError",
      "ltStopManually", "ltAdvanceError"};
  return t <= ltAdvanceError ? kNames[t] : "?";
}

TGetMailThd::TGetMailThd(TMessageTarget* owner, TTaskList& taskList, TOrderList& orderList,
                         TParseGear& parseGear, TLogList* logs, TUidlList* uids)
    : FOwner(owner), FTaskList(taskList), FOrderList(orderList), FParseGear(parseGear), FLogList(logs),
      FUidList(uids) {}

TGetMailThd::~TGetMailThd() { WaitFor(); }

void TGetMailThd::Start() {
  if (!FThread.joinable() && !FFinished) FThread = std::thread([this] { Execute(); });
}

void TGetMailThd::WaitFor() {
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

void TGetMailThd::Stop() {
  try {
    {
      std::lock_guard<std::mutex> lock(FEndMutex);
      if (FRunEnded) return;
      StatusChangeNotify(ltStopManually, "Stop", "Stopped by manual");
      FTerminated = true;
    }
    try {
      FSource.Disconnect();
    } catch (...) {
      // QUIT could not be sent; the connection is closed all the same.
    }
    std::this_thread::yield();
  } catch (...) {
  }
}

void TGetMailThd::Post(uint32_t message, intptr_t wParam, intptr_t lParam) {
  if (FOwner) FOwner->Post(message, wParam, lParam);
}

namespace {

// Memory freed after an account's check that read a big mail goes back to
// the system: the mail would otherwise stay in the process's heap, and the
// next big one, taken in one piece from elsewhere, would come on top of it.
void ReturnFreedMemory() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

}  // namespace

void TGetMailThd::Execute() {
  TotalOrder = 0;
  try {
    while (!FTerminated && GetNewTask()) {
      TTaskData t;
      {
        std::lock_guard<std::mutex> lock(FCurTaskMutex);
        t = FCurTask;
      }
      GetOrderMail(t);
      if (FBigMailRead) ReturnFreedMemory();
      FBigMailRead = false;
    }
  } catch (...) {
    // The account's clean-up has run; the run ends here.
  }
  {
    std::lock_guard<std::mutex> lock(FEndMutex);
    const int32_t total = TotalOrder;
    StatusChangeNotify(ltAllTaskFinished, std::to_string(total), Fmt("%d new payment(s) received", total));
    FRunEnded = true;
  }
  FFinished = true;
}

bool TGetMailThd::GetNewTask() {
  auto tasks = FTaskList.Lock();
  for (auto& t : *tasks) {
    if (t->State != tsUnProcess) continue;
    t->State = tsProcessing;
    std::lock_guard<std::mutex> lock(FCurTaskMutex);
    FCurTask = *t;
    return true;
  }
  return false;
}

void TGetMailThd::StatusChangeNotify(TLogType aLogType, const std::string& reserved,
                                     const std::string& statusText, const std::string& trouble) {
  auto rec = std::make_unique<TLogRec>();
  int32_t id;
  {
    std::lock_guard<std::mutex> lock(FCurTaskMutex);
    id = FCurTask.ID;
    rec->TaskID = id;
    rec->Account = FCurTask.Account;
    rec->Server = FCurTask.Server;
    rec->Port = FCurTask.Port;
  }
  rec->LogCode = aLogType;
  rec->LogMessage = statusText;
  rec->Reserved = reserved;
  rec->Trouble = trouble;
  if (FLogList) FLogList->Add(std::move(rec));
  Post(WM_ORDWATCH_LOGNOTIFY, aLogType, id);
}

void TGetMailThd::SyncOrderList(const TStrings& UIDs) {
  std::string all;
  for (size_t i = 0; i < UIDs.size(); ++i) {
    if (i) all += "\r\n";
    all += UIDs[i];
  }
  std::string account;
  {
    std::lock_guard<std::mutex> lock(FCurTaskMutex);
    account = FCurTask.Account;
  }
  std::vector<TOrderData> dropped;
  {
    auto orders = FOrderList.Lock();
    for (auto it = orders->begin(); it != orders->end();) {
      const TOrderData& o = **it;
      // A substring test, as the listing is one text: an empty UID is never found.
      bool keep = o.FromAccount != account || (!o.UID.empty() && all.find(o.UID) != std::string::npos);
      if (!keep && Store) dropped.push_back(o);
      it = keep ? it + 1 : orders->erase(it);
    }
  }
  if (Store && !dropped.empty()) Store->OrdersLeftList(dropped);
}

bool TGetMailThd::IsMailRetrieved(const std::string& mUid) const {
  if (!FUidList) return false;
  return qnb::IsMailRetrieved(*FUidList, FCurTask.Account.str(), mUid);
}

void TGetMailThd::DisconnectQuietly() {
  try {
    if (TMailSource* s = FSource.Get(); s && s->Connected()) s->Disconnect();
  } catch (...) {
  }
}

std::unique_ptr<TMailSource> TGetMailThd::MakeSource(const TTaskData& t) const {
  if (t.Protocol == protoImap) {
    auto imap = std::make_unique<TImapSource>();
    TImapSession& s = imap->Session();
    s.ReadTimeout = ReadTimeoutMs;
    s.Security = t.Security;
    s.CAFile = CAFile;
    s.Host = t.Server.str();
    s.Port = PortNumber(t.Port.str());
    s.UserName = t.Username.str();
    s.Password = t.Password.str();
    imap->Folder = t.Folder.str().empty() ? std::string(kDefaultFolder) : t.Folder.str();
    return imap;
  }
  auto pop3 = std::make_unique<TPop3Source>();
  TPop3Session& s = pop3->Session();
  s.ReadTimeout = ReadTimeoutMs;
  s.AnswerTimeout = AnswerTimeoutMs;
  s.Security = t.Security;
  s.CAFile = CAFile;
  s.AskCapabilities = PipelineWindow > 0;
  s.Host = t.Server.str();
  s.Port = PortNumber(t.Port.str());
  s.UserName = t.Username.str();
  s.Password = t.Password.str();
  return pop3;
}

bool TGetMailThd::ConnectStep(TAccountCheck& c) {
  const std::string& server = c.server;
  StatusChangeNotify(ltConnecting, "Connecting", "Connecting");
  const std::string connectError =
      Fmt("Can not connect the mail host \"%s\". Please check your network status.", server.c_str());
  if (PortNumber(c.task.Port.str()) == 0) {
    // A port that is no number cannot be reached, like a host that is down.
    StatusChangeNotify(ltSingleTaskFailed, "Connect Error", connectError);
    return false;
  }
  bool stoppedInConnect = false;
  try {
    try {
      c.source.Connect(ConnectTimeoutMs);
    } catch (...) {
      // A Stop during the connect closes the socket under it: the stop has
      // been reported, and the failure it caused is none of the server's.
      if (!FTerminated) throw;
      stoppedInConnect = true;
    }
  } catch (const ETlsError& e) {
    // Nothing of the log-in has been sent.
    StatusChangeNotify(ltSingleTaskFailed, "TLS Error",
                       Fmt("Secure connection to \"%s\" failed: %s", server.c_str(), e.what()));
    DisconnectQuietly();
    return false;
  } catch (const EPop3ReplyError& e) {
    LoginFailed(c, e.what());
    return false;
  } catch (const ELoginRefused& e) {
    LoginFailed(c, e.what());
    return false;
  } catch (const ESocketError&) {
    StatusChangeNotify(ltSingleTaskFailed, "Can not connect host.",
                       Fmt("Can not connect the mail host \"%s\".", server.c_str()));
    DisconnectQuietly();
    return false;
  } catch (const std::exception&) {
    StatusChangeNotify(ltSingleTaskFailed, "Connect Error", connectError);
    DisconnectQuietly();
    return false;
  }
  if (stoppedInConnect) {
    DisconnectQuietly();
    return false;
  }
  StatusChangeNotify(ltConnected, "Connected", Fmt("\"%s\" has been connected successfully", server.c_str()));
  return true;
}

void TGetMailThd::LoginFailed(TAccountCheck& c, const char* said) {
  StatusChangeNotify(ltSingleTaskFailed, "Login Failed",
                     Fmt("Login failed of account \"%s\"! Please check your username or password.\r\nError: %s",
                         c.task.Account.c_str(), said));
  DisconnectQuietly();
}

bool TGetMailThd::CountStep(TAccountCheck& c) {
  try {
    c.msgCount = c.source.CheckMessages();
  } catch (const std::exception&) {
    StatusChangeNotify(ltSingleTaskFailed, "Check Messages Error",
                       Fmt("Check messages failed on \"%s\"", c.server.c_str()));
    DisconnectQuietly();
    return false;
  }
  if (FTerminated) return false;
  if (c.msgCount <= 0) {
    StatusChangeNotify(ltSingleTaskFinished, "Checked", Fmt("No new messages on \"%s\"", c.server.c_str()));
    return false;
  }
  StatusChangeNotify(ltChecking, "Find", Fmt("%d mail(s) on \"%s\"", c.msgCount, c.server.c_str()));
  return true;
}

bool TGetMailThd::ListStep(TAccountCheck& c) {
  bool listed;
  try {
    listed = c.source.List(c.uidsOnServer);
  } catch (const std::exception&) {
    StatusChangeNotify(ltSingleTaskFailed, "UIDL Error", "UIDL failed");
    DisconnectQuietly();
    return false;
  }
  if (!listed) {
    StatusChangeNotify(ltSingleTaskFailed, "UIDL", "UIDL failed");
    DisconnectQuietly();
    return false;
  }
  if (c.uidsOnServer.size() < static_cast<size_t>(c.msgCount)) {
    // Without a line per message the memory cannot be kept: a listing failure.
    StatusChangeNotify(ltSingleTaskFailed, "UIDL Error", "UIDL failed");
    DisconnectQuietly();
    return false;
  }
  StatusChangeNotify(ltChecking, "UIDL", "UIDL successfully");
  if (FTerminated) return false;
  // UIDs of an earlier epoch name no mail any more: the memory starts over,
  // and the orders of the account stay, to be matched again by their IDs.
  c.epochChanged = EpochChanged(c.source.UidEpoch());
  if (!c.epochChanged) SyncOrderList(c.uidsOnServer);
  return true;
}

bool TGetMailThd::EpochChanged(const std::string& epoch) const {
  if (epoch.empty() || !FUidList) return false;
  const TUidlRec* rec = FUidList->Find(FCurTask.Account.str());
  if (!rec) return false;
  const std::string prefix = epoch + ".";
  for (const auto& uid : rec->Uids())
    if (uid.rfind(prefix, 0) != 0) return true;
  return false;
}

void TGetMailThd::TooLarge(TAccountCheck& c, int n, const char* what, bool whole) {
  // A message past a size bound fails alone and is remembered: it will not
  // get smaller.
  StatusChangeNotify(ltSizeError, "Message Too Large",
                     Fmt("The %s of message %d on \"%s\" is larger than %zu MiB; it is skipped", what, n,
                         c.server.c_str(), c.source.MaxAnswerBytes(whole) >> 20));
}

void TGetMailThd::PluginFailure(TAccountCheck& c, int n) {
  // A plug-in that crashed or hung in the analyzer helper: the mail is not
  // remembered, so that the next check offers it again.
  StatusChangeNotify(ltAdvanceError, "Analyzer Failed",
                     Fmt("An analyzer plug-in failed on message %d on \"%s\" (%s); it is checked again next time", n,
                         c.server.c_str(), FParseGear.LastFailureText().c_str()));
}

void TGetMailThd::AnswerFailed(TAccountCheck& c, int n, const EAnswerBound& e) {
  // An answer that does not end in time fails the account; the message is
  // offered again next time.
  c.accountFailed = true;
  StatusChangeNotify(ltSingleTaskFailed, "Receiving Failed",
                     Fmt("Retrieving %d message failed on \"%s\": %s", n, c.server.c_str(), e.what()));
  DisconnectQuietly();
}

TGetMailThd::TStep TGetMailThd::ConnectionLost(TAccountCheck& c, int n, const std::exception& e) {
  // A stop closes the connection too: that is no failure of the account.
  if (!FTerminated && c.trouble.empty())
    c.trouble = Fmt("The connection to \"%s\" was lost at message %d: %s", c.server.c_str(), n, e.what());
  DisconnectQuietly();
  return stLeave;
}

void TGetMailThd::ClaimAhead(TAccountCheck& c, TRequestPipe& pipe, int n) {
  // Headers read ahead are judged together in one call (one round trip to
  // the analyzer helper); the answers are kept by message number for each
  // message's turn, and the whole mails the analyzers will want are asked for
  // ahead. A message whose claim failed here is judged alone in its turn.
  std::vector<int> ks;
  std::vector<const TStrings*> headers;
  std::deque<TStrings> trimmed;
  pipe.ForEachNewHeader([&](int k, const TStrings& lines) {
    ks.push_back(k);
    // Judged on the lines the message keeps: empty ones it drops.
    if (std::find(lines.begin(), lines.end(), std::string()) == lines.end()) {
      headers.push_back(&lines);
      return;
    }
    TStrings& kept = trimmed.emplace_back();
    for (const auto& l : lines)
      if (!l.empty()) kept.push_back(l);
    headers.push_back(&kept);
  });
  if (ks.empty()) return;
  std::vector<int32_t> guesses;
  try {
    guesses = FParseGear.ClaimParsers(headers);
  } catch (...) {
  }
  for (size_t i = 0; i < guesses.size(); ++i) c.claims[ks[i]] = guesses[i];
  for (size_t i = 0; i < guesses.size() && pipe.HasRoomForGuess(); ++i)
    if (guesses[i] >= 0 && ks[i] != n) pipe.Send(true, ks[i]);
}

void TGetMailThd::ParseAhead(TAccountCheck& c, TRequestPipe& pipe, int n) {
  // Claimed mails after this one that have been read already go to the
  // analyzer helper now: it parses them while this one is processed, and
  // their answers wait for their turns. Small ones only, a few at a time.
  if (!FParseGear.Isolated()) return;
  constexpr size_t kMaxAheadMailBytes = 64 * 1024;
  std::vector<int> ready;
  pipe.ForEachHeldMail([&](int m, const TMailLines& mail) {
    if (m <= n || c.ahead.count(m) != 0) return;
    if (mail.Bytes() <= kMaxAheadMailBytes) ready.push_back(m);
  });
  for (int m : ready) {
    if (c.ahead.size() >= TPluginHostClient::kMaxAhead) break;
    auto claim = c.claims.find(m);
    if (claim == c.claims.end() || claim->second < 0) continue;
    TAheadMail& a = c.ahead[m];
    a.from = claim->second;
    TRequestPipe::TAnswer answer = pipe.Take(true, m);  // held: nothing is read
    try {
      auto msg = std::make_unique<TMsgType>();
      msg->Assign(std::move(answer.mail));
      a.msg = std::move(msg);
    } catch (...) {
      continue;  // no message: it fails in its turn as it would have
    }
    try {
      a.ticket = FParseGear.ParseAhead(a.from, *a.msg);
    } catch (...) {
    }
    if (a.ticket == 0) break;  // the helper takes no more now
  }
}

TGetMailThd::TStep TGetMailThd::MessageStep(TAccountCheck& c, TRequestPipe& pipe, int n) {
  const std::string& server = c.server;
  const std::string uid = getUid(c.uidsOnServer[static_cast<size_t>(n - 1)]);
  const std::string checking = Fmt("Checking %d message on \"%s\"", n, server.c_str());
  StatusChangeNotify(ltChecking, "Checking", checking);
  if (c.retrieved[static_cast<size_t>(n - 1)]) {
    StatusChangeNotify(ltChecking, "Checking", Fmt("%d message has been retrieved before", n));
    c.uid4Saving.push_back(uid);
    return stNext;
  }
  ++c.unReceivedSeen;
  Post(WM_ORDWATCH_PROGRESS, rmsWork, c.unReceivedSeen);
  // Mails taken ahead whose turn went by without them (header failed).
  c.ahead.erase(c.ahead.begin(), c.ahead.lower_bound(n));

  TMailMessage AMsg;
  bool gotHeader;
  try {
    // Those held already go first, so that their mails go out before
    // further headers.
    ClaimAhead(c, pipe, n);
    c.refill();
    pipe.ReadAheadArrived(kClaimBatch);
    ClaimAhead(c, pipe, n);
    TRequestPipe::TAnswer header = pipe.Take(false, n);
    if (header.tooLarge) {
      TooLarge(c, n, "header", false);
      c.uid4Saving.push_back(uid);
      return stNext;
    }
    gotHeader = header.ok;
    // The analyzers read the raw lines; nothing else of the header is used.
    if (gotHeader)
      for (auto& l : header.lines) AMsg.AddRawHeaderLine(std::move(l));
  } catch (const EAnswerBound& e) {
    AnswerFailed(c, n, e);
    return stLeave;
  } catch (const std::exception& e) {
    return ConnectionLost(c, n, e);
  }
  if (!gotHeader) {
    StatusChangeNotify(ltHeaderError, "Retrieve Header Failed",
                       Fmt("Retrieve header failed on \"%s\"", server.c_str()));
    return stNext;
  }
  StatusChangeNotify(ltChecking, "Checking", checking);
  if (FTerminated) return stLeave;

  bool claimed = false;
  try {
    if (auto guess = c.claims.find(n); guess != c.claims.end()) {
      claimed = FParseGear.UseClaim(guess->second);
      c.claims.erase(guess);
    } else {
      claimed = FParseGear.IsOrderMail(AMsg.Headers());
    }
  } catch (...) {
    // The host's own failure: nobody claims the mail.
  }
  const bool pluginFailed = !claimed && FParseGear.LastCallFailed();
  if (pluginFailed) PluginFailure(c, n);
  if (!claimed) {
    // A guess that the analyzers do not confirm: its answer is not used.
    try {
      if (pipe.Pending(true, n)) pipe.Take(true, n);
    } catch (const EAnswerBound& e) {
      AnswerFailed(c, n, e);
      return stLeave;
    } catch (const std::exception& e) {
      return ConnectionLost(c, n, e);
    }
    if (pluginFailed) return stNext;  // offered again at the next check
    StatusChangeNotify(ltChecking, "Checking", "Not a valid payment mail, go next");
    c.uid4Saving.push_back(uid);
    return stNext;
  }
  StatusChangeNotify(ltReceiving, "Verifying", Fmt("Verifying %d message", n));

  if (auto ahead = c.ahead.find(n); ahead != c.ahead.end()) {
    // Retrieved and sent to the analyzers ahead of its turn.
    TAheadMail mail = std::move(ahead->second);
    c.ahead.erase(ahead);
    try {
      c.refill();
    } catch (const std::exception& e) {
      return ConnectionLost(c, n, e);
    }
    StatusChangeNotify(ltReceived, "Retrieved", Fmt("Retrieved %d  message successfully on '%s'", n, server.c_str()));
    if (FTerminated) return stLeave;
    TMailLines none;
    ProcessStep(c, pipe, n, none, uid, &mail);
    return stNext;
  }

  TMailLines MailSource;
  bool gotMail;
  try {
    if (!pipe.Pending(true, n)) pipe.Send(true, n);
    c.refill();
    TRequestPipe::TAnswer whole = pipe.Take(true, n);
    if (whole.tooLarge) {
      TooLarge(c, n, "mail", true);
      c.uid4Saving.push_back(uid);
      return stNext;
    }
    gotMail = whole.ok;
    if (whole.mail.Bytes() >= kBigMailBytes) FBigMailRead = true;
    MailSource = std::move(whole.mail);
  } catch (const EAnswerBound& e) {
    AnswerFailed(c, n, e);
    return stLeave;
  } catch (const std::exception& e) {
    return ConnectionLost(c, n, e);
  }
  if (!gotMail) {
    StatusChangeNotify(ltReceiveError, "Receiving Failed",
                       Fmt("Retrieving %d message failed on \"%s\"", n, server.c_str()));
    return stNext;
  }
  StatusChangeNotify(ltReceived, "Retrieved", Fmt("Retrieved %d  message successfully on '%s'", n, server.c_str()));
  if (FTerminated) return stLeave;
  ProcessStep(c, pipe, n, MailSource, uid, nullptr);
  return stNext;
}

void TGetMailThd::ProcessStep(TAccountCheck& c, TRequestPipe& pipe, int n, TMailLines& mail, const std::string& uid,
                              TAheadMail* ready) {
  StatusChangeNotify(ltProcessing, "Processing", Fmt("Processing %d message", n));
  int iR = R_ERROR;
  try {
    TMsgType own;
    TMsgType* msg = &own;
    uint64_t ticket = 0;
    if (ready) {
      if (!ready->msg) throw std::runtime_error("unreadable mail");  // as its reading failed ahead
      msg = ready->msg.get();
      if (ready->from == FParseGear.ParserID()) ticket = ready->ticket;
    } else {
      own.Assign(std::move(mail));
      // Its own request goes first, then those of the mails after it.
      ticket = FParseGear.ParseAhead(FParseGear.ParserID(), own);
    }
    msg->SetUID(uid);
    ParseAhead(c, pipe, n);
    iR = DealOrder(*msg, ticket);
  } catch (...) {
    // A mail that cannot be read is no order; it is remembered like one
    // that no analyzer could parse.
  }
  if (iR == R_NEW_ORDER) ++c.orderCount;
  if (iR == R_PLUGIN_FAILED) {
    PluginFailure(c, n);
    return;  // offered again at the next check
  }
  c.uid4Saving.push_back(uid);
}

void TGetMailThd::MessageLoop(TAccountCheck& c) {
  const int MsgCount = c.msgCount;
  // The memory does not change during the loop: ask it once per message.
  c.retrieved.assign(static_cast<size_t>(MsgCount), 0);
  int unReceived = 0;
  for (int i = 1; i <= MsgCount; ++i) {
    c.retrieved[static_cast<size_t>(i - 1)] = IsMailRetrieved(c.uidsOnServer[static_cast<size_t>(i - 1)]);
    if (!c.retrieved[static_cast<size_t>(i - 1)]) ++unReceived;
  }
  Post(WM_ORDWATCH_PROGRESS, rmsBegin, unReceived);

  const bool pipelined = PipelineWindow > 0 && c.source.Pipelining();
  TRequestPipe pipe(c.source, pipelined ? static_cast<size_t>(PipelineWindow) : 1, PipelineBytes);
  // Top the window up in batches, not one request per answer.
  const size_t batch = std::max<size_t>(1, pipe.Window() / 8);
  int nextHeader = 1;  // the next message whose header is not yet asked for
  c.refill = [&] {
    if (pipe.InFlight() + batch > pipe.Window()) return;
    bool sent = false;
    for (; nextHeader <= MsgCount && pipe.HasRoom(); ++nextHeader) {
      if (c.retrieved[static_cast<size_t>(nextHeader - 1)]) continue;
      pipe.Send(false, nextHeader);
      sent = true;
    }
    if (sent) pipe.Flush();
  };

  FRelabelDuplicates = c.epochChanged;
  struct TReset {
    bool& flag;
    ~TReset() { flag = false; }
  } reset{FRelabelDuplicates};
  for (int n = 1; n <= MsgCount; ++n)
    if (MessageStep(c, pipe, n) == stLeave) return;
  c.needUpdateUID = true;
  Post(WM_ORDWATCH_PROGRESS, rmsEnd, 0);
}

void TGetMailThd::CheckAccount(TAccountCheck& c) {
  StatusChangeNotify(ltSingleTaskBegin, "Begin",
                     Fmt("Begin to execute task \"Check for new payments on %s\"", c.server.c_str()));
  if (!ConnectStep(c)) return;
  if (FTerminated) return;
  if (!CountStep(c)) return;
  if (!ListStep(c)) return;
  // "Congratulating" closes the message loop however it is left.
  auto congratulate = [&] {
    StatusChangeNotify(ltSingleTaskFinished, "Congratulating",
                       Fmt("%d new payments received on \"%s\"", c.orderCount, c.server.c_str()), c.trouble);
  };
  try {
    MessageLoop(c);
  } catch (...) {
    congratulate();
    throw;
  }
  // An account failed by an answer past its bounds has had its record.
  if (!c.accountFailed) congratulate();
}

void TGetMailThd::FinishStep(TAccountCheck& c) {
  if (FSource.Get()) {
    DisconnectQuietly();
    StatusChangeNotify(ltQuit, "Quit", Fmt("Quit on \"%s\"", c.server.c_str()));
    FSource.Release();
  }
  if (FUidList) UpdateRetrievedUIDs(*FUidList, FCurTask.Account, c.uid4Saving, c.needUpdateUID);
  if (Store && c.needUpdateUID) Store->MemoryUpdated(FCurTask.Account, c.uid4Saving);
}

void TGetMailThd::GetOrderMail(const TTaskData& t) {
  TAccountCheck c{t, FSource.Set(MakeSource(t)), t.Server.str()};
  try {
    CheckAccount(c);
  } catch (...) {
    FinishStep(c);
    throw;
  }
  FinishStep(c);
}

int TGetMailThd::DealOrder(TMsgType& AMsg, uint64_t ticket) {
  try {
    TOrderData aOD;
    if (!FParseGear.GetOrderData(AMsg, ticket, &aOD)) return FParseGear.LastCallFailed() ? R_PLUGIN_FAILED : R_ERROR;
    aOD.UID = AMsg.UID();
    if (Trim(aOD.RegName.str()).empty()) aOD.RegName = aOD.Name.str();
    if (IsDuplicatedOrder(aOD)) return R_ERROR;
    auto aData = std::make_unique<TOrderData>(aOD);
    {
      std::lock_guard<std::mutex> lock(FCurTaskMutex);
      aData->FromAccount = FCurTask.Account;
    }
    // Kept before it is announced: a process killed after this line neither
    // loses the order nor announces it again.
    if (Store) Store->OrderFound(*aData, AMsg.FullSource());
    FOrderList.Add(std::move(aData));
    Post(WM_ADD_ORDER, 0, 0);
    ++TotalOrder;
    return R_NEW_ORDER;
  } catch (...) {
    return R_ERROR;
  }
}

bool TGetMailThd::IsDuplicatedOrder(const TOrderData& aOD) {
  // A mail that shows no order number is no copy of another such mail.
  if (aOD.OrderID.empty()) return false;
  return FOrderList.WithFirstOfId(aOD.OrderID.str(), [&](TOrderData& o) {
    if (FRelabelDuplicates && o.FromAccount == FCurTask.Account.str()) o.UID = aOD.UID;
  });
}

}  // namespace qnb
