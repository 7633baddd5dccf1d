#include "support/RunProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace qnb::test {

TProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input,
                          const std::vector<std::string>& extraEnv) {
  std::signal(SIGPIPE, SIG_IGN);  // a child that ignores its input must not kill the test
  int inP[2], outP[2], errP[2];
  if (pipe2(inP, O_CLOEXEC) || pipe2(outP, O_CLOEXEC) || pipe2(errP, O_CLOEXEC))
    throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, inP[0], 0);
  posix_spawn_file_actions_adddup2(&fa, outP[1], 1);
  posix_spawn_file_actions_adddup2(&fa, errP[1], 2);

  // extraEnv replaces inherited variables of the same name (getenv takes the first).
  std::vector<std::string> envStore;
  auto nameOf = [](const std::string& kv) { return kv.substr(0, kv.find('=')); };
  for (char** e = environ; *e; ++e) {
    std::string kv(*e);
    bool replaced = false;
    for (const auto& x : extraEnv) replaced = replaced || nameOf(x) == nameOf(kv);
    if (!replaced) envStore.push_back(std::move(kv));
  }
  for (const auto& kv : extraEnv) envStore.push_back(kv);
  std::vector<char*> envp, args;
  for (auto& s : envStore) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStore(argv);
  for (auto& s : argStore) args.push_back(s.data());
  args.push_back(nullptr);

  pid_t pid;
  int rc = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  close(inP[0]);
  close(outP[1]);
  close(errP[1]);
  if (rc != 0) {
    close(inP[1]); close(outP[0]); close(errP[0]);
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  }

  TProcessResult r;
  size_t written = 0;
  if (input.empty()) { close(inP[1]); inP[1] = -1; }
  int fds[3] = {inP[1], outP[0], errP[0]};
  while (fds[1] >= 0 || fds[2] >= 0) {
    pollfd p[3];
    int n = 0;
    for (int i = 0; i < 3; ++i)
      if (fds[i] >= 0) p[n++] = {fds[i], short(i == 0 ? POLLOUT : POLLIN), 0};
    if (poll(p, n, -1) < 0 && errno != EINTR) break;
    for (int k = 0; k < n; ++k) {
      if (!p[k].revents) continue;
      int i = p[k].fd == fds[0] ? 0 : p[k].fd == fds[1] ? 1 : 2;
      if (i == 0) {
        ssize_t w = write(fds[0], input.data() + written, input.size() - written);
        if (w > 0) written += size_t(w);
        if (w < 0 || written == input.size()) { close(fds[0]); fds[0] = -1; }
      } else {
        char buf[65536];
        ssize_t got = read(fds[i], buf, sizeof buf);
        if (got > 0) (i == 1 ? r.out : r.err).append(buf, size_t(got));
        else { close(fds[i]); fds[i] = -1; }
      }
    }
  }
  if (fds[0] >= 0) close(fds[0]);
  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {}
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

}  // namespace qnb::test
