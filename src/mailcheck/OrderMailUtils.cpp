#include "mailcheck/OrderMailUtils.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <deque>
#include <stdexcept>
#include <vector>

#include "analysis/MailMessage.h"
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

// The header and whole-message requests of one message loop. Commands are
// queued ahead and go out in batches; answers come back in command order, so
// the answers to requests sent before the one wanted are read and held until
// their message's turn. With a window of 1 every command waits for the
// answer to the one before, exactly as without pipelining, and nothing is
// ever read ahead.
class TRequestPipe {
 public:
  struct TAnswer {
    bool ok = false;
    bool tooLarge = false;  // past the session's bound for its kind; no lines
    TStrings lines;
  };

  TRequestPipe(TPop3Session& session, size_t window, size_t maxBytes)
      : session_(session), window_(window < 1 ? 1 : window), maxBytes_(maxBytes) {}

  size_t Window() const { return window_; }
  void Flush() { session_.Flush(); }
  size_t InFlight() const { return inFlight_.size(); }

  // Room for one more read-ahead request; an empty pipe always has room.
  bool HasRoom() const {
    if (inFlight_.empty()) return true;
    return inFlight_.size() < window_ && bytes_ < maxBytes_ && commandBytes_ < kMaxCommandBytes;
  }

  // Room for a whole-message request sent ahead on a guess.
  bool HasRoomForGuess() const { return bytes_ < maxBytes_ && commandBytes_ < kMaxCommandBytes; }

  // True when (whole, n) has been sent and its answer not yet taken.
  bool Pending(bool whole, int n) const {
    for (const auto& r : inFlight_)
      if (r.whole == whole && r.n == n) return true;
    for (const auto& h : held_)
      if (h.whole == whole && h.n == n) return true;
    return false;
  }

  // Calls f(n, lines) once for each header answer read ahead and held (header
  // refused: not at all).
  template <class F>
  void ForEachNewHeader(F&& f) {
    for (auto& h : held_) {
      if (h.whole || h.seen) continue;
      h.seen = true;
      if (h.answer.ok) f(h.n, h.answer.lines);
    }
  }

  void Send(bool whole, int n) {
    std::string cmd = whole ? "RETR " + std::to_string(n) : "TOP " + std::to_string(n) + " 0";
    session_.QueueCommand(cmd);
    const size_t size = cmd.size() + 2;
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
      held_.erase(it);
      if (!dropped) return a;
      // Read ahead when the held answers filled their memory: ask again.
      Send(whole, n);
      break;
    }
    session_.Flush();
    for (;;) {
      if (inFlight_.empty()) throw std::logic_error("answer to a request never sent");
      const bool wanted = inFlight_.front().whole == whole && inFlight_.front().n == n;
      THeld h = ReadFront(wanted);
      if (wanted) return std::move(h.answer);
      Hold(std::move(h));
    }
  }

  // Reads and holds up to `count` header answers that come next and have
  // already arrived whole, so that their messages can be judged together;
  // it never waits for the server.
  void ReadAheadHeaders(size_t count) {
    session_.Flush();
    for (; count > 0 && !inFlight_.empty() && !inFlight_.front().whole && heldBytes_ < kMaxHeldBytes &&
           session_.AnswerArrived();
         --count)
      Hold(ReadFront(false));
  }

 private:
  struct THeld;
  // Reads the answer to the request in flight first. Answers read ahead
  // share one bounded memory; the wanted one has only the session's bound.
  THeld ReadFront(bool wanted) {
    const TRequest r = inFlight_.front();
    const size_t room = wanted ? SIZE_MAX : (kMaxHeldBytes > heldBytes_ ? kMaxHeldBytes - heldBytes_ : 0);
    THeld h{r.whole, r.n, 0, false, false, {}};
    try {
      h.answer.ok = r.whole ? session_.ReadRetrieveAnswer(h.answer.lines, room)
                            : session_.ReadHeaderAnswer(h.answer.lines, room);
    } catch (const EAnswerTooLarge& e) {
      // Read to its end: the pipe is still in step.
      const size_t bound = r.whole ? session_.MaxMailBytes : session_.MaxHeaderBytes;
      h.answer = {};
      if (e.Size() > bound) h.answer.tooLarge = true;
      else h.dropped = true;
    }
    inFlight_.pop_front();
    bytes_ -= r.commandBytes;
    commandBytes_ -= r.commandBytes;
    return h;
  }
  void Hold(THeld h) {
    for (const auto& l : h.answer.lines) h.bytes += l.size() + 2;
    bytes_ += h.bytes;
    heldBytes_ += h.bytes;
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

  TPop3Session& session_;
  size_t window_;
  size_t maxBytes_;
  size_t bytes_ = 0;         // commands in flight and answers held
  size_t heldBytes_ = 0;     // answers held
  size_t commandBytes_ = 0;  // commands in flight
  std::deque<TRequest> inFlight_;
  std::deque<THeld> held_;
};

}  // namespace

TTaskData TaskOfAccount(const TMailAccount& a, int32_t id) {
  TTaskData t;
  t.ID = id;
  t.Account = a.Name;
  t.Server = a.Host;
  t.Port = a.Port;
  t.Username = a.UserName;
  t.Password = a.Password;
  t.Security = a.Security;
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
      FPOP3.Disconnect();
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

void TGetMailThd::Execute() {
  TotalOrder = 0;
  try {
    while (!FTerminated && GetNewTask()) {
      TTaskData t;
      {
        std::lock_guard<std::mutex> lock(FCurTaskMutex);
        t = FCurTask;
      }
      GetOrderMail(t.Account, t.Server, t.Port, t.Username, t.Password, t.SecureLogin, t.LeaveCopyOnServer,
                   t.Security);
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
                                     const std::string& statusText) {
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
  auto orders = FOrderList.Lock();
  for (auto it = orders->begin(); it != orders->end();) {
    const TOrderData& o = **it;
    // A substring test, as the listing is one text: an empty UID is never found.
    bool keep = o.FromAccount != account || (!o.UID.empty() && all.find(o.UID) != std::string::npos);
    it = keep ? it + 1 : orders->erase(it);
  }
}

bool TGetMailThd::IsMailRetrieved(const std::string& mUid) const {
  if (!FUidList) return false;
  return qnb::IsMailRetrieved(*FUidList, FCurTask.Account.str(), mUid);
}

void TGetMailThd::DisconnectQuietly() {
  try {
    if (TPop3Session* s = FPOP3.Get(); s && s->Connected()) s->Disconnect();
  } catch (...) {
  }
}

void TGetMailThd::GetOrderMail(const std::string& sAccount, const std::string& sServer,
                               const std::string& sPort, const std::string& sUsername,
                               const std::string& sPassword, bool /*bSecureLogin*/,
                               bool /*bLeaveCopyOnServer*/, TSecurity aSecurity) {
  int OrderCount = 0;
  TStrings UIDsOnServer, UID4Saving;
  bool bNeedUpdateUID = false;
  bool accountFailed = false;  // by a failure the loop reported itself

  TPop3Session& pop3 = FPOP3.Create();
  pop3.ReadTimeout = ReadTimeoutMs;
  pop3.AnswerTimeout = AnswerTimeoutMs;
  pop3.Security = aSecurity;
  pop3.CAFile = CAFile;
  pop3.AskCapabilities = PipelineWindow > 0;

  // Everything up to the clean-up; returns to leave the check.
  auto check = [&] {
    StatusChangeNotify(ltSingleTaskBegin, "Begin",
                       Fmt("Begin to execute task \"Check for new payments on %s\"", sServer.c_str()));
    const int port = PortNumber(sPort);
    pop3.Host = sServer;
    pop3.Port = port;
    pop3.UserName = sUsername;
    pop3.Password = sPassword;
    StatusChangeNotify(ltConnecting, "Connecting", "Connecting");

    const std::string connectError =
        Fmt("Can not connect the mail host \"%s\". Please check your network status.", sServer.c_str());
    if (port == 0) {
      // A port that is no number cannot be reached, like a host that is down.
      StatusChangeNotify(ltSingleTaskFailed, "Connect Error", connectError);
      return;
    }
    bool stoppedInConnect = false;
    try {
      try {
        pop3.Connect(ConnectTimeoutMs);
      } catch (...) {
        // A Stop during the connect closes the socket under it: the stop has
        // been reported, and the failure it caused is none of the server's.
        if (!FTerminated) throw;
        stoppedInConnect = true;
      }
    } catch (const ETlsError& e) {
      // Nothing of the log-in has been sent.
      StatusChangeNotify(ltSingleTaskFailed, "TLS Error",
                         Fmt("Secure connection to \"%s\" failed: %s", sServer.c_str(), e.what()));
      DisconnectQuietly();
      return;
    } catch (const EPop3ReplyError& e) {
      StatusChangeNotify(ltSingleTaskFailed, "Login Failed",
                         Fmt("Login failed of account \"%s\"! Please check your username or password.\r\nError: %s",
                             sAccount.c_str(), e.what()));
      DisconnectQuietly();
      return;
    } catch (const ESocketError&) {
      StatusChangeNotify(ltSingleTaskFailed, "Can not connect host.",
                         Fmt("Can not connect the mail host \"%s\".", sServer.c_str()));
      DisconnectQuietly();
      return;
    } catch (const std::exception&) {
      StatusChangeNotify(ltSingleTaskFailed, "Connect Error", connectError);
      DisconnectQuietly();
      return;
    }
    if (stoppedInConnect) {
      DisconnectQuietly();
      return;
    }
    StatusChangeNotify(ltConnected, "Connected", Fmt("\"%s\" has been connected successfully", sServer.c_str()));
    if (FTerminated) return;

    int MsgCount;
    try {
      MsgCount = pop3.CheckMessages();
    } catch (const std::exception&) {
      StatusChangeNotify(ltSingleTaskFailed, "Check Messages Error",
                         Fmt("Check messages failed on \"%s\"", sServer.c_str()));
      DisconnectQuietly();
      return;
    }
    if (FTerminated) return;
    if (MsgCount <= 0) {
      StatusChangeNotify(ltSingleTaskFinished, "Checked", Fmt("No new messages on \"%s\"", sServer.c_str()));
      return;
    }
    StatusChangeNotify(ltChecking, "Find", Fmt("%d mail(s) on \"%s\"", MsgCount, sServer.c_str()));

    bool listed;
    try {
      listed = pop3.UIDL(UIDsOnServer, static_cast<size_t>(MsgCount));
    } catch (const std::exception&) {
      StatusChangeNotify(ltSingleTaskFailed, "UIDL Error", "UIDL failed");
      DisconnectQuietly();
      return;
    }
    if (!listed) {
      StatusChangeNotify(ltSingleTaskFailed, "UIDL", "UIDL failed");
      DisconnectQuietly();
      return;
    }
    if (UIDsOnServer.size() < static_cast<size_t>(MsgCount)) {
      // Without a line per message the memory cannot be kept: a listing failure.
      StatusChangeNotify(ltSingleTaskFailed, "UIDL Error", "UIDL failed");
      DisconnectQuietly();
      return;
    }
    StatusChangeNotify(ltChecking, "UIDL", "UIDL successfully");
    if (FTerminated) return;
    SyncOrderList(UIDsOnServer);

    // The message loop; "Congratulating" closes it however it is left.
    auto loop = [&] {
      // The memory does not change during the loop: ask it once per message.
      std::vector<char> retrieved(static_cast<size_t>(MsgCount));
      int unReceived = 0;
      for (int i = 1; i <= MsgCount; ++i) {
        retrieved[static_cast<size_t>(i - 1)] = IsMailRetrieved(UIDsOnServer[static_cast<size_t>(i - 1)]);
        if (!retrieved[static_cast<size_t>(i - 1)]) ++unReceived;
      }
      int iUnReceived = 0;
      Post(WM_ORDWATCH_PROGRESS, rmsBegin, unReceived);

      const bool pipelined = PipelineWindow > 0 && pop3.Pipelining();
      TRequestPipe pipe(pop3, pipelined ? static_cast<size_t>(PipelineWindow) : 1, PipelineBytes);
      // Top the window up in batches, not one command per answer.
      const size_t batch = std::max<size_t>(1, pipe.Window() / 8);
      int nextHeader = 1;  // the next message whose header is not yet asked for
      auto refill = [&] {
        if (pipe.InFlight() + batch > pipe.Window()) return;
        bool sent = false;
        for (; nextHeader <= MsgCount && pipe.HasRoom(); ++nextHeader) {
          if (retrieved[static_cast<size_t>(nextHeader - 1)]) continue;
          pipe.Send(false, nextHeader);
          sent = true;
        }
        if (sent) pipe.Flush();
      };

      // A message past a size bound fails alone and is remembered (it will
      // not get smaller); an answer that does not end in time fails the
      // account, and the message is offered again next time.
      auto tooLarge = [&](int k, const char* what, size_t bound) {
        StatusChangeNotify(ltSizeError, "Message Too Large",
                           Fmt("The %s of message %d on \"%s\" is larger than %zu MiB; it is skipped", what, k,
                               sServer.c_str(), bound >> 20));
      };
      // A plug-in that crashed or hung in the analyzer helper: the mail is
      // not remembered, so that the next check offers it again.
      auto pluginFailure = [&](int k) {
        StatusChangeNotify(ltAdvanceError, "Analyzer Failed",
                           Fmt("An analyzer plug-in failed on message %d on \"%s\" (%s); it is checked again next time",
                               k, sServer.c_str(), FParseGear.LastFailureText().c_str()));
      };
      auto answerFailed = [&](int k, const EAnswerBound& e) {
        accountFailed = true;
        StatusChangeNotify(ltSingleTaskFailed, "Receiving Failed",
                           Fmt("Retrieving %d message failed on \"%s\": %s", k, sServer.c_str(), e.what()));
        DisconnectQuietly();
      };

      for (int n = 1; n <= MsgCount; ++n) {
        const std::string& line = UIDsOnServer[static_cast<size_t>(n - 1)];
        const std::string checking = Fmt("Checking %d message on \"%s\"", n, sServer.c_str());
        StatusChangeNotify(ltChecking, "Checking", checking);
        if (retrieved[static_cast<size_t>(n - 1)]) {
          StatusChangeNotify(ltChecking, "Checking", Fmt("%d message has been retrieved before", n));
          UID4Saving.push_back(getUid(line));
          continue;
        }
        ++iUnReceived;
        Post(WM_ORDWATCH_PROGRESS, rmsWork, iUnReceived);

        TMailMessage AMsg;
        bool gotHeader;
        try {
          // Headers read ahead are judged together in one call (one round
          // trip to the analyzer helper); the answers are kept for each
          // message's own IsOrderMail, and the whole mails the analyzers will
          // want are asked for ahead. Only a guess: each message is judged
          // again in its turn, so the host keeps the claim of its last
          // IsOrderMail for GetOrderData as always. Those held already go
          // first, so that their mails go out before further headers.
          auto claimAhead = [&] {
            std::vector<int> ks;
            std::vector<const TStrings*> headers;
            pipe.ForEachNewHeader([&](int k, const TStrings& lines) {
              ks.push_back(k);
              headers.push_back(&lines);
            });
            if (ks.empty()) return;
            std::vector<bool> guesses;
            try {
              guesses = FParseGear.ClaimMany(headers);
            } catch (...) {
            }
            for (size_t i = 0; i < guesses.size() && pipe.HasRoomForGuess(); ++i)
              if (guesses[i] && ks[i] != n) pipe.Send(true, ks[i]);
          };
          claimAhead();
          refill();
          pipe.ReadAheadHeaders(kClaimBatch);
          claimAhead();
          TRequestPipe::TAnswer header = pipe.Take(false, n);
          if (header.tooLarge) {
            tooLarge(n, "header", pop3.MaxHeaderBytes);
            UID4Saving.push_back(getUid(line));
            continue;
          }
          gotHeader = header.ok;
          // The analyzers read the raw lines; nothing else of the header is used.
          if (gotHeader)
            for (auto& l : header.lines) AMsg.AddRawHeaderLine(std::move(l));
        } catch (const EAnswerBound& e) {
          answerFailed(n, e);
          return;
        } catch (const std::exception&) {
          DisconnectQuietly();
          return;
        }
        if (!gotHeader) {
          StatusChangeNotify(ltHeaderError, "Retrieve Header Failed",
                             Fmt("Retrieve header failed on \"%s\"", sServer.c_str()));
          continue;
        }
        StatusChangeNotify(ltChecking, "Checking", checking);
        if (FTerminated) return;

        bool claimed = false;
        try {
          claimed = FParseGear.IsOrderMail(AMsg.Headers());
        } catch (...) {
          // The host's own failure: nobody claims the mail.
        }
        const bool pluginFailed = !claimed && FParseGear.LastCallFailed();
        if (pluginFailed) pluginFailure(n);
        if (!claimed) {
          // A guess that the analyzers do not confirm: its answer is not used.
          try {
            if (pipe.Pending(true, n)) pipe.Take(true, n);
          } catch (const EAnswerBound& e) {
            answerFailed(n, e);
            return;
          } catch (const std::exception&) {
            DisconnectQuietly();
            return;
          }
          if (pluginFailed) continue;  // offered again at the next check
          StatusChangeNotify(ltChecking, "Checking", "Not a valid payment mail, go next");
          UID4Saving.push_back(getUid(line));
          continue;
        }
        StatusChangeNotify(ltReceiving, "Verifying", Fmt("Verifying %d message", n));

        TStrings MailSource;
        bool gotMail;
        try {
          if (!pipe.Pending(true, n)) pipe.Send(true, n);
          refill();
          TRequestPipe::TAnswer whole = pipe.Take(true, n);
          if (whole.tooLarge) {
            tooLarge(n, "mail", pop3.MaxMailBytes);
            UID4Saving.push_back(getUid(line));
            continue;
          }
          gotMail = whole.ok;
          MailSource = std::move(whole.lines);
        } catch (const EAnswerBound& e) {
          answerFailed(n, e);
          return;
        } catch (const std::exception&) {
          DisconnectQuietly();
          return;
        }
        if (!gotMail) {
          StatusChangeNotify(ltReceiveError, "Receiving Failed",
                             Fmt("Retrieving %d message failed on \"%s\"", n, sServer.c_str()));
          continue;
        }
        StatusChangeNotify(ltReceived, "Retrieved",
                           Fmt("Retrieved %d  message successfully on '%s'", n, sServer.c_str()));
        if (FTerminated) return;
        StatusChangeNotify(ltProcessing, "Processing", Fmt("Processing %d message", n));

        int iR = R_ERROR;
        try {
          TMsgType TempMsg;
          TempMsg.Assign(std::move(MailSource));
          TempMsg.SetUID(getUid(line));
          iR = DealOrder(TempMsg);
        } catch (...) {
          // A mail that cannot be read is no order; it is remembered like one
          // that no analyzer could parse.
        }
        if (iR == R_NEW_ORDER) ++OrderCount;
        if (iR == R_PLUGIN_FAILED) {
          pluginFailure(n);
          continue;  // offered again at the next check
        }
        UID4Saving.push_back(getUid(line));
      }
      bNeedUpdateUID = true;
      Post(WM_ORDWATCH_PROGRESS, rmsEnd, 0);
    };
    try {
      loop();
    } catch (...) {
      StatusChangeNotify(ltSingleTaskFinished, "Congratulating",
                         Fmt("%d new payments received on \"%s\"", OrderCount, sServer.c_str()));
      throw;
    }
    if (!accountFailed)
      StatusChangeNotify(ltSingleTaskFinished, "Congratulating",
                         Fmt("%d new payments received on \"%s\"", OrderCount, sServer.c_str()));
  };

  auto cleanUp = [&] {
    if (FPOP3.Get()) {
      DisconnectQuietly();
      StatusChangeNotify(ltQuit, "Quit", Fmt("Quit on \"%s\"", sServer.c_str()));
      FPOP3.Release();
    }
    if (FUidList) UpdateRetrievedUIDs(*FUidList, FCurTask.Account, UID4Saving, bNeedUpdateUID);
  };
  try {
    check();
  } catch (...) {
    cleanUp();
    throw;
  }
  cleanUp();
}

int TGetMailThd::DealOrder(TMsgType& AMsg) {
  try {
    TOrderData aOD;
    if (!FParseGear.GetOrderData(AMsg, &aOD)) return FParseGear.LastCallFailed() ? R_PLUGIN_FAILED : R_ERROR;
    aOD.UID = AMsg.UID();
    if (Trim(aOD.RegName.str()).empty()) aOD.RegName = aOD.Name.str();
    if (IsDuplicatedOrder(aOD)) return R_ERROR;
    auto aData = std::make_unique<TOrderData>(aOD);
    {
      std::lock_guard<std::mutex> lock(FCurTaskMutex);
      aData->FromAccount = FCurTask.Account;
    }
    FOrderList.Add(std::move(aData));
    Post(WM_ADD_ORDER, 0, 0);
    ++TotalOrder;
    return R_NEW_ORDER;
  } catch (...) {
    return R_ERROR;
  }
}

bool TGetMailThd::IsDuplicatedOrder(const TOrderData& aOD) {
  auto orders = FOrderList.Lock();
  for (const auto& o : *orders)
    if (o->OrderID == aOD.OrderID) return true;
  return false;
}

}  // namespace qnb
