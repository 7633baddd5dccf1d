// Peak memory of check runs against servers that go to and past the bounds of
// an answer: a payment mail just over the largest allowed size, a header
// answer that never ends, one that trickles empty lines, and last a payment
// mail just under the largest size. The worker runs in this process with its plug-ins in the helper;
// the scripted servers hold no more than one line each. Prints the time of
// each run, this process's peak resident memory after it and, at the end,
// the helper's. Last, the same largest mail fetched over IMAP, as one
// literal. The goal: within twice the largest allowed mail (128 MiB).
//
//   bench_bounds

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "TestConfig.h"
#include "mailcheck/OrderMailUtils.h"
#include "support/PayNimbusMail.h"
#include "support/ScriptedImapServer.h"
#include "support/ScriptedPop3Server.h"
#include "worker/WorkerHarness.h"

namespace {

using qnb::test::TScriptedPop3Server;

double PeakMiB(int who) {
  rusage ru{};
  getrusage(who, &ru);
  return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

using qnb::test::TScriptedImapServer;

std::string HeaderOf(const std::string& mail) { return mail.substr(0, mail.find("\r\n\r\n") + 2); }

// One account with one message: STAT, UIDL, then what `top` and `retr`
// script for "TOP 1 0" and "RETR 1".
void OneMessage(TScriptedPop3Server& srv) {
  srv.Login().Expect("STAT").Reply("+OK 1 999").Expect("UIDL").Reply("+OK").Reply("1 m1").Reply(".");
  srv.Expect("TOP 1 0");
}

// One check of one account on 127.0.0.1:port, the worker in this process.
struct TRun {
  double seconds = 0;
  size_t orders = 0;
  std::string failure;  // the last failure record, if any
};

TRun RunCheck(qnb::TParseGear& gear, int port, qnb::TProtocol protocol) {
  qnb::TTaskList tasks;
  qnb::TOrderList orders;
  qnb::TLogList logs;
  qnb::TUidlList uids;
  qnb::TTaskData t = qnb::test::Task(0, {"Bench", "127.0.0.1", std::to_string(port), "user", "pass"});
  t.Protocol = protocol;
  tasks.Add(std::make_unique<qnb::TTaskData>(t));
  const auto t0 = std::chrono::steady_clock::now();
  {
    qnb::TGetMailThd worker(nullptr, tasks, orders, gear, &logs, &uids);
    worker.AnswerTimeoutMs = 3000;
    worker.Start();
    worker.WaitFor();
  }
  TRun r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.orders = orders.Count();
  while (auto rec = logs.TakeFirst())
    if (rec->LogCode == qnb::ltSizeError || rec->LogCode == qnb::ltSingleTaskFailed ||
        rec->LogCode == qnb::ltAdvanceError)
      r.failure = std::string(qnb::LogTypeName(rec->LogCode)) + " \"" + rec->LogMessage.str() + "\"";
  return r;
}

void Report(const char* name, const TRun& r) {
  std::printf("%s: %.2f s, peak RSS %.1f MiB, %zu order(s), %s\n", name, r.seconds, PeakMiB(RUSAGE_SELF), r.orders,
              r.failure.empty() ? "no failure record" : r.failure.c_str());
  std::fflush(stdout);
}

}  // namespace

int main() {
  const std::string payment = qnb::test::MakePayNimbusMail(1);
  const std::string line = "X-Filler: " + std::string(988, 'f') + "\r\n";  // 1000 bytes
  const size_t maxMail = qnb::TPop3Session::kMaxMailBytes;
  const size_t header = HeaderOf(payment).size() + 2;

  struct TScenario {
    const char* name;
    void (*script)(TScriptedPop3Server&, const std::string&, const std::string&, size_t);
  };
  const TScenario scenarios[] = {
      {"payment mail just over 64 MiB",
       [](TScriptedPop3Server& s, const std::string& pay, const std::string& fill, size_t lines) {
         OneMessage(s);
         s.Reply("+OK").Send(HeaderOf(pay)).Reply(".").Expect("RETR 1");
         s.Reply("+OK").Send(HeaderOf(pay) + "\r\n").Repeat(fill, lines + 2000).Reply(".").Expect("QUIT");
       }},
      {"header that never ends",
       [](TScriptedPop3Server& s, const std::string&, const std::string& fill, size_t) {
         OneMessage(s);
         s.Reply("+OK").Repeat(fill, 0);
       }},
      {"header trickling empty lines (answer time 3 s)",
       [](TScriptedPop3Server& s, const std::string&, const std::string&, size_t) {
         OneMessage(s);
         s.Reply("+OK").Repeat("\r\n", 0, 10);
       }},
      {"payment mail just under 64 MiB",
       [](TScriptedPop3Server& s, const std::string& pay, const std::string& fill, size_t lines) {
         OneMessage(s);
         s.Reply("+OK").Send(HeaderOf(pay)).Reply(".").Expect("RETR 1");
         s.Reply("+OK").Send(HeaderOf(pay) + "\r\n").Repeat(fill, lines).Reply(".").Expect("QUIT");
       }},
  };

  std::printf("largest allowed mail %zu MiB, header %zu MiB; goal: peak within %zu MiB\n", maxMail >> 20,
              qnb::TPop3Session::kMaxHeaderBytes >> 20, 2 * (maxMail >> 20));
  std::printf("before the runs: peak RSS %.1f MiB\n", PeakMiB(RUSAGE_SELF));
  {
    qnb::TParseGear gear(QUENBELL_PLUGIN_DIR, QUENBELL_ANALYZER_HOST);
    for (const TScenario& sc : scenarios) {
      TScriptedPop3Server srv;
      sc.script(srv, payment, line, (maxMail - header) / line.size() - 1);
      srv.Start();
      Report(sc.name, RunCheck(gear, srv.Port(), qnb::protoPop3));
      srv.WaitDone(10000);
    }
    {
      // The mail as one literal of the largest size an IMAP answer may have.
      const size_t lines = (maxMail - header) / line.size() - 1;
      const std::string head = HeaderOf(payment) + "\r\n";
      TScriptedImapServer srv;
      srv.Login().Examine("INBOX", 7, {101}).Header(1, 101, HeaderOf(payment));
      srv.Expect("UID FETCH 101 (BODY.PEEK[])")
          .Send("* 1 FETCH (UID 101 BODY[] {" + std::to_string(head.size() + lines * line.size()) + "}\r\n");
      srv.Raw().Send(head).Repeat(line, lines);
      srv.Send(")\r\n").Done().Logout();
      srv.Start();
      Report("payment mail just under 64 MiB over IMAP", RunCheck(gear, srv.Port(), qnb::protoImap));
      srv.WaitDone(10000);
    }
  }
  // The helper has been reaped with the analyzer host.
  std::printf("analyzer helper: peak RSS %.1f MiB\n", PeakMiB(RUSAGE_CHILDREN));
  return 0;
}
