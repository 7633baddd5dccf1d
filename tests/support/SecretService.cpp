#include "support/SecretService.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/RunProcess.h"

extern char** environ;

namespace qnb::test {

namespace {

const char* const kDbusDaemon = "/usr/bin/dbus-daemon";
const char* const kDbusSend = "/usr/bin/dbus-send";
const char* const kKeyringDaemon = "/usr/bin/gnome-keyring-daemon";

void Stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(-pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(-pid, SIGKILL);
  int status;
  waitpid(pid, &status, 0);
  pid = -1;
}

}  // namespace

TSecretService::TSecretService() {
  for (const char* bin : {kDbusDaemon, kDbusSend, kKeyringDaemon}) {
    if (access(bin, X_OK) != 0) {
      skip_ = std::string(bin) + " is not installed (packages dbus-daemon, dbus-bin, gnome-keyring)";
      return;
    }
  }
  namespace fs = std::filesystem;
  const fs::path home = dir_.Path() / "home", runtime = dir_.Path() / "run";
  fs::create_directories(home / "data");
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  address_ = "unix:path=" + (dir_.Path() / "bus").string();
  const std::vector<std::pair<std::string, std::string>> env = {
      {"DBUS_SESSION_BUS_ADDRESS", address_},
      {"XDG_RUNTIME_DIR", runtime.string()},
      {"XDG_DATA_HOME", (home / "data").string()},
      {"HOME", home.string()},
      // The keyring daemon must not think a desktop session is there to ask.
      {"DISPLAY", ""},
  };
  for (const auto& [name, value] : env) {
    if (const char* old = std::getenv(name.c_str())) saved_.emplace_back(name, old);
    else unset_.push_back(name);
    if (value.empty()) unsetenv(name.c_str());
    else setenv(name.c_str(), value.c_str(), 1);
  }

  bus_ = Spawn({kDbusDaemon, "--session", "--nofork", "--nopidfile", "--address=" + address_}, {});
  if (bus_ < 0 || !WaitForName("org.freedesktop.DBus", 5000)) {
    error_ = "the private D-Bus session did not start";
    return;
  }
  ready_ = StartKeyring();
}

bool TSecretService::StartKeyring() {
  std::error_code ec;
  std::filesystem::remove_all(dir_.Path() / "home" / "data" / "keyrings", ec);
  // --unlock reads the password from standard input and creates the login
  // keyring with it when there is none.
  keyring_ = Spawn({kKeyringDaemon, "--foreground", "--unlock", "--components=secrets"}, kKeyringPassword);
  if (keyring_ < 0 || !WaitForName("org.freedesktop.secrets", 10000)) {
    error_ = "gnome-keyring-daemon did not take the Secret Service name";
    return false;
  }
  return true;
}

void TSecretService::StopKeyring() {
  Stop(keyring_);
  // The name goes with the daemon's connection.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < end) {
    auto r = RunProcess({kDbusSend, "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.secrets"});
    if (r.status == 0 && r.out.find("boolean false") != std::string::npos) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TSecretService::~TSecretService() {
  Stop(keyring_);
  Stop(bus_);
  for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
  for (const auto& name : unset_) unsetenv(name.c_str());
}

std::vector<std::string> TSecretService::Env() const {
  std::vector<std::string> env;
  for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "XDG_DATA_HOME", "HOME"})
    if (const char* v = std::getenv(name)) env.push_back(std::string(name) + "=" + v);
  return env;
}

pid_t TSecretService::Spawn(const std::vector<std::string>& args, const std::string& input) {
  const std::string log = (dir_.Path() / "daemons.log").string();
  int in[2];
  if (pipe(in) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_addclose(&fa, in[1]);
  posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  posix_spawnattr_t at;
  posix_spawnattr_init(&at);
  // Its own process group, so that the stop reaches whatever it starts.
  posix_spawnattr_setpgroup(&at, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&at, &none);
  posix_spawnattr_setflags(&at, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &fa, &at, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&at);
  close(in[0]);
  if (rc == 0 && !input.empty()) {
    ssize_t n = write(in[1], input.data(), input.size());
    (void)n;
  }
  close(in[1]);
  return rc == 0 ? pid : -1;
}

bool TSecretService::WaitForName(const std::string& name, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    auto r = RunProcess({kDbusSend, "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus.NameHasOwner", "string:" + name});
    if (r.status == 0 && r.out.find("boolean true") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

}  // namespace qnb::test
