// The first check of a big mailbox through the real quenbell-cli: a Dovecot
// mailbox of generated mails (a share of them PayNimbus payments, the rest
// ordinary mail of 2-20 KB, some multipart) checked by `quenbell-cli check`
// as a child process. Prints wall seconds (from starting the CLI to its exit),
// messages per second, the CLI's CPU time and its peak resident memory (from
// wait4; both include the child processes the CLI waits for), and Dovecot's
// CPU time, for a first run while Dovecot still indexes the fresh Maildir and
// for further runs of a fresh CLI against the indexed mailbox (each still a
// first check for the CLI, whose message memory lives only as long as the
// process).
//
// With --minimal-client each run also times bench/minimal_pop3_client.py (log
// in, STAT, "TOP n 0" for every message, 256 in flight) on the same mailbox
// right after the CLI, and prints the ratio of the two wall times and the
// CLI's CPU per 10,000 headers; then the same script with --same-work, which
// also asks for the UIDL listing and retrieves the payment mails: the server
// work a check cannot leave out, and so the time no check can beat.
//
//   bench_first_check [--messages N] [--payments PERCENT] [--runs R] [--cli PATH]
//                     [--history on|off|both] [--minimal-client PATH]
//   bench_first_check --write-mails DIR [--messages N] [--payments PERCENT]
//                     writes the mails as DIR/NNNNN.eml instead, to look at
//
// --history: "off" checks with --no-history; "on" with the order history,
// starting from an empty one in each run, so that every payment is stored;
// "both" does each run both ways, one after the other, and prints how much
// slower the run with the history was.
//
// Defaults: 10000 messages, 10 % payments, 2 runs, --history off. Exits 1 when the CLI fails
// or does not report exactly one order per payment mail.

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/DovecotServer.h"
#include "support/PayNimbusMail.h"
#include "support/TempDir.h"
#include "TestConfig.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// ---------------------------------------------------------------------------
// Ordinary mail: newsletters, customer questions, shipping notices and the
// like, of a size drawn from 2-20 KB. A fifth are multipart/alternative (text
// and HTML), a tenth multipart/mixed with a base64 attachment. A few come from
// the payment service's own address without being payments, so the analyzer
// has to read the subject to turn them down.

struct TSender {
  const char* from;
  const char* subject;
};

const TSender kSenders[] = {
    {"Marketplace Newsletter <news@market.example>", "Your weekly seller tips"},
    {"Ann Lee <ann.lee@example.com>", "Question about the Pro licence"},
    {"Parcel Service <noreply@parcels.example>", "Your parcel is on its way"},
    {"=?UTF-8?Q?J=C3=BCrgen_Wei=C3=9F?= <j.weiss@example.de>", "=?UTF-8?Q?R=C3=BCckfrage_zur_Rechnung?="},
    {"Hosting Team <billing@hosting.example>", "Invoice for your server"},
    {"Forum Digest <digest@forum.example>", "Today's most active threads"},
    {"PayNimbus <notify@paynimbus.example>", "Your PayNimbus monthly statement"},
    {"PayNimbus <support@paynimbus.example>", "PayNimbus fee schedule changes"},
    {"Mei Chen <mei.chen@example.com>", "Re: Bulk order of 40 licences"},
    {"Build Server <ci@build.example>", "Nightly build succeeded"},
};

const char* const kWords[] = {
    "the",     "order",   "licence", "customer", "please",  "shipping", "account", "update",  "version",
    "support", "thank",   "you",     "for",      "your",    "message", "we",       "will",    "send",
    "a",       "new",     "invoice", "next",     "week",    "product", "download", "link",    "and",
    "with",    "regards", "team",    "feature",  "release", "notes",   "server",   "payment", "details",
    "tracking", "number", "delivery", "address", "question", "answer", "today",   "report",  "price",
};

class TMailGenerator {
 public:
  explicit TMailGenerator(uint32_t seed) : rng_(seed) {}

  std::string Ordinary(int seq) {
    const size_t target = Uniform(2 * 1024, 20 * 1024);
    const TSender& s = kSenders[Uniform(0, std::size(kSenders) - 1)];
    const int kind = static_cast<int>(Uniform(0, 9));  // 0-1 alternative, 2 mixed, else plain
    const std::string n = std::to_string(seq);
    std::string m;
    m.reserve(target + 1024);
    m += "Return-Path: <bounce-" + n + "@mx.example>\r\n"
         "Received: from mx" + std::to_string(seq % 7) + ".example (mx.example [192.0.2." +
         std::to_string(1 + seq % 250) + "])\r\n\tby pop.shop.example with ESMTPS id q" + n +
         "\r\n\tfor <seller@shop.example>; Mon, 07 Dec 2026 08:00:00 +0000\r\n"
         "Received: from localhost (localhost [127.0.0.1])\r\n\tby mx.example with ESMTP id r" + n + "\r\n"
         "Message-ID: <m" + n + "@mail.example>\r\n"
         "Date: Mon, 07 Dec 2026 08:" + Two(seq % 60) + ":" + Two(seq / 60 % 60) + " +0000\r\n"
         "From: " + s.from + "\r\n"
         "To: Seller <seller@shop.example>\r\n"
         "Subject: " + s.subject + "\r\n"
         "MIME-Version: 1.0\r\n";
    if (kind == 2) {
      const std::string b = "mixed-" + n;
      m += "Content-Type: multipart/mixed; boundary=\"" + b + "\"\r\n\r\n"
           "This is a multi-part message in MIME format.\r\n\r\n--" + b + "\r\n"
           "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n";
      Text(m, m.size() + 600);
      m += "\r\n--" + b + "\r\n"
           "Content-Type: application/pdf; name=\"invoice-" + n + ".pdf\"\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment; filename=\"invoice-" + n + ".pdf\"\r\n\r\n";
      Base64(m, target);
      m += "--" + b + "--\r\n";
    } else if (kind <= 1) {
      const std::string b = "alt-" + n;
      m += "Content-Type: multipart/alternative; boundary=\"" + b + "\"\r\n\r\n--" + b + "\r\n"
           "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n";
      const size_t half = m.size() + (target - std::min(target, m.size())) * 2 / 5;
      Text(m, half);
      m += "\r\n--" + b + "\r\n"
           "Content-Type: text/html; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
           "<html><body style=3D\"font-family: sans-serif\">\r\n";
      Html(m, target);
      m += "</body></html>\r\n--" + b + "--\r\n";
    } else {
      m += "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n";
      Text(m, target);
    }
    return m;
  }

 private:
  size_t Uniform(size_t lo, size_t hi) { return std::uniform_int_distribution<size_t>(lo, hi)(rng_); }
  static std::string Two(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

  // Lines of words up to about 72 characters, paragraphs now and then.
  void Text(std::string& m, size_t until) {
    size_t col = 0;
    while (m.size() < until) {
      const char* w = kWords[Uniform(0, std::size(kWords) - 1)];
      if (col > 0) {
        m += ' ';
        ++col;
      }
      m += w;
      col += std::strlen(w);
      if (col > 66) {
        m += Uniform(0, 6) == 0 ? ".\r\n\r\n" : "\r\n";
        col = 0;
      }
    }
    m += "\r\n";
  }

  void Html(std::string& m, size_t until) {
    while (m.size() < until) {
      m += "<p>";
      for (int i = 0; i < 9; ++i) {
        m += kWords[Uniform(0, std::size(kWords) - 1)];
        m += ' ';
      }
      m += "</p>\r\n";
    }
  }

  void Base64(std::string& m, size_t until) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    while (m.size() < until) {
      for (int i = 0; i < 76; ++i) m += kAlphabet[Uniform(0, 63)];
      m += "\r\n";
    }
  }

  std::mt19937 rng_;
};

// ---------------------------------------------------------------------------

struct TRunResult {
  int status = -1;
  double wall = 0, user = 0, sys = 0;
  long maxRssKb = 0;
  int orderLines = 0;
  std::map<std::string, int> logs;  // status records by code name
  std::string finished;             // message of ltAllTaskFinished
  std::string lastLine;
  std::string err;
};

// "log":"NAME" out of one JSON line of the CLI.
std::string LogName(const std::string& line) {
  static const std::string key = "{\"log\":\"";
  if (line.compare(0, key.size(), key) != 0) return {};
  size_t end = line.find('"', key.size());
  return end == std::string::npos ? std::string() : line.substr(key.size(), end - key.size());
}

std::string MessageOf(const std::string& line) {
  static const std::string key = "\"message\":\"";
  size_t p = line.find(key);
  if (p == std::string::npos) return {};
  p += key.size();
  size_t end = line.find('"', p);
  return line.substr(p, end == std::string::npos ? std::string::npos : end - p);
}

TRunResult RunCli(const std::vector<std::string>& argv, const std::string& configHome, const std::string& dataHome) {
  int outP[2], errP[2];
  if (pipe2(outP, O_CLOEXEC) || pipe2(errP, O_CLOEXEC)) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, outP[1], 1);
  posix_spawn_file_actions_adddup2(&fa, errP[1], 2);

  // Settings of its own, so that no stored account of the user is touched.
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "XDG_CONFIG_HOME=", 16) != 0 && std::strncmp(*e, "XDG_DATA_HOME=", 14) != 0)
      envStore.emplace_back(*e);
  envStore.push_back("XDG_CONFIG_HOME=" + configHome);
  // The order history too: each run starts with none, so each is a first check.
  envStore.push_back("XDG_DATA_HOME=" + dataHome);
  std::vector<char*> envp, args;
  for (auto& s : envStore) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStore(argv);
  for (auto& s : argStore) args.push_back(s.data());
  args.push_back(nullptr);

  TRunResult r;
  const auto t0 = Clock::now();
  pid_t pid;
  int rc = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  close(outP[1]);
  close(errP[1]);
  if (rc != 0) {
    close(outP[0]);
    close(errP[0]);
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  }

  // The output is read as it comes, as a consumer of the JSON lines would.
  std::string pending;
  auto takeLines = [&](bool all) {
    size_t start = 0, nl;
    while ((nl = pending.find('\n', start)) != std::string::npos || (all && start < pending.size())) {
      if (nl == std::string::npos) nl = pending.size();
      const std::string line = pending.substr(start, nl - start);
      start = nl + 1;
      if (!line.empty()) r.lastLine = line;
      if (line.rfind("{\"order\":", 0) == 0) {
        ++r.orderLines;
      } else if (std::string name = LogName(line); !name.empty()) {
        ++r.logs[name];
        if (name == "ltAllTaskFinished") r.finished = MessageOf(line);
      }
    }
    pending.erase(0, std::min(start, pending.size()));
  };
  pollfd fds[2] = {{outP[0], POLLIN, 0}, {errP[0], POLLIN, 0}};
  std::vector<char> buf(1 << 16);
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t got = read(fds[i].fd, buf.data(), buf.size());
      if (got > 0) {
        if (i == 0) {
          pending.append(buf.data(), static_cast<size_t>(got));
          takeLines(false);
        } else {
          r.err.append(buf.data(), static_cast<size_t>(got));
        }
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  takeLines(true);

  int status = 0;
  rusage ru{};
  while (wait4(pid, &status, 0, &ru) < 0 && errno == EINTR) {
  }
  r.wall = Seconds(t0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.user = static_cast<double>(ru.ru_utime.tv_sec) + ru.ru_utime.tv_usec / 1e6;
  r.sys = static_cast<double>(ru.ru_stime.tv_sec) + ru.ru_stime.tv_usec / 1e6;
  r.maxRssKb = ru.ru_maxrss;
  return r;
}

// CPU seconds of every process in Dovecot's process group, with the children
// they have reaped: the server's share of a run.
double GroupCpuSeconds(pid_t pgid) {
  double ticks = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    const std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::FILE* f = std::fopen((e.path() / "stat").c_str(), "r");
    if (!f) continue;
    char buf[1024];
    size_t got = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[got] = '\0';
    // Fields after the command name, which ends at the last ')': state is 3,
    // pgrp 5, utime 14, stime 15, cutime 16, cstime 17.
    const char* p = std::strrchr(buf, ')');
    if (!p) continue;
    std::vector<long long> field(18, 0);
    int n = 3;
    for (const char* q = p + 2; *q && n <= 17; ++n) {
      field[static_cast<size_t>(n)] = std::atoll(q);
      q = std::strchr(q, ' ');
      if (!q) break;
      ++q;
    }
    if (n < 17 || field[5] != pgid) continue;
    ticks += static_cast<double>(field[14] + field[15] + field[16] + field[17]);
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The 1, 5 and 15 minute load: the machine is shared, and the wall times follow it.
std::string LoadAverage() {
  double one = 0, five = 0, fifteen = 0;
  if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf %lf %lf", &one, &five, &fifteen) != 3) one = five = fifteen = 0;
    std::fclose(f);
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f %.2f %.2f", one, five, fifteen);
  return buf;
}

pid_t DovecotMaster(const qnb::test::TDovecotServer& dove) {
  std::FILE* f = std::fopen((dove.Dir() / "run" / "master.pid").c_str(), "r");
  long pid = 0;
  if (f) {
    if (std::fscanf(f, "%ld", &pid) != 1) pid = 0;
    std::fclose(f);
  }
  return static_cast<pid_t>(pid);
}

int Number(const char* text, const char* option) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (!end || *end || v < 0 || v > 10000000) {
    std::fprintf(stderr, "bench_first_check: %s needs a number\n", option);
    std::exit(2);
  }
  return static_cast<int>(v);
}

}  // namespace

int main(int argc, char** argv) {
  int messages = 10000, percent = 10, runs = 2;
  std::string cli = QUENBELL_CLI_PATH, writeDir, history = "off", minimal;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(stderr, "usage: bench_first_check [--messages N] [--payments PERCENT] [--runs R] [--cli PATH]\n"
                   "       bench_first_check --write-mails DIR [--messages N] [--payments PERCENT]\n");
      return 2;
    }
    if (a == "--messages") messages = Number(argv[++i], "--messages");
    else if (a == "--payments") percent = Number(argv[++i], "--payments");
    else if (a == "--runs") runs = Number(argv[++i], "--runs");
    else if (a == "--cli") cli = argv[++i];
    else if (a == "--write-mails") writeDir = argv[++i];
    else if (a == "--history") history = argv[++i];
    else if (a == "--minimal-client") minimal = argv[++i];
    else {
      std::fprintf(stderr, "bench_first_check: unknown option %s\n", a.c_str());
      return 2;
    }
  }
  if (history != "on" && history != "off" && history != "both") {
    std::fprintf(stderr, "bench_first_check: --history needs on, off or both\n");
    return 2;
  }
  if (messages < 1 || percent > 100 || runs < 1) {
    std::fprintf(stderr, "bench_first_check: need --messages >= 1, --payments 0..100, --runs >= 1\n");
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);

  try {
    qnb::test::TTempDir config;
    qnb::test::TDovecotServer dove(std::vector<qnb::test::TDovecotUser>{{"bench", "bench"}});

    // Payments spread evenly: mail i is one when the running share steps up.
    auto t0 = Clock::now();
    TMailGenerator gen(20261208);
    int payments = 0;
    double bytes = 0;
    for (int i = 1; i <= messages; ++i) {
      const bool payment = static_cast<long>(i) * percent / 100 > static_cast<long>(i - 1) * percent / 100;
      const std::string mail = payment ? qnb::test::MakePayNimbusMail(++payments) : gen.Ordinary(i);
      bytes += static_cast<double>(mail.size());
      if (writeDir.empty()) {
        dove.AddMessage("bench", mail);
      } else {
        char name[32];
        std::snprintf(name, sizeof name, "/%05d.eml", i);
        std::FILE* f = std::fopen((writeDir + name).c_str(), "wb");
        bool written = f && std::fwrite(mail.data(), 1, mail.size(), f) == mail.size();
        if (f && std::fclose(f) != 0) written = false;
        if (!written) throw std::runtime_error("cannot write " + writeDir + name);
      }
    }
    std::printf("mailbox: %d messages (%d payments, %d%%), %.1f MB, written in %.2f s\n", messages, payments,
                percent, bytes / 1e6, Seconds(t0));
    if (!writeDir.empty()) return 0;
    t0 = Clock::now();
    dove.Start();
    std::printf("dovecot: ready in %.2f s on 127.0.0.1:%d\n", Seconds(t0), dove.Port());
    std::printf("cli: %s\n", cli.c_str());
    std::fflush(stdout);

    const std::string account =
        "bench=pop3://bench:bench@" + std::string(dove.Host()) + ":" + std::to_string(dove.Port());
    const pid_t master = DovecotMaster(dove);
    bool ok = true;
    std::vector<bool> modes;
    if (history != "on") modes.push_back(false);
    if (history != "off") modes.push_back(true);
    for (int run = 1; run <= runs; ++run) {
      double wall[2] = {0, 0};
      for (const bool withHistory : modes) {
        const std::string load = LoadAverage();
        const double server0 = master > 0 ? GroupCpuSeconds(master) : 0;
        qnb::test::TTempDir data;
        std::vector<std::string> args{cli, "check", "--account", account};
        if (!withHistory) args.push_back("--no-history");
        TRunResult r = RunCli(args, config.Str(), data.Str());
        const double server = master > 0 ? GroupCpuSeconds(master) - server0 : 0;
        wall[withHistory] = r.wall;
        const char* what = run == 1 && withHistory == modes.front() ? "fresh mailbox, Dovecot indexing"
                                                                    : "indexed mailbox, fresh CLI";
        std::printf("run %d (%s, history %s): %.2f s, %.0f messages/s, CLI cpu %.2f s user + %.2f s sys, "
                    "peak RSS %.1f MB\n",
                    run, what, withHistory ? "on" : "off", r.wall, messages / r.wall, r.user, r.sys,
                    r.maxRssKb / 1024.0);
        std::printf("  dovecot cpu %.2f s; load average before the run %s\n", server, load.c_str());
        std::printf("  orders %d of %d payments, exit %d, finished: \"%s\"\n", r.orderLines, payments, r.status,
                    r.finished.c_str());
        if (withHistory) {
          std::error_code ec;
          const auto size = std::filesystem::file_size(data.Path() / "Varnett" / "Qnb" / "history.sqlite", ec);
          std::printf("  history file %.1f MB\n", ec ? 0.0 : static_cast<double>(size) / 1e6);
        }
        std::string failures;
        for (const auto& [name, count] : r.logs)
          if (name != "ltConnecting" && name != "ltConnected" && name != "ltChecking" && name != "ltReceiving" &&
              name != "ltReceived" && name != "ltProcessing" && name != "ltQuit" && name != "ltSingleTaskBegin" &&
              name != "ltSingleTaskFinished" && name != "ltAllTaskFinished")
            failures += " " + name + "=" + std::to_string(count);
        if (!failures.empty()) std::printf("  other status records:%s\n", failures.c_str());
        std::printf("  CLI cpu per 10,000 headers: %.3f s\n", (r.user + r.sys) * 10000.0 / messages);
        if (!minimal.empty()) {
          // The yardstick script with extra arguments, timed with Dovecot's
          // CPU for its session; prints its line. False unless it exited 0
          // and its last line starts with every header and ends with `tail`.
          auto yardstick = [&](const char* what, const std::vector<std::string>& extra, const std::string& tail,
                               TRunResult& y) {
            std::vector<std::string> args{"/usr/bin/python3", minimal, std::string(dove.Host()),
                                          std::to_string(dove.Port()), "bench", "bench", "256"};
            args.insert(args.end(), extra.begin(), extra.end());
            const double server0 = master > 0 ? GroupCpuSeconds(master) : 0;
            y = RunCli(args, config.Str(), data.Str());
            const double server = master > 0 ? GroupCpuSeconds(master) - server0 : 0;
            std::printf("  %s: %.2f s, cpu %.2f s user + %.2f s sys, dovecot cpu %.2f s, exit %d, \"%s\"\n", what,
                        y.wall, y.user, y.sys, server, y.status, y.lastLine.c_str());
            const std::string& line = y.lastLine;
            return y.status == 0 && line.rfind("headers " + std::to_string(messages) + " ", 0) == 0 &&
                   line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
          };
          TRunResult m, w;
          if (!yardstick("minimal pipelined client (window 256, TOP n 0)", {}, "", m)) {
            std::fprintf(stderr, "bench_first_check: the minimal client failed\n%s", m.err.c_str());
            ok = false;
          }
          std::printf("  ratio quenbell-cli / minimal client: %.2f (wall), %.2f (cpu)\n", r.wall / m.wall,
                      (r.user + r.sys) / std::max(1e-6, m.user + m.sys));
          // The same client making the server do what the check must: the
          // UIDL listing and the payment mails retrieved whole.
          if (!yardstick("same-work client (also UIDL and RETR of the payments)",
                         {"--same-work", std::to_string(percent)}, " mails " + std::to_string(payments), w)) {
            std::fprintf(stderr, "bench_first_check: the same-work client failed\n%s", w.err.c_str());
            ok = false;
          }
          std::printf("  ratio same-work client / minimal client: %.2f (wall); quenbell-cli / same-work client: %.2f "
                      "(wall)\n",
                      w.wall / m.wall, r.wall / w.wall);
        }
        if (!r.err.empty()) std::printf("  stderr: %s", r.err.c_str());
        std::fflush(stdout);
        if (r.status != 0 || r.orderLines != payments || r.logs["ltAllTaskFinished"] != 1) {
          std::fprintf(stderr, "bench_first_check: run %d did not find every payment\n%s", run, r.err.c_str());
          ok = false;
        }
      }
      if (modes.size() == 2 && wall[0] > 0)
        std::printf("run %d: with the history %+.1f %% wall time\n", run, (wall[1] / wall[0] - 1) * 100);
    }
    return ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_first_check: %s\n", e.what());
    return 1;
  }
}
