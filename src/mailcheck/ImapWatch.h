#pragma once
// Between checks, one IMAP connection per account in IDLE (RFC 2177): the
// server's news of a new message is passed on at once, so the owner can
// start a check of that account. The IDLE command is renewed well before the
// 29 minutes after which servers may drop it; a dropped connection is
// opened again after a pause that grows from 1 s to 5 min; ReconnectNow (a
// changed network, a resume from suspend) opens it again at once. A server
// that does not announce IDLE is left alone: its account keeps the schedule.
//
// The watch has its own thread and never touches the check worker's state:
// the news callback runs in that thread and must only queue the request.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "mailcheck/OrderMailUtils.h"

namespace qnb {

class TImapSession;

class TImapWatch {
 public:
  enum TState : uint8_t {
    wsStarting,  // not yet connected
    wsIdling,    // connected and in IDLE
    wsRetrying,  // the connection failed or dropped; waiting to open it again
    wsNoIdle,    // the server does not announce IDLE: the watch has ended
    wsStopped
  };

  static constexpr int kRenewMs = 25 * 60 * 1000;
  static constexpr int kMinBackoffMs = 1000;
  static constexpr int kMaxBackoffMs = 5 * 60 * 1000;

  // task: an IMAP account (its ID is passed to onNews). Nothing runs until Start.
  TImapWatch(const TTaskData& task, std::function<void(int32_t taskId)> onNews);
  // Stops and joins.
  ~TImapWatch();
  TImapWatch(const TImapWatch&) = delete;
  TImapWatch& operator=(const TImapWatch&) = delete;

  // Settings, set before Start.
  std::string CAFile;
  int RenewMs = kRenewMs;
  int MinBackoffMs = kMinBackoffMs;
  int MaxBackoffMs = kMaxBackoffMs;
  int ConnectTimeoutMs = 10000;
  int ReadTimeoutMs = 100000;

  void Start();
  // Any thread; returns when the watch's thread has ended.
  void Stop();
  // Any thread: drops the connection (if any) and opens a new one at once,
  // with the pause back at its start. Does nothing once the watch has ended.
  void ReconnectNow();

  TState State() const { return state_.load(); }
  int32_t TaskID() const { return task_.ID; }
  // Connections that reached IDLE so far, and the pause before the next
  // attempt (for tests and the status display).
  int Sessions() const { return sessions_.load(); }
  int NextPauseMs() const { return nextPauseMs_.load(); }

 private:
  void Run();
  // One connection from log-in to its end; false when the server has no IDLE.
  bool Watch(bool reconnected);
  void CloseSession();

  const TTaskData task_;
  const std::function<void(int32_t)> onNews_;
  std::thread thread_;
  std::atomic<TState> state_{wsStarting};
  std::atomic<int> sessions_{0};
  std::atomic<int> nextPauseMs_{0};

  std::mutex mutex_;  // guards session_, stop_, reconnect_
  std::condition_variable cv_;
  std::unique_ptr<TImapSession> session_;
  bool stop_ = false;
  bool reconnect_ = false;
};

}  // namespace qnb
