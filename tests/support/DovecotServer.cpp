#include "support/DovecotServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

extern char** environ;

namespace qnb::test {

namespace fs = std::filesystem;

namespace {

struct TMailIds {
  uid_t Uid;
  gid_t Gid;
  std::string User;
  std::string Group;
};

TMailIds MailIds() {
  const passwd* pw = geteuid() == 0 ? getpwnam("nobody") : getpwuid(geteuid());
  if (!pw) throw std::runtime_error("no passwd entry for the Dovecot mail user");
  TMailIds ids{pw->pw_uid, geteuid() == 0 ? pw->pw_gid : getegid(), pw->pw_name, {}};
  const group* gr = getgrgid(ids.Gid);
  if (!gr) throw std::runtime_error("no group entry for the Dovecot mail user");
  ids.Group = gr->gr_name;
  return ids;
}

std::string DovecotBinary() {
  const char* v = std::getenv("QUENBELL_DOVECOT");
  return v && *v ? v : "/usr/sbin/dovecot";
}

void WriteText(const fs::path& p, const std::string& text) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << text;
  f.close();
  if (!f) throw std::runtime_error("cannot write " + p.string());
}

void CheckName(const std::string& s) {
  // Users end up in a passwd-file and in paths.
  if (s.empty() || s.find_first_of(":/\n\r\t ") != std::string::npos || s == "." || s == "..")
    throw std::invalid_argument("unusable Dovecot user name: " + s);
}

int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  if (s >= 0) close(s);
  if (port == 0) throw std::runtime_error("no free port on 127.0.0.1");
  return port;
}

}  // namespace

fs::path WriteDovecotConfig(const fs::path& dir, int port, const std::vector<TDovecotUser>& users,
                            const TDovecotTls& tls, int tlsPort, int imapPort, int imapTlsPort) {
  const bool secure = tls.Ssl != "no";
  if (secure && (tls.CertFile.empty() || tls.KeyFile.empty()))
    throw std::invalid_argument("Dovecot with ssl = " + tls.Ssl + " needs a certificate and a key");
  TMailIds ids = MailIds();
  bool root = geteuid() == 0;
  fs::create_directories(dir / "run");
  fs::create_directories(dir / "state");
  fs::create_directories(dir / "home");
  if (root) fs::permissions(dir, fs::perms(0755));

  std::ostringstream pw;
  for (const auto& u : users) {
    CheckName(u.Name);
    if (u.Password.find_first_of(":\n\r") != std::string::npos)
      throw std::invalid_argument("unusable Dovecot password for " + u.Name);
    fs::path home = dir / "home" / u.Name;
    for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(home / "Maildir" / sub);
    if (root) {
      for (const fs::path& p : {home, home / "Maildir", home / "Maildir" / "cur", home / "Maildir" / "new",
                                home / "Maildir" / "tmp"})
        if (chown(p.c_str(), ids.Uid, ids.Gid) != 0) throw std::runtime_error("cannot chown " + p.string());
    }
    pw << u.Name << ":{PLAIN}" << u.Password << ':' << ids.Uid << ':' << ids.Gid << "::" << home.string()
       << "::\n";
  }
  WriteText(dir / "users", pw.str());

  const std::string d = dir.string();
  std::ostringstream c;
  c << "# Written by the Quenbell test fixture: one POP3 listener on loopback.\n"
       "protocols = pop3" << (imapPort ? " imap" : "") << "\n"
       "listen = 127.0.0.1\n"
       "base_dir = " << d << "/run\n"
       "state_dir = " << d << "/state\n"
       "log_path = " << d << "/dovecot.log\n"
       "info_log_path = " << d << "/dovecot.log\n"
       "ssl = " << (secure ? tls.Ssl : "no") << "\n";
  if (secure) c << "ssl_cert = <" << tls.CertFile.string() << "\nssl_key = <" << tls.KeyFile.string() << "\n";
  c << "disable_plaintext_auth = no\n"
       "auth_mechanisms = plain\n"
       "auth_failure_delay = 0\n"
       "default_internal_user = " << ids.User << "\n"
       "default_internal_group = " << ids.Group << "\n"
       "default_login_user = " << ids.User << "\n"
       "first_valid_uid = " << ids.Uid << "\n"
       "first_valid_gid = " << ids.Gid << "\n"
       "mail_location = maildir:~/Maildir\n"
       "mail_fsync = never\n"
       "mail_max_userip_connections = 100\n"
       "pop3_uidl_format = %08Xu%08Xv\n"
       "passdb {\n"
       "  driver = passwd-file\n"
       "  args = scheme=PLAIN username_format=%u " << d << "/users\n"
       "}\n"
       "userdb {\n"
       "  driver = passwd-file\n"
       "  args = username_format=%u " << d << "/users\n"
       "}\n"
       "service pop3-login {\n"
       "  chroot =\n"
       "  inet_listener pop3 {\n"
       "    address = 127.0.0.1\n"
       "    port = " << port << "\n"
       "  }\n";
  if (secure)
    c << "  inet_listener pop3s {\n"
         "    address = 127.0.0.1\n"
         "    port = " << tlsPort << "\n"
         "    ssl = yes\n"
         "  }\n";
  c << "}\n";
  if (imapPort) {
    c << "mailbox_idle_check_interval = 1 secs\n"
         "service imap-login {\n"
         "  chroot =\n"
         "  inet_listener imap {\n"
         "    address = 127.0.0.1\n"
         "    port = " << imapPort << "\n"
         "  }\n";
    if (secure)
      c << "  inet_listener imaps {\n"
           "    address = 127.0.0.1\n"
           "    port = " << imapTlsPort << "\n"
           "    ssl = yes\n"
           "  }\n";
    c << "}\n";
  }
  c << "service anvil {\n"
       "  chroot =\n"
       "  unix_listener anvil-auth-penalty {\n"
       "    mode = 0\n"
       "  }\n"
       "}\n";
  fs::path conf = dir / "dovecot.conf";
  WriteText(conf, c.str());
  return conf;
}

TDovecotServer::TDovecotServer(std::vector<TDovecotUser> users) : users_(std::move(users)) {
  // Under root the server's processes run as "nobody" and must reach the folder.
  if (geteuid() == 0) fs::permissions(temp_.Path(), fs::perms(0755));
  dir_ = temp_.Path() / "dovecot";
  fs::create_directories(dir_);
  // The Maildirs exist before Start, so that mails can be added first.
  WriteDovecotConfig(dir_, 0, users_);
}

TDovecotServer::~TDovecotServer() { Stop(); }

fs::path TDovecotServer::MaildirOf(const std::string& user) const { return dir_ / "home" / user / "Maildir"; }

void TDovecotServer::ChownToMailUser(const fs::path& p) const {
  if (geteuid() != 0) return;
  TMailIds ids = MailIds();
  if (chown(p.c_str(), ids.Uid, ids.Gid) != 0) throw std::runtime_error("cannot chown " + p.string());
}

fs::path TDovecotServer::AddMessage(const std::string& user, const std::string& content) {
  fs::path md = MaildirOf(user);
  if (!fs::is_directory(md)) throw std::invalid_argument("no such Dovecot user: " + user);
  // Dovecot numbers new mails by the time stamp and the microsecond field of
  // the Maildir name, so these fields carry the order of adding.
  ++seq_;
  char name[96];
  std::snprintf(name, sizeof name, "%ld.M%06ldP%d.quenbell", 1000000000L + seq_, seq_ % 1000000, 1);
  fs::path tmp = md / "tmp" / name;
  fs::path dst = md / "new" / name;
  WriteText(tmp, content);
  ChownToMailUser(tmp);
  fs::rename(tmp, dst);
  return dst;
}

bool TDovecotServer::SessionsEnded(const std::string& user) const {
  // Each session of the user logs its login, and its end once its last
  // changes to the mailbox are made.
  const std::string log = Log();
  const std::string login = "Login: user=<" + user + ">";
  size_t logins = 0, ends = 0;
  for (size_t p = log.find(login); p != std::string::npos; p = log.find(login, p + 1)) ++logins;
  for (const char* service : {"pop3(", "imap("}) {
    const std::string who = service + user + ")";
    for (size_t p = log.find(who); p != std::string::npos; p = log.find(who, p + 1)) {
      const size_t eol = log.find('\n', p);
      const std::string_view line(log.data() + p, (eol == std::string::npos ? log.size() : eol) - p);
      if (line.find("Disconnected") != std::string_view::npos) ++ends;
    }
  }
  return ends >= logins;
}

void TDovecotServer::ClearMailbox(const std::string& user) {
  // A session of the last check may still be setting the flags of its mails
  // (a rename each); a mail renamed after it was listed here would survive.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!SessionsEnded(user) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  fs::path md = MaildirOf(user);
  for (const char* sub : {"cur", "new"}) {
    std::error_code ec;
    for (fs::directory_iterator it(md / sub, ec), end; !ec && it != end; it.increment(ec)) fs::remove(it->path(), ec);
  }
}

std::string TDovecotServer::Log() const {
  std::string log;
  for (const char* f : {"dovecot.log", "dovecot.out"}) {
    std::ifstream in(dir_ / f, std::ios::binary);
    if (in) log += std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return log;
}

bool TDovecotServer::WaitForLog(const std::string& text, int timeoutMs, size_t from) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::string log = Log();
    if (log.size() > from && log.find(text, from) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void TDovecotServer::Spawn() {
  std::string bin = DovecotBinary();
  std::string conf = (dir_ / "dovecot.conf").string();
  std::string out = (dir_ / "dovecot.out").string();
  std::vector<std::string> args = {bin, "-F", "-c", conf};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  posix_spawnattr_t at;
  posix_spawnattr_init(&at);
  // Its own process group, so that Stop() reaches every process it forks.
  posix_spawnattr_setpgroup(&at, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&at, &none);
  posix_spawnattr_setflags(&at, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, bin.c_str(), &fa, &at, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&at);
  if (rc != 0) throw std::runtime_error("cannot start " + bin + ": " + std::strerror(rc));
  pid_ = pid;
}

bool TDovecotServer::WaitReady(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto accepts = [](int port) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    bool up = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return up;
  };
  // Every listener, as the master opens them one after another.
  std::vector<int> ports = {port_};
  for (int p : {imapPort_, imapTlsPort_})
    if (p) ports.push_back(p);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Exited()) return false;
    // Another test's server may hold a port we probed as free: only once our
    // master says it started have its own listeners been bound.
    if (Log().find("starting up") != std::string::npos && std::all_of(ports.begin(), ports.end(), accepts))
      return !Exited();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void TDovecotServer::Start() {
  if (Running()) return;
  if (access(DovecotBinary().c_str(), X_OK) != 0)
    throw std::runtime_error(DovecotBinary() + " is missing (Debian package dovecot-pop3d)");
  std::string lastLog;
  // The free port may be taken between the probe and Dovecot's bind: retry.
  for (int attempt = 0; attempt < 3; ++attempt) {
    port_ = FreePort();
    do tlsPort_ = tls_.Ssl != "no" ? FreePort() : 0;
    while (tlsPort_ == port_);
    imapPort_ = imapTlsPort_ = 0;
    if (imap_) {
      do imapPort_ = FreePort();
      while (imapPort_ == port_ || imapPort_ == tlsPort_);
      if (tls_.Ssl != "no") {
        do imapTlsPort_ = FreePort();
        while (imapTlsPort_ == port_ || imapTlsPort_ == tlsPort_ || imapTlsPort_ == imapPort_);
      }
    }
    // A fresh base_dir each time: stale sockets there slow Dovecot down.
    fs::remove_all(dir_ / "run");
    WriteDovecotConfig(dir_, port_, users_, tls_, tlsPort_, imapPort_, imapTlsPort_);
    Spawn();
    if (WaitReady(15000)) return;
    lastLog = Log();
    Stop();
  }
  throw std::runtime_error("Dovecot did not start:\n" + lastLog);
}

bool TDovecotServer::Exited() const {
  // WNOWAIT leaves the master a zombie, which keeps its process group id from
  // being reused until Stop() has signalled the group.
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_;
}

void TDovecotServer::Stop() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGTERM);
  for (int i = 0; i < 500 && !Exited(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  // Whatever of the group is left (the master's children, or a master that
  // did not stop) goes now.
  kill(-pid_, SIGKILL);
  int status;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

}  // namespace qnb::test
