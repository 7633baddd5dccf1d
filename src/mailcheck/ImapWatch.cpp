#include "mailcheck/ImapWatch.h"

#include <algorithm>
#include <charconv>
#include <chrono>

#include "mailcheck/ImapSession.h"

namespace qnb {

namespace {
using TClock = std::chrono::steady_clock;

int PortOf(const std::string& text) {
  int v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  return ec == std::errc() && end == text.data() + text.size() && v >= 1 && v <= 65535 ? v : 0;
}
}  // namespace

TImapWatch::TImapWatch(const TTaskData& task, std::function<void(int32_t)> onNews)
    : task_(task), onNews_(std::move(onNews)) {}

TImapWatch::~TImapWatch() { Stop(); }

void TImapWatch::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void TImapWatch::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    if (session_) {
      try {
        session_->Disconnect();
      } catch (...) {
        // LOGOUT could not be sent; the connection is closed all the same.
      }
    }
  }
  cv_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TImapWatch::ReconnectNow() {
  {
    std::lock_guard lock(mutex_);
    reconnect_ = true;
    if (session_) {
      try {
        session_->Disconnect();
      } catch (...) {
      }
    }
  }
  cv_.notify_all();
}

void TImapWatch::CloseSession() {
  std::unique_ptr<TImapSession> old;
  std::lock_guard lock(mutex_);
  old = std::move(session_);
}

bool TImapWatch::Watch(bool reconnected) {
  TImapSession* s;
  {
    std::lock_guard lock(mutex_);
    if (stop_) return true;
    session_ = std::make_unique<TImapSession>();
    s = session_.get();
    reconnect_ = false;
  }
  s->Host = task_.Server.str();
  s->Port = PortOf(task_.Port.str());
  s->UserName = task_.Username.str();
  s->Password = task_.Password.str();
  s->Security = task_.Security;
  s->CAFile = CAFile;
  s->ReadTimeout = ReadTimeoutMs;
  if (s->Port == 0) throw ENetFailure("no port");
  s->Connect(ConnectTimeoutMs);
  if (!s->HasCapability("IDLE")) {
    try {
      s->Disconnect();
    } catch (...) {
    }
    return false;
  }
  s->Examine(task_.Folder.str().empty() ? std::string(kDefaultFolder) : task_.Folder.str());
  s->StartIdle();
  state_ = wsIdling;
  ++sessions_;
  nextPauseMs_ = MinBackoffMs;
  // Mail may have come while the connection was down.
  if (reconnected) onNews_(task_.ID);
  auto renewAt = TClock::now() + std::chrono::milliseconds(RenewMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(renewAt - TClock::now()).count();
    if (left <= 0) {
      s->StopIdle();
      s->StartIdle();
      renewAt = TClock::now() + std::chrono::milliseconds(RenewMs);
      continue;
    }
    if (s->WaitIdle(static_cast<int>(std::max<long long>(left, 1)))) onNews_(task_.ID);
  }
}

void TImapWatch::Run() {
  int pause = MinBackoffMs;
  nextPauseMs_ = pause;
  bool reconnected = false;
  for (;;) {
    bool hasIdle = true;
    try {
      hasIdle = Watch(reconnected);
    } catch (...) {
      // Any failure ends this connection; the next one comes after the pause.
    }
    const bool wasIdling = state_ == wsIdling;
    CloseSession();
    std::unique_lock lock(mutex_);
    if (stop_) break;
    if (!hasIdle) {
      state_ = wsNoIdle;
      return;
    }
    // A connection that reached IDLE starts the pauses over.
    if (wasIdling) pause = MinBackoffMs;
    state_ = wsRetrying;
    nextPauseMs_ = pause;
    if (!reconnect_) cv_.wait_for(lock, std::chrono::milliseconds(pause), [this] { return stop_ || reconnect_; });
    if (stop_) break;
    if (reconnect_) {
      pause = MinBackoffMs;
    } else {
      pause = std::min(pause * 2, MaxBackoffMs);
    }
    reconnected = true;
  }
  state_ = wsStopped;
}

}  // namespace qnb
