#include "mailcheck/TlsStream.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace qnb {

namespace {

// A BIO on the socket's descriptor. OpenSSL's own socket BIO writes with
// write(), which raises SIGPIPE on a connection the server has reset; this one
// sends with MSG_NOSIGNAL and never blocks.
struct TSockBio {
  int fd;
  bool eof = false;
};

TSockBio* SockOf(BIO* b) { return static_cast<TSockBio*>(BIO_get_data(b)); }

int SockWrite(BIO* b, const char* data, size_t len, size_t* written) {
  BIO_clear_retry_flags(b);
  for (;;) {
    ssize_t n = send(SockOf(b)->fd, data, len, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      *written = static_cast<size_t>(n);
      return 1;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_write(b);
    return 0;
  }
}

int SockRead(BIO* b, char* data, size_t len, size_t* read) {
  BIO_clear_retry_flags(b);
  for (;;) {
    ssize_t n = recv(SockOf(b)->fd, data, len, MSG_DONTWAIT);
    if (n > 0) {
      *read = static_cast<size_t>(n);
      return 1;
    }
    if (n == 0) {
      SockOf(b)->eof = true;
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_read(b);
    return 0;
  }
}

long SockCtrl(BIO* b, int cmd, long, void*) {
  switch (cmd) {
    case BIO_CTRL_FLUSH: return 1;
    case BIO_CTRL_EOF: return SockOf(b)->eof ? 1 : 0;
    default: return 0;
  }
}

int SockDestroy(BIO* b) {
  delete SockOf(b);
  BIO_set_data(b, nullptr);
  return 1;
}

const BIO_METHOD* SockMethod() {
  // Made once and kept for the life of the process.
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quenbell socket");
    if (m) {
      BIO_meth_set_write_ex(m, SockWrite);
      BIO_meth_set_read_ex(m, SockRead);
      BIO_meth_set_ctrl(m, SockCtrl);
      BIO_meth_set_destroy(m, SockDestroy);
    }
    return m;
  }();
  return method;
}

bool IsAddressLiteral(const std::string& host) {
  unsigned char buf[sizeof(in6_addr)];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// The reason of the newest entry in this thread's OpenSSL error queue.
std::string QueuedReason() {
  unsigned long e = ERR_peek_last_error();
  if (e == 0) return {};
  if (const char* r = ERR_reason_error_string(e)) return r;
  char buf[256];
  ERR_error_string_n(e, buf, sizeof buf);
  return buf;
}

thread_local TTlsPeerInfo* tReport = nullptr;

std::string NameText(const X509_NAME* name) {
  if (!name) return {};
  BIO* b = BIO_new(BIO_s_mem());
  if (!b) return {};
  X509_NAME_print_ex(b, name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long n = BIO_get_mem_data(b, &data);
  std::string s(data, static_cast<size_t>(n > 0 ? n : 0));
  BIO_free(b);
  return s;
}

std::string TimeText(const ASN1_TIME* t) {
  if (!t) return {};
  BIO* b = BIO_new(BIO_s_mem());
  if (!b) return {};
  ASN1_TIME_print(b, t);
  char* data = nullptr;
  const long n = BIO_get_mem_data(b, &data);
  std::string s(data, static_cast<size_t>(n > 0 ? n : 0));
  BIO_free(b);
  return s;
}

// Fills the report of this thread, if one is asked for; needs the lock.
void Report(SSL* ssl, bool handshaken) {
  if (!tReport || !ssl) return;
  TTlsPeerInfo& r = *tReport;
  r = {};
  r.Handshaken = handshaken;
  if (handshaken) {
    r.Protocol = SSL_get_version(ssl);
    if (const char* c = SSL_get_cipher_name(ssl)) r.Cipher = c;
  }
  // A chain that failed to verify is still there to look at; the leaf comes first.
  X509* cert = SSL_get0_peer_certificate(ssl);
  if (!cert) {
    STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl);
    if (chain && sk_X509_num(chain) > 0) cert = sk_X509_value(chain, 0);
  }
  if (!cert) return;
  r.HaveCertificate = true;
  r.Subject = NameText(X509_get_subject_name(cert));
  r.Issuer = NameText(X509_get_issuer_name(cert));
  r.NotBefore = TimeText(X509_get0_notBefore(cert));
  r.NotAfter = TimeText(X509_get0_notAfter(cert));
}

}  // namespace

TTlsReportScope::TTlsReportScope(TTlsPeerInfo& info) : old_(tReport) { tReport = &info; }
TTlsReportScope::~TTlsReportScope() { tReport = old_; }

TTlsStream::~TTlsStream() { FreeTls(); }

void TTlsStream::FreeTls() noexcept {
  std::lock_guard lock(mutex_);
  SSL_free(ssl_);
  SSL_CTX_free(ctx_);
  ssl_ = nullptr;
  ctx_ = nullptr;
}

void TTlsStream::Fail(int kind, int err, const char* during) {
  // Our own Close() also ends in failed calls; that is no TLS failure.
  if (socket_.Closed()) throw ENetFailure(kNotConnected);
  if (kind == SSL_ERROR_SYSCALL && ERR_peek_error() == 0 && err != 0) {
    // A server that drops the connection before the handshake is done (a reset
    // when our hello was still unread) fails the secure connection.
    if (mode_.load() == tmHandshake)
      throw ETlsError(std::string("the server closed the connection during the ") + during + " (" +
                      SocketErrorMessage(err) + ")");
    throw ESocketError(err, SocketErrorMessage(err));
  }
  if (mode_.load() == tmHandshake) {
    Report(ssl_, false);
    const long verify = SSL_get_verify_result(ssl_);
    if (verify != X509_V_OK)
      throw ETlsError(std::string("certificate verify failed: ") + X509_verify_cert_error_string(verify));
  }
  std::string reason = QueuedReason();
  if (reason.empty()) {
    reason = kind == SSL_ERROR_ZERO_RETURN || kind == SSL_ERROR_SYSCALL
                 ? std::string("the server closed the connection during the ") + during
                 : std::string("TLS error ") + std::to_string(kind) + " during the " + during;
  }
  throw ETlsError(reason);
}

void TTlsStream::StartTls(const std::string& host, const std::string& caFile, int timeoutMs) {
  {
    std::lock_guard lock(mutex_);
    if (mode_.load() != tmPlain || socket_.Closed() || socket_.Handle() < 0) throw ENetFailure(kNotConnected);
    // From here a failure leaves a stream that carries nothing, plain or not.
    mode_ = tmHandshake;
    // Without a name nothing could be checked, and OpenSSL would check nothing.
    if (host.empty()) throw ETlsError("no host name to check the certificate against");
    ERR_clear_error();
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_) throw ETlsError("cannot set up TLS: " + QueuedReason());
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    // The end of a POP3 answer is its own terminator, so a connection cut
    // without close_notify loses nothing unseen: treat it as a plain close.
    SSL_CTX_set_options(ctx_, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(ctx_, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
    // A system without a CA store still gets a clear verify failure later.
    SSL_CTX_set_default_verify_paths(ctx_);
    ERR_clear_error();
    if (!caFile.empty() && SSL_CTX_load_verify_locations(ctx_, caFile.c_str(), nullptr) != 1)
      throw ETlsError("cannot load the CA file \"" + caFile + "\": " + QueuedReason());

    ssl_ = SSL_new(ctx_);
    BIO* bio = SockMethod() ? BIO_new(SockMethod()) : nullptr;
    if (!ssl_ || !bio) {
      BIO_free(bio);
      throw ETlsError("cannot set up TLS: " + QueuedReason());
    }
    BIO_set_data(bio, new TSockBio{socket_.Handle()});
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl_, bio, bio);

    bool named;
    if (IsAddressLiteral(host)) {
      named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.c_str()) == 1;
    } else {
      SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      named = SSL_set_tlsext_host_name(ssl_, host.c_str()) == 1 && SSL_set1_host(ssl_, host.c_str()) == 1;
    }
    if (!named) throw ETlsError("cannot check a certificate for the host \"" + host.substr(0, 100) + "\"");
    SSL_set_connect_state(ssl_);
  }
  for (;;) {
    bool forWrite;
    {
      std::lock_guard lock(mutex_);
      if (socket_.Closed()) throw ENetFailure(kNotConnected);
      ERR_clear_error();
      errno = 0;
      const int r = SSL_do_handshake(ssl_);
      const int err = errno;
      if (r == 1) {
        Report(ssl_, true);
        // SSL_VERIFY_PEER has failed the handshake already for a bad chain;
        // this also holds when no certificate came at all.
        if (!SSL_get0_peer_certificate(ssl_)) throw ETlsError("the server sent no certificate");
        if (long v = SSL_get_verify_result(ssl_); v != X509_V_OK)
          throw ETlsError(std::string("certificate verify failed: ") + X509_verify_cert_error_string(v));
        mode_ = tmOpen;
        return;
      }
      const int kind = SSL_get_error(ssl_, r);
      if (kind == SSL_ERROR_WANT_READ) forWrite = false;
      else if (kind == SSL_ERROR_WANT_WRITE) forWrite = true;
      else Fail(kind, err, "handshake");
    }
    if (!socket_.WaitReady(forWrite, timeoutMs)) throw ENetFailure(kReadTimeout);
  }
}

size_t TTlsStream::Read(char* buf, size_t size) {
  if (mode_.load() == tmPlain) return socket_.Read(buf, size);
  for (;;) {
    bool forWrite;
    {
      std::lock_guard lock(mutex_);
      if (mode_.load() != tmOpen || socket_.Closed()) throw ENetFailure(kNotConnected);
      if (peerClosed_) return 0;
      ERR_clear_error();
      errno = 0;
      size_t n = 0;
      const int r = SSL_read_ex(ssl_, buf, size, &n);
      const int err = errno;
      if (r == 1) return n;
      const int kind = SSL_get_error(ssl_, r);
      if (kind == SSL_ERROR_ZERO_RETURN) {
        if (socket_.Closed()) throw ENetFailure(kNotConnected);
        peerClosed_ = true;
        return 0;
      }
      if (kind == SSL_ERROR_WANT_READ) forWrite = false;
      else if (kind == SSL_ERROR_WANT_WRITE) forWrite = true;
      else Fail(kind, err, "read");
    }
    if (!socket_.WaitReady(forWrite, socket_.ReadTimeout())) throw ENetFailure(kReadTimeout);
  }
}

void TTlsStream::Write(std::string_view data) {
  if (mode_.load() == tmPlain) {
    socket_.Write(data);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    if (mode_.load() != tmOpen || socket_.Closed()) throw ENetFailure(kNotConnected);
    // A pending TLS write must be repeated unchanged; a second writer (QUIT
    // from the stop request) would break it.
    if (writing_) throw ENetFailure(kWriteBusy);
    writing_ = true;
  }
  struct TWriteDone {
    TTlsStream& s;
    ~TWriteDone() {
      std::lock_guard lock(s.mutex_);
      s.writing_ = false;
    }
  } done{*this};
  while (!data.empty()) {
    bool forWrite;
    {
      std::lock_guard lock(mutex_);
      if (socket_.Closed()) throw ENetFailure(kNotConnected);
      ERR_clear_error();
      errno = 0;
      size_t n = 0;
      const int r = SSL_write_ex(ssl_, data.data(), data.size(), &n);
      const int err = errno;
      if (r == 1) {
        data.remove_prefix(n);
        continue;
      }
      const int kind = SSL_get_error(ssl_, r);
      if (kind == SSL_ERROR_WANT_READ) forWrite = false;
      else if (kind == SSL_ERROR_WANT_WRITE) forWrite = true;
      else Fail(kind, err, "write");
    }
    if (!socket_.WaitReady(forWrite, socket_.ReadTimeout())) throw ENetFailure(kReadTimeout);
  }
}

bool TTlsStream::IsOpen() {
  switch (mode_.load()) {
    case tmPlain: return socket_.IsOpen();
    case tmOpen: return !peerClosed_ && socket_.IsOpen();
    default: return false;  // a handshake that has not finished carries nothing
  }
}

void TTlsStream::Close() noexcept {
  {
    std::lock_guard lock(mutex_);
    if (mode_.load() == tmOpen && !writing_ && !socket_.Closed()) {
      // One attempt that does not wait; the socket goes either way.
      SSL_shutdown(ssl_);
      ERR_clear_error();
    }
  }
  socket_.Close();
}

}  // namespace qnb
