#include "support/ScriptedPop3Server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
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

TScriptedPop3Server& TScriptedPop3Server::ExpectSilence(int ms) {
  steps_.push_back({TStep::skSilence, {}, ms});
  return *this;
}

TScriptedPop3Server& TScriptedPop3Server::SendSlowly(std::string raw, size_t chunk, int delayMs) {
  for (size_t i = 0; i < raw.size(); i += chunk) Pause(delayMs).Send(raw.substr(i, chunk));
  return *this;
}

TScriptedPop3Server& TScriptedPop3Server::Repeat(std::string chunk, size_t times, int delayMs) {
  TStep step{TStep::skRepeat, std::move(chunk), delayMs};
  step.Times = times;
  steps_.push_back(std::move(step));
  return *this;
}

TScriptedPop3Server& TScriptedPop3Server::Close() {
  steps_.push_back({TStep::skClose});
  return *this;
}

TScriptedPop3Server& TScriptedPop3Server::StartTls(std::string certFile, std::string keyFile) {
  steps_.push_back({TStep::skStartTls, std::move(certFile), 0, std::move(keyFile)});
  return *this;
}

TScriptedPop3Server& TScriptedPop3Server::HalfClose() {
  steps_.push_back({TStep::skHalfClose});
  return *this;
}

TScriptedPop3Server& TScriptedPop3Server::Capabilities(std::vector<std::string> lines) {
  capabilities_ = std::move(lines);
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

bool TScriptedPop3Server::WaitConn(int conn, bool forWrite, int timeoutMs) {
  auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    pollfd fds[2] = {{conn, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0}, {wakeRead_, POLLIN, 0}};
    int r = poll(fds, 2, timeoutMs < 0 ? -1 : MsLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    return r > 0 && !fds[1].revents;
  }
}

long TScriptedPop3Server::Receive(int conn, char* buf, size_t size, int timeoutMs) {
  for (;;) {
    bool forWrite = false;
    if (ssl_) {
      size_t n = 0;
      errno = 0;
      int r = SSL_read_ex(ssl_, buf, size, &n);
      if (r == 1) return static_cast<long>(n);
      int e = SSL_get_error(ssl_, r);
      if (e == SSL_ERROR_ZERO_RETURN || (e == SSL_ERROR_SYSCALL && errno == 0)) return 0;
      if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) return -1;
      forWrite = e == SSL_ERROR_WANT_WRITE;
    }
    if (!WaitConn(conn, forWrite, timeoutMs)) return -1;
    if (!ssl_) {
      ssize_t n = recv(conn, buf, size, 0);
      if (n < 0 && errno == EINTR) continue;
      return n < 0 ? -1 : static_cast<long>(n);
    }
  }
}

bool TScriptedPop3Server::Handshake(int conn, const TStep& step) {
  FreeTls();
  sslCtx_ = SSL_CTX_new(TLS_server_method());
  bool ok = sslCtx_ && SSL_CTX_use_certificate_chain_file(sslCtx_, step.Text.c_str()) == 1 &&
            SSL_CTX_use_PrivateKey_file(sslCtx_, step.Key.c_str(), SSL_FILETYPE_PEM) == 1 &&
            (ssl_ = SSL_new(sslCtx_)) != nullptr && SSL_set_fd(ssl_, conn) == 1;
  if (!ok) {
    const char* why = ERR_reason_error_string(ERR_peek_last_error());
    AddError(std::string("TLS set-up failed: ") + (why ? why : "?"));
    return false;
  }
  fcntl(conn, F_SETFL, fcntl(conn, F_GETFL) | O_NONBLOCK);
  SSL_set_accept_state(ssl_);
  for (;;) {
    ERR_clear_error();
    int r = SSL_do_handshake(ssl_);
    if (r == 1) return true;
    int e = SSL_get_error(ssl_, r);
    if ((e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) &&
        WaitConn(conn, e == SSL_ERROR_WANT_WRITE, ExpectTimeoutMs))
      continue;
    const char* why = ERR_reason_error_string(ERR_peek_last_error());
    AddError(std::string("TLS handshake failed: ") + (why ? why : "no TLS from the client"));
    // Anything the client sends from now on is recorded as it comes, in the clear.
    FreeTls();
    return false;
  }
}

void TScriptedPop3Server::FreeTls() {
  SSL_free(ssl_);
  SSL_CTX_free(sslCtx_);
  ssl_ = nullptr;
  sslCtx_ = nullptr;
}

bool TScriptedPop3Server::SendAll(int conn, const std::string& data) {
  if (ssl_) {
    size_t off = 0;
    while (off < data.size()) {
      size_t n = 0;
      int r = SSL_write_ex(ssl_, data.data() + off, data.size() - off, &n);
      if (r == 1) {
        off += n;
        continue;
      }
      int e = SSL_get_error(ssl_, r);
      if ((e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) ||
          !WaitConn(conn, e == SSL_ERROR_WANT_WRITE, ExpectTimeoutMs))
        return false;
    }
    return true;
  }
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
    char buf[4096];
    long n = Receive(conn, buf, sizeof buf, timeoutMs < 0 ? -1 : MsLeft(deadline));
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
    case TStep::skRepeat:
      for (size_t i = 0; step.Times == 0 || i < step.Times; ++i) {
        if (step.Ms > 0 && !Sleep(step.Ms)) return false;
        if (!SendAll(conn, step.Text)) {
          if (step.Times != 0) AddError("send failed in a repeated " + step.Text.substr(0, 40));
          return false;
        }
      }
      return true;
    case TStep::skExpect: {
      std::string line;
      bool got;
      while ((got = ReadLine(conn, line, ExpectTimeoutMs)) && line == "CAPA" && step.Text != "CAPA") {
        std::string listing = "+OK\r\n";
        for (const auto& c : capabilities_) listing += c + "\r\n";
        if (!SendAll(conn, listing + ".\r\n")) {
          AddError("send failed for CAPA");
          return false;
        }
      }
      if (!got) {
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
    case TStep::skSilence: {
      std::string line;
      if (!ReadLine(conn, line, step.Ms)) return true;
      AddError("expected silence, got \"" + line + "\"");
      return false;
    }
    case TStep::skClose:
      return false;
    case TStep::skHalfClose:
      if (ssl_) SSL_shutdown(ssl_);
      shutdown(conn, SHUT_WR);
      return true;
    case TStep::skStartTls:
      return Handshake(conn, step);
  }
  return false;
}

void TScriptedPop3Server::Run() {
  // A write to a client that has gone must fail, not raise SIGPIPE (OpenSSL
  // writes without MSG_NOSIGNAL); the signal stays pending in this thread.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
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
    FreeTls();
    close(conn);
  }
  std::lock_guard lock(mutex_);
  done_ = true;
  doneCv_.notify_all();
}

}  // namespace qnb::test
