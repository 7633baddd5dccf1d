// The first check of a large mailbox with and without pipelined requests:
// Dovecot mailboxes of 10,000 and 50,000 generated mails (every tenth a
// PayNimbus payment), checked by the real worker with the example plug-in,
// on loopback and through a delay proxy on 127.0.0.1 that adds a round trip
// of 20 ms or 100 ms, and over TLS on loopback. Prints seconds and mails per
// second per case (log-in to QUIT: from "Connecting" to "Quit"), and the
// process's memory after each case.
//
// One command at a time through the proxy takes a round trip per command
// (50,000 x 100 ms is well over an hour), so those cases use a smaller
// mailbox, QUENBELL_BENCH_SERIAL_DELAYED (default 500 mails).
// QUENBELL_BENCH_SIZES (default "10000,50000") and QUENBELL_BENCH_DELAYS
// (default "0,20,100", round trips in ms) choose the cases.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestConfig.h"
#include "mailcheck/OrderMailUtils.h"
#include "support/DovecotServer.h"
#include "support/PayNimbusMail.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

namespace {

using namespace qnb;
using namespace qnb::test;
using TClock = std::chrono::steady_clock;

std::vector<int> ListFromEnv(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  std::stringstream in(v && *v ? v : fallback);
  std::vector<int> r;
  for (std::string item; std::getline(in, item, ',');)
    if (!item.empty()) r.push_back(std::atoi(item.c_str()));
  return r;
}

std::string OrdinaryMail(int i) {
  std::string n = std::to_string(i);
  return "Return-Path: <news@shop.example.com>\r\n"
         "Received: from mx.shop.example.com (mx.shop.example.com [192.0.2.10])\r\n"
         "\tby mail.example.com with ESMTP id " + n + "\r\n"
         "From: Shop News <news@shop.example.com>\r\n"
         "To: seller@example.com\r\n"
         "Subject: =?UTF-8?Q?Newsletter_" + n + "?=\r\n"
         "Date: Mon, 4 Mar 2024 10:00:00 +0000\r\n"
         "Message-ID: <news-" + n + "@shop.example.com>\r\n"
         "MIME-Version: 1.0\r\n"
         "Content-Type: text/plain; charset=UTF-8\r\n"
         "\r\n"
         "Issue " + n + ": what is new this week.\r\n";
}

// A TCP proxy on 127.0.0.1 that holds every chunk for half the round trip in
// each direction; bandwidth is not limited.
class TDelayProxy {
 public:
  TDelayProxy(int upstreamPort, int roundTripMs) : upstream_(upstreamPort), oneWay_(roundTripMs / 2.0) {
    listen_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listen_, 8) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      throw std::runtime_error("proxy: cannot listen");
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }
  ~TDelayProxy() {
    stop_ = true;
    shutdown(listen_, SHUT_RDWR);
    close(listen_);
    acceptor_.join();
    for (auto& t : pumps_) t.join();
  }
  int Port() const { return port_; }

 private:
  struct TChunk {
    TClock::time_point due;
    std::string data;
  };
  struct TPipe {
    std::mutex m;
    std::condition_variable cv;
    std::deque<TChunk> q;
    bool ended = false;
  };

  void AcceptLoop() {
    for (;;) {
      int c = accept(listen_, nullptr, nullptr);
      if (c < 0) return;
      int s = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(static_cast<uint16_t>(upstream_));
      if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(c);
        close(s);
        continue;
      }
      int one = 1;
      setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      Direction(c, s);
      Direction(s, c);
    }
  }
  // Reads from `from`, delays, writes to `to`; closes `to` for writing at the end.
  void Direction(int from, int to) {
    auto pipe = std::make_shared<TPipe>();
    pumps_.emplace_back([this, from, pipe] {
      char buf[65536];
      for (;;) {
        ssize_t n = recv(from, buf, sizeof buf, 0);
        std::lock_guard lock(pipe->m);
        if (n <= 0) {
          pipe->ended = true;
          pipe->cv.notify_one();
          return;
        }
        auto due = TClock::now() + std::chrono::microseconds(static_cast<long>(oneWay_ * 1000));
        pipe->q.push_back({due, std::string(buf, static_cast<size_t>(n))});
        pipe->cv.notify_one();
      }
    });
    pumps_.emplace_back([from, to, pipe] {
      std::unique_lock lock(pipe->m);
      for (;;) {
        pipe->cv.wait(lock, [&] { return pipe->ended || !pipe->q.empty(); });
        if (pipe->q.empty()) break;
        TChunk c = std::move(pipe->q.front());
        pipe->q.pop_front();
        lock.unlock();
        std::this_thread::sleep_until(c.due);
        size_t off = 0;
        while (off < c.data.size()) {
          ssize_t n = send(to, c.data.data() + off, c.data.size() - off, MSG_NOSIGNAL);
          if (n <= 0) break;
          off += static_cast<size_t>(n);
        }
        lock.lock();
      }
      shutdown(to, SHUT_WR);
      shutdown(from, SHUT_RD);
    });
  }

  int upstream_;
  double oneWay_;  // ms
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::vector<std::thread> pumps_;
};

// The window's side: takes each record as its notice comes, as the GUI and the
// CLI do, and notes the times of "Connecting" and "Quit".
class TDrainingTarget final : public TMessageTarget {
 public:
  explicit TDrainingTarget(TLogList& logs) : logs_(logs) {}
  void Post(uint32_t message, intptr_t, intptr_t) override {
    if (message != WM_ORDWATCH_LOGNOTIFY) return;
    auto rec = logs_.TakeFirst();
    if (!rec) return;
    ++records;
    if (rec->LogCode == ltConnecting) begin = TClock::now();
    if (rec->LogCode == ltQuit) end = TClock::now();
    if (rec->LogCode == ltHeaderError || rec->LogCode == ltReceiveError || rec->LogCode == ltSingleTaskFailed)
      ++failures;
  }
  TLogList& logs_;
  TClock::time_point begin, end;
  long records = 0, failures = 0;
};

long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  for (std::string l; std::getline(in, l);)
    if (l.rfind(field, 0) == 0) return std::atol(l.c_str() + std::string(field).size());
  return -1;
}

struct TResult {
  double seconds = 0;
  int orders = 0;
  long records = 0, failures = 0;
};

TResult CheckOnce(TParseGear& gear, const std::string& user, int port, TSecurity sec, const std::string& caFile,
                  int window) {
  TTaskList tasks;
  TOrderList orders;
  TLogList logs;
  TUidlList uids;
  TTaskData t;
  t.Account = "Bench";
  t.Server = "127.0.0.1";
  t.Port = std::to_string(port);
  t.Username = user;
  t.Password = "bench";
  t.Security = sec;
  tasks.Add(std::make_unique<TTaskData>(t));
  TDrainingTarget target(logs);
  TGetMailThd worker(&target, tasks, orders, gear, &logs, &uids);
  worker.PipelineWindow = window;
  worker.CAFile = caFile;
  worker.Start();
  worker.WaitFor();
  TResult r;
  r.seconds = std::chrono::duration<double>(target.end - target.begin).count();
  r.orders = worker.TotalOrder;
  r.records = target.records;
  r.failures = target.failures;
  return r;
}

}  // namespace

int main() {
  const std::vector<int> sizes = ListFromEnv("QUENBELL_BENCH_SIZES", "10000,50000");
  const std::vector<int> delays = ListFromEnv("QUENBELL_BENCH_DELAYS", "0,20,100");
  const int serialDelayed = ListFromEnv("QUENBELL_BENCH_SERIAL_DELAYED", "500").front();
  const int window = TGetMailThd::kDefaultPipelineWindow;

  TTempDir dir;
  std::filesystem::permissions(dir.Path(), std::filesystem::perms(0755));
  TTestCA ca(dir.Path());
  TCertFiles cert = ca.Issue("dovecot", {"IP:127.0.0.1"});
  std::vector<int> boxes = sizes;
  if (serialDelayed > 0) boxes.push_back(serialDelayed);
  std::vector<TDovecotUser> users;
  for (int n : boxes) users.push_back({"box" + std::to_string(n), "bench"});
  TDovecotServer dove(users);
  dove.UseTls({"yes", cert.Cert, cert.Key});
  auto t0 = TClock::now();
  for (int n : boxes)
    for (int i = 1; i <= n; ++i)
      dove.AddMessage("box" + std::to_string(n), i % 10 == 0 ? MakePayNimbusMail(i) : OrdinaryMail(i));
  dove.Start();
  TParseGear gear(QUENBELL_PLUGIN_DIR);
  std::printf("mailboxes written in %.1f s; pipeline window %d commands, %zu bytes\n",
              std::chrono::duration<double>(TClock::now() - t0).count(), window, TGetMailThd::kDefaultPipelineBytes);
  // Dovecot builds its index and header cache on the first access; that is
  // its cost, not the check's.
  for (int n : boxes) {
    TResult w = CheckOnce(gear, "box" + std::to_string(n), dove.Port(), secNone, {}, window);
    std::printf("warm-up %6d mails: %.2f s\n", n, w.seconds);
  }
  std::printf("%-10s %-8s %7s %7s %9s %10s %7s %9s %9s\n", "transport", "mode", "mails", "rtt_ms", "seconds",
              "mails/s", "orders", "rss_kb", "peak_kb");
  std::fflush(stdout);
  auto report = [&](const char* transport, int w, int n, int rtt, const TResult& r) {
    std::printf("%-10s %-8s %7d %7d %9.2f %10.0f %7d %9ld %9ld%s\n", transport, w ? "pipeline" : "serial", n, rtt,
                r.seconds, n / r.seconds, r.orders, StatusKb("VmRSS:"), StatusKb("VmHWM:"),
                r.failures ? "  (failures reported!)" : "");
    std::fflush(stdout);
  };
  std::vector<int> ordered = boxes;
  std::sort(ordered.begin(), ordered.end());
  for (int rtt : delays) {
    std::unique_ptr<TDelayProxy> proxy;
    if (rtt > 0) proxy = std::make_unique<TDelayProxy>(dove.Port(), rtt);
    const int port = proxy ? proxy->Port() : dove.Port();
    for (int n : ordered) {
      const bool inSizes = std::find(sizes.begin(), sizes.end(), n) != sizes.end();
      const std::string user = "box" + std::to_string(n);
      if (inSizes || rtt > 0) report("plain", window, n, rtt, CheckOnce(gear, user, port, secNone, {}, window));
      if ((inSizes && rtt == 0) || (n == serialDelayed && rtt > 0))
        report("plain", 0, n, rtt, CheckOnce(gear, user, port, secNone, {}, 0));
    }
  }
  for (int n : sizes) {
    const std::string user = "box" + std::to_string(n);
    report("tls", window, n, 0, CheckOnce(gear, user, dove.TlsPort(), secTls, ca.CertFile().string(), window));
    report("tls", 0, n, 0, CheckOnce(gear, user, dove.TlsPort(), secTls, ca.CertFile().string(), 0));
  }
  return 0;
}
