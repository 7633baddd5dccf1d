#include "mailcheck/OrderMailUtils.h"

#include <charconv>
#include <cstdio>

#include "analysis/MailMessage.h"
#include "mailcheck/Socket.h"

namespace qnb {

TLogList* FLogs = nullptr;

namespace {

template <class... A>
std::string Fmt(const char* fmt, A... args) {
  int n = std::snprintf(nullptr, 0, fmt, args...);
  std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
  std::snprintf(s.data(), s.size() + 1, fmt, args...);
  return s;
}

// The port text as a number, or 0 when it is not a decimal from 1 to 65535.
int PortNumber(const std::string& text) {
  int v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() || v < 1 || v > 65535) return 0;
  return v;
}

}  // namespace

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

  TPop3Session& pop3 = FPOP3.Create();
  pop3.ReadTimeout = ReadTimeoutMs;
  pop3.Security = aSecurity;
  pop3.CAFile = CAFile;

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
    try {
      pop3.Connect(ConnectTimeoutMs);
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
      listed = pop3.UIDL(UIDsOnServer);
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
      int unReceived = 0;
      for (int i = 1; i <= MsgCount; ++i)
        if (!IsMailRetrieved(UIDsOnServer[static_cast<size_t>(i - 1)])) ++unReceived;
      int iUnReceived = 0;
      Post(WM_ORDWATCH_PROGRESS, rmsBegin, unReceived);

      for (int n = 1; n <= MsgCount; ++n) {
        const std::string& line = UIDsOnServer[static_cast<size_t>(n - 1)];
        const std::string checking = Fmt("Checking %d message on \"%s\"", n, sServer.c_str());
        StatusChangeNotify(ltChecking, "Checking", checking);
        if (IsMailRetrieved(line)) {
          StatusChangeNotify(ltChecking, "Checking", Fmt("%d message has been retrieved before", n));
          UID4Saving.push_back(getUid(line));
          continue;
        }
        ++iUnReceived;
        Post(WM_ORDWATCH_PROGRESS, rmsWork, iUnReceived);

        TMailMessage AMsg;
        bool gotHeader;
        try {
          gotHeader = pop3.RetrieveHeader(n, AMsg);
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
        if (!claimed) {
          StatusChangeNotify(ltChecking, "Checking", "Not a valid payment mail, go next");
          UID4Saving.push_back(getUid(line));
          continue;
        }
        StatusChangeNotify(ltReceiving, "Verifying", Fmt("Verifying %d message", n));

        TStrings MailSource;
        bool gotMail;
        try {
          gotMail = pop3.Retrieve(n, MailSource);
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
          TempMsg.Assign(MailSource);
          TempMsg.SetUID(getUid(line));
          iR = DealOrder(TempMsg);
        } catch (...) {
          // A mail that cannot be read is no order; it is remembered like one
          // that no analyzer could parse.
        }
        if (iR == R_NEW_ORDER) ++OrderCount;
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
    if (!FParseGear.GetOrderData(AMsg, &aOD)) return R_ERROR;
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
