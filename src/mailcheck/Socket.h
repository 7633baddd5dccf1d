#pragma once
// The network layer under the POP3 session: a TCP connection with time-outs
// over POSIX sockets, seen by the layers above as an abstract byte stream (the
// TLS stream of TlsStream.h sits between the socket and the line reader).
//
// Failures come in two kinds, kept apart because the account check reports
// them differently:
//   ESocketError  the network layer reported an error (name resolution,
//                 refused, reset, failed send or receive); carries its code.
//   ENetFailure   anything else: time-outs, a closed or never opened
//                 connection, and the failures of the layers above that are
//                 not protocol replies (over-long line, unrecognised reply).

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qnb {

// Base of every failure of the POP3 client layers.
struct ENetError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Code: a positive errno value, or a negative resolver code (EAI_*) when the
// host name could not be resolved.
class ESocketError : public ENetError {
 public:
  ESocketError(int code, const std::string& msg) : ENetError(msg), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

struct ENetFailure : ENetError {
  using ENetError::ENetError;
};

// Texts of the failures that callers may want to tell apart.
inline constexpr const char* kReadTimeout = "Read Timeout";
inline constexpr const char* kConnectTimeout = "Connect Timeout";
inline constexpr const char* kNotConnected = "Not Connected";
inline constexpr const char* kClosedByPeer = "Connection Closed Gracefully";

// "Socket error N: " and the system's text for the errno value.
std::string SocketErrorMessage(int err);

class TByteStream {
 public:
  virtual ~TByteStream() = default;
  // Waits for data and returns at least one byte; 0 means the peer closed the
  // connection. Throws on errors, on the read time-out and once closed.
  virtual size_t Read(char* buf, size_t size) = 0;
  // Sends all of data or throws.
  virtual void Write(std::string_view data) = 0;
  // True while the connection is open and not seen closed by the peer.
  virtual bool IsOpen() = 0;
  // May be called from any thread: ends the connection, and a Read, Write or
  // connect blocked in another thread fails at once. Never throws.
  virtual void Close() noexcept = 0;
};

class TSocket final : public TByteStream {
 public:
  TSocket();
  ~TSocket() override;
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;

  // Longest wait for any data (and for room to send), in milliseconds.
  void SetReadTimeout(int ms) { readTimeoutMs_ = ms; }
  int ReadTimeout() const { return readTimeoutMs_; }

  // Resolves host and connects to the first address that answers within
  // timeoutMs (for all addresses together). A socket connects once: after
  // Close, or after a failed attempt, it stays closed.
  void Connect(const std::string& host, int port, int timeoutMs);

  size_t Read(char* buf, size_t size) override;
  void Write(std::string_view data) override;
  bool IsOpen() override;
  void Close() noexcept override;

  // For a layer that reads and writes the descriptor itself (TLS): -1 before
  // Connect. The number stays valid until the socket is destroyed.
  int Handle() const { return fd_.load(); }
  // True once Close() has been called, from whatever thread.
  bool Closed() const { return state_.load() == ssClosed; }
  // Waits until the descriptor is ready for reading (or writing); false on
  // time-out. Throws ENetFailure(kNotConnected) once closed, also when Close()
  // comes from another thread during the wait.
  bool WaitReady(bool forWrite, int timeoutMs);

 private:
  enum TState { ssIdle, ssConnecting, ssOpen, ssPeerClosed, ssClosed };

  // Waits until fd_ is ready for `events` or the wake pipe fires; false on
  // time-out. Throws kNotConnected once closed.
  bool WaitFor(short events, int timeoutMs);
  void ThrowIfClosed() const;
  [[noreturn]] static void ThrowErrno(int err);

  std::atomic<int> fd_{-1};
  // Written once by Close() to wake a poll() in another thread.
  int wakeRead_ = -1, wakeWrite_ = -1;
  std::atomic<TState> state_{ssIdle};
  // Orders Close() against Connect() installing a new descriptor. The
  // descriptor itself is only closed by the destructor (or by Connect, for an
  // attempt that failed), so a Close() from another thread never meets a
  // reused descriptor number.
  std::mutex mutex_;
  std::atomic<int> readTimeoutMs_{100000};
};

}  // namespace qnb
