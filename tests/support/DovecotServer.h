#pragma once
// A real Dovecot POP3 server for the integration tests, the benchmarks and the
// demo: started on 127.0.0.1 on a free port with a configuration of its own in
// a temporary folder, users in a passwd-file and Maildirs below the same
// folder, and stopped (with every process it started) when the object goes.
//
//   TDovecotServer dove({{"alice", "secret"}});
//   dove.AddMessage("alice", "Subject: one\r\n\r\nbody\r\n");
//   dove.Start();
//   ... connect to dove.Host():dove.Port() ...
//
// Only the Dovecot binary is used (QUENBELL_DOVECOT, default /usr/sbin/dovecot);
// no system configuration is read and nothing outside the folder is written.

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/TempDir.h"

namespace qnb::test {

struct TDovecotUser {
  std::string Name;
  std::string Password;
};

// TLS of the server. Ssl "no": plain POP3 only, and STLS is refused ("-ERR TLS
// support isn't enabled."). "yes" or "required": STLS on the POP3 port and a
// second listener (pop3s) with TLS from the first byte, both with the PEM
// certificate and key given. On loopback Dovecot counts a plain connection as
// secured, so even "required" accepts a plain log-in there; its log tells the
// two apart ("Login: ... TLS" against "Login: ... secured").
struct TDovecotTls {
  std::string Ssl = "no";
  std::filesystem::path CertFile;
  std::filesystem::path KeyFile;
};

// Writes a self-contained Dovecot configuration for one POP3 listener on
// 127.0.0.1:port below dir and returns the path of the configuration file.
// A shell script can use the same layout:
//
//   dir/dovecot.conf            the whole configuration (no !include)
//   dir/users                   passwd-file: NAME:{PLAIN}PASSWORD:UID:GID::HOME::
//   dir/home/NAME/Maildir/{cur,new,tmp}   each user's mailbox (HOME = dir/home/NAME)
//   dir/run/                    base_dir (sockets, master.pid)
//   dir/state/                  state_dir
//   dir/dovecot.log             every log line
//
// Run it in the foreground with `dovecot -F -c dir/dovecot.conf`; it is ready
// when the port accepts connections; SIGTERM stops it.
//
// Settings that make it work without a system setup and as any user:
//   - ssl = no (unless tls says otherwise; the pop3s listener on tlsPort then
//     comes too), disable_plaintext_auth = no, auth_mechanisms = plain: plain
//     USER/PASS over loopback.
//   - Dovecot refuses mail access as uid 0, so under root the mail user, the
//     internal user and the login user are "nobody" (group "nogroup"), which
//     every Debian system has, and the folder is made readable for them; under
//     any other user all three are that user.
//   - chroot is switched off for pop3-login and anvil (a non-root master cannot
//     chroot), and the authentication penalty socket of anvil is not created,
//     so that a wrong password is answered at once instead of after seconds.
//   - first_valid_uid/gid are lowered to the mail user's ids.
// Under root, dir and its parents must be searchable by "nobody".
//
// With imapPort, IMAP too: a listener on imapPort (STARTTLS when tls allows)
// and, with TLS, one with TLS from the first byte on imapTlsPort; mailbox
// changes are looked for every second while a client is in IDLE.
std::filesystem::path WriteDovecotConfig(const std::filesystem::path& dir, int port,
                                         const std::vector<TDovecotUser>& users, const TDovecotTls& tls = {},
                                         int tlsPort = 0, int imapPort = 0, int imapTlsPort = 0);

class TDovecotServer {
 public:
  explicit TDovecotServer(std::vector<TDovecotUser> users = {{"user", "pass"}});
  ~TDovecotServer();
  TDovecotServer(const TDovecotServer&) = delete;
  TDovecotServer& operator=(const TDovecotServer&) = delete;

  // TLS for the next Start(); without it the server speaks plain POP3 only.
  void UseTls(TDovecotTls tls) { tls_ = std::move(tls); }
  // IMAP beside POP3 for the next Start(), on ImapPort() (and ImapTlsPort()
  // with TLS); the same users and Maildirs.
  void UseImap(bool on = true) { imap_ = on; }
  // Writes the configuration and starts Dovecot; returns when it accepts
  // connections. Throws std::runtime_error with the log when it does not.
  void Start();
  // Stops Dovecot and waits for its processes; safe to call twice.
  void Stop();
  bool Running() const { return pid_ > 0; }

  const char* Host() const { return "127.0.0.1"; }
  int Port() const { return port_; }
  // The pop3s listener (TLS from the first byte); 0 when tls.Ssl is "no".
  int TlsPort() const { return tlsPort_; }
  // The IMAP listeners; 0 without UseImap (and, for the TLS one, without TLS).
  int ImapPort() const { return imapPort_; }
  int ImapTlsPort() const { return imapTlsPort_; }

  // Adds a mail to the user's Maildir (before or after Start). The server
  // numbers mails in the order they were added. content is stored as it is;
  // Dovecot sends bare LF line ends as CR LF.
  std::filesystem::path AddMessage(const std::string& user, const std::string& content);
  // Removes every mail of the user.
  void ClearMailbox(const std::string& user);
  // Every session of the user that logged in has ended (for tests that wait).
  bool SessionsEnded(const std::string& user) const;

  const std::filesystem::path& Dir() const { return dir_; }
  std::filesystem::path MaildirOf(const std::string& user) const;
  std::string Log() const;
  // Waits until the log, from byte `from` on, holds text; false on time-out.
  // Dovecot writes its log lines a little after the connection they are about.
  bool WaitForLog(const std::string& text, int timeoutMs, size_t from = 0) const;

 private:
  void Spawn();
  bool WaitReady(int timeoutMs);
  bool Exited() const;
  void ChownToMailUser(const std::filesystem::path& p) const;

  TTempDir temp_;
  std::filesystem::path dir_;
  std::vector<TDovecotUser> users_;
  TDovecotTls tls_;
  int port_ = 0;
  int tlsPort_ = 0;
  bool imap_ = false;
  int imapPort_ = 0;
  int imapTlsPort_ = 0;
  pid_t pid_ = -1;
  long seq_ = 0;
};

}  // namespace qnb::test
