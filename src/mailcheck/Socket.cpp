#include "mailcheck/Socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

namespace qnb {

namespace {

using TClock = std::chrono::steady_clock;

int MsLeft(TClock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

void SetFlags(int fd, bool nonBlocking) {
  int fl = fcntl(fd, F_GETFL);
  if (nonBlocking) fcntl(fd, F_SETFL, fl | O_NONBLOCK);
  fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

std::string SocketErrorText(int code, const std::string& text) {
  return "Socket error " + std::to_string(code) + ": " + text;
}

struct TAddrInfoFree {
  void operator()(addrinfo* p) const { freeaddrinfo(p); }
};

}  // namespace

std::string SocketErrorMessage(int err) {
  char buf[256];
  // GNU strerror_r may return a static string instead of filling buf.
  const char* s = strerror_r(err, buf, sizeof buf);
  return SocketErrorText(err, s);
}

TSocket::TSocket() {
  int p[2];
  if (pipe(p) != 0) ThrowErrno(errno);
  SetFlags(p[0], true);
  SetFlags(p[1], true);
  wakeRead_ = p[0];
  wakeWrite_ = p[1];
}

TSocket::~TSocket() {
  int fd = fd_.exchange(-1);
  if (fd >= 0) close(fd);
  close(wakeRead_);
  close(wakeWrite_);
}

void TSocket::ThrowIfClosed() const {
  if (state_.load() == ssClosed) throw ENetFailure(kNotConnected);
}

void TSocket::ThrowErrno(int err) { throw ESocketError(err, SocketErrorMessage(err)); }

bool TSocket::WaitFor(short events, int timeoutMs) {
  auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    ThrowIfClosed();
    pollfd fds[2] = {{fd_.load(), events, 0}, {wakeRead_, POLLIN, 0}};
    int r = poll(fds, 2, MsLeft(deadline));
    if (r < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno);
    }
    ThrowIfClosed();
    if (r == 0) return false;
    // Errors and hang-ups count as ready: the next call reports them.
    if (fds[0].revents != 0) return true;
  }
}

bool TSocket::WaitReady(bool forWrite, int timeoutMs) { return WaitFor(forWrite ? POLLOUT : POLLIN, timeoutMs); }

void TSocket::Connect(const std::string& host, int port, int timeoutMs) {
  {
    std::lock_guard lock(mutex_);
    if (state_.load() != ssIdle) throw ENetFailure(kNotConnected);
    state_ = ssConnecting;
  }
  auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
  try {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    // The resolver cannot be interrupted; a Close() meanwhile takes effect
    // right after it returns.
    int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
      int code = rc == EAI_SYSTEM ? errno : rc;
      throw ESocketError(code, SocketErrorText(code, gai_strerror(rc)));
    }
    std::unique_ptr<addrinfo, TAddrInfoFree> list(found);

    int lastErr = 0;
    for (addrinfo* ai = list.get(); ai; ai = ai->ai_next) {
      int fd = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
      if (fd < 0) {
        lastErr = errno;
        continue;
      }
      SetFlags(fd, true);
      {
        std::lock_guard lock(mutex_);
        if (state_.load() == ssClosed) {
          close(fd);
          throw ENetFailure(kNotConnected);
        }
        fd_ = fd;
      }
      int err = 0;
      if (connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
        err = errno;
        if (err == EINPROGRESS) {
          if (!WaitFor(POLLOUT, MsLeft(deadline))) throw ENetFailure(kConnectTimeout);
          socklen_t len = sizeof err;
          if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        }
      }
      if (err == 0) {
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard lock(mutex_);
        if (state_.load() == ssClosed) throw ENetFailure(kNotConnected);
        state_ = ssOpen;
        return;
      }
      lastErr = err;
      {
        std::lock_guard lock(mutex_);
        fd_ = -1;
        close(fd);
      }
      if (ai->ai_next && MsLeft(deadline) == 0) throw ENetFailure(kConnectTimeout);
    }
    ThrowErrno(lastErr ? lastErr : ECONNREFUSED);
  } catch (...) {
    Close();
    throw;
  }
}

size_t TSocket::Read(char* buf, size_t size) {
  for (;;) {
    TState st = state_.load();
    if (st == ssPeerClosed) return 0;
    if (st != ssOpen) throw ENetFailure(kNotConnected);
    ssize_t n = recv(fd_.load(), buf, size, MSG_DONTWAIT);
    if (n > 0) return static_cast<size_t>(n);
    if (n == 0) {
      // A Close() from another thread also ends in an empty read.
      ThrowIfClosed();
      TState expected = ssOpen;
      state_.compare_exchange_strong(expected, ssPeerClosed);
      return 0;
    }
    int err = errno;
    if (err == EINTR) continue;
    if (err != EAGAIN && err != EWOULDBLOCK) {
      ThrowIfClosed();
      ThrowErrno(err);
    }
    if (!WaitFor(POLLIN, readTimeoutMs_)) throw ENetFailure(kReadTimeout);
  }
}

void TSocket::Write(std::string_view data) {
  while (!data.empty()) {
    TState st = state_.load();
    if (st != ssOpen && st != ssPeerClosed) throw ENetFailure(kNotConnected);
    ssize_t n = send(fd_.load(), data.data(), data.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) {
      data.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    int err = errno;
    if (err == EINTR) continue;
    if (err != EAGAIN && err != EWOULDBLOCK) {
      ThrowIfClosed();
      ThrowErrno(err);
    }
    if (!WaitFor(POLLOUT, readTimeoutMs_)) throw ENetFailure(kReadTimeout);
  }
}

bool TSocket::IsOpen() {
  if (state_.load() != ssOpen) return false;
  int fd = fd_.load();
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0) return true;
  if (p.revents & (POLLERR | POLLNVAL)) return false;
  char c;
  ssize_t n = recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n > 0) return true;  // unread data: the connection still holds something
  if (n == 0) {
    TState expected = ssOpen;
    state_.compare_exchange_strong(expected, ssPeerClosed);
    return false;
  }
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

void TSocket::Close() noexcept {
  std::lock_guard lock(mutex_);
  if (state_.exchange(ssClosed) == ssClosed) return;
  int fd = fd_.load();
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
  char c = 1;
  ssize_t ignored = write(wakeWrite_, &c, 1);
  (void)ignored;
}

}  // namespace qnb
