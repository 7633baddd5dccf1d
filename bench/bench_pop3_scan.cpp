// Scanning a Dovecot mailbox of 10,000 generated mails the way an account
// check does before it fetches anything whole: log-in, STAT, UIDL and
// "TOP n 0" of every mail. Prints mails per second. Also the lookups in the
// retrieved-message memory for a mailbox of 50,000 mails.
//
// QUENBELL_BENCH_MESSAGES=N changes the size of the mailbox.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "analysis/MailMessage.h"
#include "mailcheck/OldUIDs.h"
#include "mailcheck/Pop3Session.h"
#include "support/DovecotServer.h"

namespace {

using qnb::TStrings;
using qnb::test::TDovecotServer;

int MailCount() {
  const char* v = std::getenv("QUENBELL_BENCH_MESSAGES");
  int n = v ? std::atoi(v) : 0;
  return n > 0 ? n : 10000;
}

std::string GeneratedMail(int i) {
  std::string n = std::to_string(i);
  return "Return-Path: <orders@shop.example.com>\r\n"
         "Received: from mx.shop.example.com (mx.shop.example.com [192.0.2.10])\r\n"
         "\tby mail.example.com with ESMTP id " + n + "\r\n"
         "From: Shop Orders <orders@shop.example.com>\r\n"
         "To: seller@example.com\r\n"
         "Subject: =?UTF-8?Q?Order_" + n + "_received?=\r\n"
         "Date: Mon, 4 Mar 2024 10:00:00 +0000\r\n"
         "Message-ID: <order-" + n + "@shop.example.com>\r\n"
         "MIME-Version: 1.0\r\n"
         "Content-Type: text/plain; charset=UTF-8\r\n"
         "\r\n"
         "Order " + n + ": 1 x Product, 19.99 EUR\r\n"
         "Thank you for your purchase.\r\n";
}

// One server for the whole run; the first scan also lets Dovecot build its index.
TDovecotServer& Server() {
  static std::unique_ptr<TDovecotServer> dove = [] {
    auto d = std::make_unique<TDovecotServer>(std::vector<qnb::test::TDovecotUser>{{"bench", "bench"}});
    for (int i = 1; i <= MailCount(); ++i) d->AddMessage("bench", GeneratedMail(i));
    d->Start();
    return d;
  }();
  return *dove;
}

template <class TSink>
int Scan(TSink&& eachHeader) {
  qnb::TPop3Session pop;
  pop.Host = Server().Host();
  pop.Port = Server().Port();
  pop.UserName = "bench";
  pop.Password = "bench";
  pop.Connect();
  int count = pop.CheckMessages();
  TStrings uidl;
  if (!pop.UIDL(uidl) || static_cast<int>(uidl.size()) != count) throw std::runtime_error("UIDL failed");
  for (int n = 1; n <= count; ++n) eachHeader(pop, n);
  pop.Disconnect();
  return count;
}

void ColdScanOnce() {
  static bool done = false;
  if (done) return;
  done = true;
  auto t0 = std::chrono::steady_clock::now();
  TStrings lines;
  int count = Scan([&](qnb::TPop3Session& pop, int n) {
    lines.clear();
    pop.RetrieveHeader(n, lines);
  });
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("first scan (Dovecot indexing the mailbox): %d mails in %.2f s, %.0f mails/s\n", count, s,
              count / s);
}

void BM_Pop3ScanRawHeaders(benchmark::State& state) {
  ColdScanOnce();
  int count = 0;
  TStrings lines;
  for (auto _ : state) {
    count = Scan([&](qnb::TPop3Session& pop, int n) {
      lines.clear();
      if (!pop.RetrieveHeader(n, lines)) throw std::runtime_error("TOP refused");
      benchmark::DoNotOptimize(lines.data());
    });
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * count);
  state.counters["mails/s"] = benchmark::Counter(static_cast<double>(count) * state.iterations(),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Pop3ScanRawHeaders)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// As the account check does it: each header into a cleared message object.
void BM_Pop3ScanMessageObject(benchmark::State& state) {
  ColdScanOnce();
  int count = 0;
  qnb::TMailMessage msg;
  for (auto _ : state) {
    count = Scan([&](qnb::TPop3Session& pop, int n) {
      msg.Clear();
      if (!pop.RetrieveHeader(n, msg)) throw std::runtime_error("TOP refused");
      benchmark::DoNotOptimize(msg.Headers().data());
    });
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * count);
  state.counters["mails/s"] = benchmark::Counter(static_cast<double>(count) * state.iterations(),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Pop3ScanMessageObject)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The message loop asks the memory once per mail: 50,000 questions against a
// memory of 50,000 UIDs, as for a second check of an unchanged mailbox.
void BM_RetrievedLookup50k(benchmark::State& state) {
  constexpr int kMails = 50000;
  TStrings uidl, uids;
  for (int i = 1; i <= kMails; ++i) {
    uidl.push_back(std::to_string(i) + " 0000" + std::to_string(100000 + i) + "65f0a1b2");
    uids.push_back(qnb::getUid(uidl.back()));
  }
  qnb::TUidlList mem;
  qnb::UpdateRetrievedUIDs(mem, "Shop", uids, true);
  int64_t found = 0;
  for (auto _ : state) {
    found = 0;
    for (const auto& line : uidl) found += qnb::IsMailRetrieved(mem, "Shop", line);
    benchmark::DoNotOptimize(found);
  }
  if (found != kMails) state.SkipWithError("lookup missed a UID");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kMails);
}
BENCHMARK(BM_RetrievedLookup50k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
