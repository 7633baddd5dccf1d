#pragma once
// TLS between the socket and the line reader. The stream passes bytes through
// to the socket until StartTls() and speaks TLS (1.2 or later, certificate
// checked against the system's CA store and the host name) from then on, so
// that STLS can switch an open POP3 connection in place.
//
// The TLS object sits directly on the socket's descriptor, non-blocking: every
// wait is the socket's poll, so Close() from another thread (the stop
// request) ends a blocked handshake, read or write at once, as it does for
// plain TCP. TLS calls from the two threads are serialised by a lock that is
// never held while waiting.

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

#include "mailcheck/Socket.h"

struct ssl_st;
struct ssl_ctx_st;

namespace qnb {

// The secure connection could not be made or broke: a failed handshake, a
// certificate that does not verify, a server that refuses STLS, a damaged
// TLS record. The message is the reason, for "Secure connection to ... failed".
struct ETlsError : ENetError {
  using ENetError::ENetError;
};

// What a handshake showed: the negotiated protocol and cipher, and the
// server's certificate (also when it did not verify).
struct TTlsPeerInfo {
  bool Handshaken = false;  // the handshake succeeded
  std::string Protocol;     // "TLSv1.3"
  std::string Cipher;       // "TLS_AES_256_GCM_SHA384"
  bool HaveCertificate = false;
  std::string Subject, Issuer;   // one-line distinguished names
  std::string NotBefore, NotAfter;  // "Jan  1 00:00:00 2026 GMT"
};

// While it lives, every handshake of this thread's streams reports to info
// (the connection test asks for it; a check never does).
class TTlsReportScope {
 public:
  explicit TTlsReportScope(TTlsPeerInfo& info);
  ~TTlsReportScope();
  TTlsReportScope(const TTlsReportScope&) = delete;
  TTlsReportScope& operator=(const TTlsReportScope&) = delete;

 private:
  TTlsPeerInfo* old_;
};

// Text of the failure when a second thread writes while a write is pending.
inline constexpr const char* kWriteBusy = "Another write is in progress";

class TTlsStream final : public TByteStream {
 public:
  explicit TTlsStream(TSocket& socket) : socket_(socket) {}
  ~TTlsStream() override;
  TTlsStream(const TTlsStream&) = delete;
  TTlsStream& operator=(const TTlsStream&) = delete;

  // Handshake on the open socket. host is the name or address the server's
  // certificate must be issued for (also sent as SNI when it is a name);
  // caFile, when not empty, is a PEM file of CAs trusted besides the
  // system's. Each wait lasts at most timeoutMs. Throws ETlsError, or the
  // socket's failures (a reset, the time-out, a Close()).
  void StartTls(const std::string& host, const std::string& caFile, int timeoutMs);

  size_t Read(char* buf, size_t size) override;
  void Write(std::string_view data) override;
  bool IsOpen() override;
  // Sends a close_notify when it can do so without waiting, then closes the
  // socket. Any thread.
  void Close() noexcept override;

 private:
  enum TMode { tmPlain, tmHandshake, tmOpen };

  // Turns a failed TLS call (SSL_get_error kind, errno right after the call)
  // into the right exception; needs the lock.
  [[noreturn]] void Fail(int kind, int err, const char* during);
  void FreeTls() noexcept;

  TSocket& socket_;
  std::mutex mutex_;  // guards ssl_ and ctx_ and writing_
  ssl_ctx_st* ctx_ = nullptr;
  ssl_st* ssl_ = nullptr;
  bool writing_ = false;
  std::atomic<TMode> mode_{tmPlain};
  std::atomic<bool> peerClosed_{false};
};

}  // namespace qnb
