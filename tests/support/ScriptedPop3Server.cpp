#include "support/ScriptedPop3Server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace qnb::test {

namespace {

using TClock = std::chrono::steady_clock;

int MsLeft(TClock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

TScriptedPop3Server::TScriptedPop3Server() {
  int p[2];
  if (pipe(p) != 0) throw std::runtime_error("pipe failed");
  wakeRead_ = p[0];
  wakeWrite_ = p[1];
  listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_ < 0) throw std::runtime_error("socket failed");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  if (bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listen_, 4) != 0 ||
      getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    throw std::runtime_error("cannot listen on 127.0.0.1");
  port_ = ntohs(a.sin_port);
}

TScriptedPop3Server::~TScriptedPop3Server() {
  char c = 1;
  ssize_t ignored = write(wakeWrite_, &c, 1);
  (void)ignored;
  if (thread_.joinable()) thread_.join();
  close(listen_);
  close(wakeRead_);
  close(wakeWrite_);
}

TScriptedPop3Server& TScriptedPop3Server::Send(std::string raw) {
  steps_.push_back({TStep::skSend, std::move(raw)});
  return *this;
}

TScriptedPop3Server& TScriptedPop3Server::Reply(std::string line) { return Send(std::move(line) + "\r\n"); }

TScriptedPop3Server& TScriptedPop3Server::Expect(std::string command) {
  steps_.push_back({TStep::skExpect, std::move(command)});
  return *this;
}

TScriptedPop3Server& TScriptedPop3Server::Pause(int ms) {
  steps_.push_back({TStep::skPause, {}, ms});
  return *this;
}

TScriptedPop3Server& TScriptedPop3Server::SendSlowly(std::string raw, size_t chunk, int delayMs) {
  for (size_t i = 0; i < raw.size(); i += chunk) Pause(delayMs).Send(raw.substr(i, chunk));
  return *this;
}

TScriptedPop3Server& TScriptedPop3Server::Close() {
  steps_.push_back({TStep::skClose});
  return *this;
}

TScriptedPop3Server& TScriptedPop3Server::HalfClose() {
  steps_.push_back({TStep::skHalfClose});
  return *this;
}

TScriptedPop3Server& TScriptedPop3Server::Login(const std::string& user, const std::string& pass) {
  return Reply("+OK POP3 server ready").Expect("USER " + user).Reply("+OK").Expect("PASS " + pass).Reply("+OK");
}

void TScriptedPop3Server::Start() { thread_ = std::thread([this] { Run(); }); }

bool TScriptedPop3Server::WaitDone(int timeoutMs) {
  std::unique_lock lock(mutex_);
  return doneCv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return done_; });
}

std::vector<std::string> TScriptedPop3Server::Commands() const {
  std::lock_guard lock(mutex_);
  return commands_;
}

std::vector<std::string> TScriptedPop3Server::Errors() const {
  std::lock_guard lock(mutex_);
  return errors_;
}

void TScriptedPop3Server::AddError(std::string e) {
  std::lock_guard lock(mutex_);
  errors_.push_back(std::move(e));
}

bool TScriptedPop3Server::Sleep(int ms) {
  pollfd p{wakeRead_, POLLIN, 0};
  return poll(&p, 1, ms) == 0;
}

bool TScriptedPop3Server::SendAll(int conn, const std::string& data) {
  size_t off = 0;
  while (off < data.size()) {
    ssize_t n = send(conn, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    off += static_cast<size_t>(n);
  }
  return true;
}

bool TScriptedPop3Server::ReadLine(int conn, std::string& line, int timeoutMs) {
  auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    size_t lf = pending_.find('\n');
    if (lf != std::string::npos) {
      line = pending_.substr(0, lf);
      pending_.erase(0, lf + 1);
      bool crlf = !line.empty() && line.back() == '\r';
      if (crlf) line.pop_back();
      std::lock_guard lock(mutex_);
      if (!crlf) errors_.push_back("command not ended by CR LF: " + line);
      commands_.push_back(line);
      return true;
    }
    pollfd fds[2] = {{conn, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    int r = poll(fds, 2, timeoutMs < 0 ? -1 : MsLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0 || fds[1].revents) return false;
    char buf[4096];
    ssize_t n = recv(conn, buf, sizeof buf, 0);
    if (n <= 0) return false;
    pending_.append(buf, static_cast<size_t>(n));
  }
}

bool TScriptedPop3Server::PlayStep(int conn, const TStep& step) {
  switch (step.Kind) {
    case TStep::skSend:
      if (!SendAll(conn, step.Text)) {
        AddError("send failed before " + step.Text.substr(0, 40));
        return false;
      }
      return true;
    case TStep::skExpect: {
      std::string line;
      if (!ReadLine(conn, line, ExpectTimeoutMs)) {
        AddError("expected \"" + step.Text + "\", got nothing");
        return false;
      }
      if (line != step.Text) {
        AddError("expected \"" + step.Text + "\", got \"" + line + "\"");
        return false;
      }
      return true;
    }
    case TStep::skPause:
      return Sleep(step.Ms);
    case TStep::skClose:
      return false;
    case TStep::skHalfClose:
      shutdown(conn, SHUT_WR);
      return true;
  }
  return false;
}

void TScriptedPop3Server::Run() {
  int conn = -1;
  pollfd fds[2] = {{listen_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
  while (poll(fds, 2, -1) < 0 && errno == EINTR) {
  }
  if (fds[0].revents & POLLIN) conn = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
  if (conn >= 0) {
    bool closeNow = false;
    for (const auto& step : steps_) {
      if (!PlayStep(conn, step)) {
        closeNow = step.Kind == TStep::skClose;
        break;
      }
    }
    if (!closeNow) {
      // Record whatever else the client sends until it goes.
      std::string line;
      while (ReadLine(conn, line, -1)) {
      }
    }
    close(conn);
  }
  std::lock_guard lock(mutex_);
  done_ = true;
  doneCv_.notify_all();
}

}  // namespace qnb::test
