#include "analysis/PluginHostClient.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace qnb {

using namespace hostproto;

namespace {

using TClock = std::chrono::steady_clock;

int MsLeft(TClock::time_point deadline) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
  return ms < 0 ? 0 : static_cast<int>(ms);
}

struct TCallFailure {
  bool timedOut;
};

// Waits for the descriptor; TCallFailure at the deadline or on an error.
void WaitFd(int fd, short events, TClock::time_point deadline) {
  for (;;) {
    if (TClock::now() >= deadline) throw TCallFailure{true};
    pollfd p{fd, events, 0};
    const int r = poll(&p, 1, MsLeft(deadline) + 1);
    if (r > 0) return;
    if (r < 0 && errno != EINTR) throw TCallFailure{false};
  }
}

void SendAll(int fd, std::string_view data, TClock::time_point deadline) {
  size_t off = 0;
  while (off < data.size()) {
    const ssize_t n = send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      off += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      WaitFd(fd, POLLOUT, deadline);
      continue;
    }
    throw TCallFailure{false};
  }
}

void ReadAll(int fd, char* buf, size_t size, TClock::time_point deadline) {
  size_t off = 0;
  while (off < size) {
    const ssize_t n = recv(fd, buf + off, size - off, MSG_DONTWAIT);
    if (n > 0) {
      off += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) throw TCallFailure{false};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      WaitFd(fd, POLLIN, deadline);
      continue;
    }
    throw TCallFailure{false};
  }
}

}  // namespace

TPluginHostClient::TPluginHostClient(std::string helperPath, int callTimeoutMs)
    : helperPath_(std::move(helperPath)), timeoutMs_(callTimeoutMs) {}

TPluginHostClient::~TPluginHostClient() {
  if (pid_ >= 0) End(false);
}

void TPluginHostClient::Start() {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
    throw EPluginHost(std::string("cannot start the analyzer helper: ") + std::strerror(errno));
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  // The helper talks over its standard input; what plug-ins print goes to
  // the standard error, never into the messages or the CLI's output.
  posix_spawn_file_actions_adddup2(&fa, sv[1], 0);
  posix_spawn_file_actions_adddup2(&fa, 2, 1);
  char* argv[] = {const_cast<char*>(helperPath_.c_str()), nullptr};
  pid_t pid = -1;
  const int err = posix_spawn(&pid, helperPath_.c_str(), &fa, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&fa);
  close(sv[1]);
  if (err != 0) {
    close(sv[0]);
    throw EPluginHost("cannot start the analyzer helper \"" + helperPath_ + "\": " + std::strerror(err));
  }
  pid_ = pid;
  fd_ = sv[0];
}

void TPluginHostClient::ReadOneAhead() {
  const uint64_t ticket = sentAhead_.front().first;
  aheadBytes_ -= sentAhead_.front().second;
  sentAhead_.pop_front();
  TAheadResult& r = gotAhead_[ticket];
  try {
    r.answer = Answer<TParsed>(Receive(mkParsed));
  } catch (const EPluginHost& e) {
    r.failed = true;
    r.failure = e.what();
    // The helper is gone (End forgot the rest): they never reached it.
  }
}

void TPluginHostClient::DrainAhead() {
  while (!sentAhead_.empty()) ReadOneAhead();
  // Answers read ahead and never taken (their mail was not processed) go.
  if (gotAhead_.size() > 4 * kMaxAhead) gotAhead_.clear();
}

uint64_t TPluginHostClient::SendParse(int32_t from, TLineSpan body, TLineSpan header, TLineSpan source) {
  if (sentAhead_.size() >= kMaxAhead || pid_ < 0 || fd_ < 0 || loadPending_) return 0;
  const size_t bytes = kHeaderSize + 16 + JoinedSize(body) + JoinedSize(header) + JoinedSize(source);
  if (aheadBytes_ + bytes > kMaxAheadBytes) return 0;
  const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs_);
  try {
    EncodeParse(from, body, header, source, [&](std::string_view piece) { SendAll(fd_, piece, deadline); });
  } catch (const TCallFailure&) {
    // The helper is gone or stuck; the answers it gave are still read, so
    // that a failure is charged to the request it happened in.
    DrainAhead();
    if (pid_ >= 0) End(true);
    return 0;
  } catch (const EProtocol&) {
    return 0;  // too large to send at all: nothing of it went out
  }
  const uint64_t ticket = nextTicket_++;
  sentAhead_.emplace_back(ticket, bytes);
  aheadBytes_ += bytes;
  return ticket;
}

TPluginHostClient::TAheadOutcome TPluginHostClient::TakeParsed(uint64_t ticket, TParsed& answer,
                                                               std::string& failure) {
  auto out = [&] {
    return std::any_of(sentAhead_.begin(), sentAhead_.end(), [&](const auto& t) { return t.first == ticket; });
  };
  while (out()) ReadOneAhead();
  auto it = gotAhead_.find(ticket);
  if (it == gotAhead_.end()) return TAheadOutcome::aoLost;
  TAheadResult r = std::move(it->second);
  gotAhead_.erase(it);
  if (r.failed) {
    failure = r.failure;
    return TAheadOutcome::aoFailed;
  }
  answer = r.answer;
  return TAheadOutcome::aoAnswered;
}

std::string TPluginHostClient::End(bool kill) {
  // A helper waiting for work sees the end and exits; one that reads on
  // after it gets a moment, then is killed.
  const auto deadline = TClock::now() + std::chrono::milliseconds(kill ? 5000 : 1000);
  if (fd_ >= 0 && !kill && pid_ >= 0) {
    // Its end of the socket closes as it exits: waiting for that here is
    // waking at the moment it is gone, not polling for it.
    shutdown(fd_, SHUT_WR);
    char drain[4096];
    while (TClock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      const int ready = poll(&p, 1, MsLeft(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) break;
      const ssize_t n = recv(fd_, drain, sizeof drain, MSG_DONTWAIT);
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) break;
    }
  }
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  loadPending_ = false;
  sentAhead_.clear();
  aheadBytes_ = 0;
  if (pid_ < 0) return "not running";
  int status = 0;
  pid_t r;
  if (kill) ::kill(pid_, SIGKILL);
  while ((r = waitpid(pid_, &status, WNOHANG)) == 0 && TClock::now() < deadline) usleep(200);
  if (r == 0) {
    ::kill(pid_, SIGKILL);
    r = waitpid(pid_, &status, 0);
  }
  pid_ = -1;
  if (r < 0) return "ended";
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    const char* name = sigdescr_np(sig);
    return "ended by signal " + std::to_string(sig) + (name ? std::string(" (") + name + ")" : std::string());
  }
  return "exited with status " + std::to_string(WEXITSTATUS(status));
}

void TPluginHostClient::EnsureRunning() {
  // Answers still out come first in the stream.
  if (loadPending_) FinishLoad();
  DrainAhead();
  if (pid_ >= 0) return;
  SendLoad();
  FinishLoad();
}

std::string TPluginHostClient::Receive(TKind expected) {
  return Call([](const std::function<void(std::string_view)>&) {}, expected);
}

std::string TPluginHostClient::Call(const std::string& frame, TKind expected) {
  return Call([&](const std::function<void(std::string_view)>& put) { put(frame); }, expected);
}

std::string TPluginHostClient::Call(const std::function<void(const std::function<void(std::string_view)>&)>& send,
                                    TKind expected) {
  const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs_);
  try {
    send([&](std::string_view piece) { SendAll(fd_, piece, deadline); });
    char header[kHeaderSize];
    ReadAll(fd_, header, sizeof header, deadline);
    uint32_t length = 0;
    TKind kind{};
    DecodeHeader(std::string_view(header, sizeof header), length, kind);
    if (kind != expected) throw EProtocol("answer of the wrong kind");
    std::string payload(length, '\0');
    ReadAll(fd_, payload.data(), length, deadline);
    return payload;
  } catch (const TCallFailure& f) {
    Failed(f.timedOut);
  } catch (const EProtocol& e) {
    Wrong(e.what());
  }
}

void TPluginHostClient::Failed(bool timedOut) {
  if (timedOut) {
    End(true);
    throw EPluginHost("the analyzer helper did not answer within " + std::to_string(timeoutMs_ / 1000) + " s");
  }
  throw EPluginHost("the analyzer helper " + End(false));
}

void TPluginHostClient::Wrong(const std::string& what) {
  End(true);
  throw EPluginHost("the analyzer helper answered wrongly: " + what);
}

std::vector<TLoadedItem> TPluginHostClient::Load(const std::vector<std::string>& paths) {
  StartLoad(paths);
  return FinishLoad();
}

void TPluginHostClient::StartLoad(const std::vector<std::string>& paths) {
  if (pid_ >= 0) End(false);
  gotAhead_.clear();
  paths_ = paths;
  loaded_.clear();
  SendLoad();
}

void TPluginHostClient::SendLoad() {
  Start();
  TLoad load;
  load.Paths = paths_;
  const std::string frame = Encode(load);
  const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs_);
  try {
    SendAll(fd_, frame, deadline);
  } catch (const TCallFailure& f) {
    Failed(f.timedOut);
  }
  loadPending_ = true;
}

std::vector<TLoadedItem> TPluginHostClient::FinishLoad() {
  if (!loadPending_) return loaded_;
  loadPending_ = false;
  loaded_ = Answer<TLoaded>(Receive(mkLoaded)).Items;
  return loaded_;
}

std::vector<int32_t> TPluginHostClient::Claim(const std::vector<std::string>& headers) {
  EnsureRunning();
  TClaim claim;
  claim.Headers = headers;
  TClaimed answer = Answer<TClaimed>(Call(Encode(claim), mkClaimed));
  if (answer.Parsers.size() != headers.size()) Wrong("answers for another number of mails");
  return answer.Parsers;
}

TParsed TPluginHostClient::Parse(int32_t from, TLineSpan body, TLineSpan header, TLineSpan source) {
  EnsureRunning();
  return Answer<TParsed>(Call(
      [&](const std::function<void(std::string_view)>& put) { EncodeParse(from, body, header, source, put); },
      mkParsed));
}

std::string DefaultPluginHelper() {
  const char* inProcess = std::getenv("QUENBELL_PLUGINS_IN_PROCESS");
  if (inProcess && *inProcess && std::strcmp(inProcess, "0") != 0) return {};
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string exe(buf, static_cast<size_t>(n));
  const auto slash = exe.rfind('/');
  const std::string path = (slash == std::string::npos ? std::string(".") : exe.substr(0, slash)) +
                           "/quenbell-analyzer-host";
  return access(path.c_str(), X_OK) == 0 ? path : std::string();
}

}  // namespace qnb
