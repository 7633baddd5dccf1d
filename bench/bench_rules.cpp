// The rules analyzer through its C interface, as the host calls it, with all
// shipped rules loaded: the claim rate over a mailbox's worth of varied
// headers (headers/s; a first check of 50,000 messages gains 50,000 / rate
// seconds) and the parse rate of claimed 20 KB HTML mails (mails/s).
// Usage: build/bench/bench_rules [PLUGIN_DIR]
#include <dlfcn.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>

#include "quenbell/analyzer.h"

namespace {

using Clock = std::chrono::steady_clock;

// CPU seconds of this process: the figure that holds on a machine busy with other work.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string Header(int i) {
  // Mostly mail no rule knows, some of the services' other mails, some sales.
  static const char* const senders[] = {
      "Newsletter <news@lists.example.com>",  "Alice <alice@example.org>",  "GitHub <noreply@github.com>",
      "PayPal <service@paypal.com>",          "eBay <ebay@ebay.com>",       "Shopify <mailer@shopify.com>",
      "Bank <alerts@bank.example.net>",       "Etsy <transaction@etsy.com>", "Stripe <notifications@stripe.com>",
      "Colleague <bob@corp.example.com>"};
  static const char* const subjects[] = {"Weekly digest",       "Re: meeting tomorrow", "You received a payment",
                                         "Receipt for your payment to Shop", "Your item is listed: Lamp",
                                         "[Store] Order #1001 placed by Jane Doe", "Statement available",
                                         "=?UTF-8?B?WW91IG1hZGUgYSBzYWxlIG9uIEV0c3k=?=", "Your payout is on the way",
                                         "Lunch?"};
  std::string h;
  h += "Return-Path: <bounce-" + std::to_string(i) + "@mail.example.net>\r\n";
  h += "Received: from mx" + std::to_string(i % 7) + ".example.net (mx.example.net [192.0.2.1])\r\n";
  h += "\tby pop.example.com with ESMTPS id abc" + std::to_string(i) + "; Tue, 08 Dec 2026 10:00:00 +0000\r\n";
  h += "DKIM-Signature: v=1; a=rsa-sha256; d=example.net; s=s1; bh=AAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=;\r\n";
  h += "\tb=BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB\r\n";
  h += std::string("From: ") + senders[i % 10] + "\r\n";
  h += "To: merchant@example.com\r\n";
  h += std::string("Subject: ") + subjects[(i / 10 + i) % 10] + "\r\n";
  h += "Date: Tue, 08 Dec 2026 10:00:00 +0000\r\n";
  h += "Message-ID: <" + std::to_string(i) + "@mail.example.net>\r\n";
  h += "MIME-Version: 1.0\r\nContent-Type: text/html; charset=utf-8\r\n";
  return h;
}

std::string HtmlMail(int i) {
  std::string m = "From: Shopify <mailer@shopify.com>\r\nTo: merchant@example.com\r\n";
  m += "Subject: [Example Store] Order #" + std::to_string(1000 + i) + " placed by Jane Doe\r\n";
  m += "Date: Tue, 08 Dec 2026 10:00:00 +0000\r\nMIME-Version: 1.0\r\nContent-Type: text/html; charset=utf-8\r\n\r\n";
  std::string body = "<html><head><style>td{font-family:Arial;padding:4px}</style></head><body>"
                     "<table width=\"600\" align=\"center\"><tr><td><h2>Order #" + std::to_string(1000 + i) +
                     "</h2><p>Jane Doe placed order #" + std::to_string(1000 + i) + " on Dec 8 at 10:15 am.</p>"
                     "<h3>Order summary</h3><table>";
  for (int row = 0; body.size() < 19000; ++row)
    body += "<tr><td style=\"padding:4px;border-bottom:1px solid #eee\">Quenbell item " + std::to_string(row) +
            " &times; 1</td><td style=\"text-align:right\">$" + std::to_string(row + 1) + ".00</td></tr>";
  body += "<tr><td>Subtotal</td><td>$30.00</td></tr><tr><td>Total</td><td>$35.00 USD</td></tr></table>"
          "<h3>Customer information</h3><p>Jane Doe<br><a href=\"mailto:jane@example.com\">jane@example.com</a></p>"
          "</td></tr></table></body></html>";
  for (size_t p = 0; p < body.size(); p += 998) m += body.substr(p, 998) + "\r\n";
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : std::string(QUENBELL_BENCH_PLUGIN_DIR);
  void* lib = dlopen((dir + "/rules.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    std::fprintf(stderr, "bench_rules: %s\n", dlerror());
    return 1;
  }
  auto isOrder = reinterpret_cast<TIsOrderFunc>(dlsym(lib, "IsOrder"));
  auto parseEx = reinterpret_cast<TParseOrderExFunc>(dlsym(lib, "ParseOrderEx"));
  if (!isOrder || !parseEx) return 1;

  const int kHeaders = 50000;
  std::vector<std::string> headers;
  for (int i = 0; i < kHeaders; ++i) headers.push_back(Header(i));
  isOrder(headers[0].c_str());  // loads the rules
  int claimed = 0;
  const int kRounds = 4;
  auto t0 = Clock::now();
  double c0 = CpuSeconds();
  for (int r = 0; r < kRounds; ++r)
    for (const auto& h : headers) claimed += isOrder(h.c_str()) == AS_NORMAL;
  double claimCpu = CpuSeconds() - c0;
  double claimSec = std::chrono::duration<double>(Clock::now() - t0).count();
  double rate = kRounds * kHeaders / claimCpu;
  std::printf("claim: %d headers x %d in %.3f s (%.3f s CPU) = %.0f headers/s wall, %.0f headers/s CPU (%d claimed); "
              "50,000-message check gains %.3f s CPU\n",
              kHeaders, kRounds, claimSec, claimCpu, kRounds * kHeaders / claimSec, rate, claimed / kRounds,
              50000 / rate);

  const int kMails = 4000;
  std::vector<std::string> mails;
  for (int i = 0; i < 50; ++i) mails.push_back(HtmlMail(i));
  int parsed = 0;
  auto t1 = Clock::now();
  double c1 = CpuSeconds();
  for (int i = 0; i < kMails; ++i) {
    TOriginData od{};
    const std::string& m = mails[static_cast<size_t>(i) % mails.size()];
    parsed += isOrder(m.c_str()) == AS_NORMAL && parseEx(m.c_str(), &od) == AS_NORMAL && od.Amount == 350000;
  }
  double parseCpu = CpuSeconds() - c1;
  double parseSec = std::chrono::duration<double>(Clock::now() - t1).count();
  std::printf("parse: %d claimed %zu-byte HTML mails in %.3f s (%.3f s CPU) = %.0f mails/s wall, %.0f mails/s CPU "
              "(%d parsed with the right amount)\n",
              kMails, mails[0].size(), parseSec, parseCpu, kMails / parseSec, kMails / parseCpu, parsed);
  return parsed == kMails ? 0 : 1;
}
