// Throughput of the message reader: a typical notification mail of about 20 KB
// and a 10 MB mail of many parts. The reader is linear, so the two figures
// should be close.
#include <benchmark/benchmark.h>

#include <string>

#include "analysis/MailMessage.h"
#include "analysis/MsgType.h"

namespace {

std::string Base64(const std::string& data) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out, line;
  for (size_t i = 0; i < data.size(); i += 3) {
    unsigned b0 = static_cast<unsigned char>(data[i]);
    unsigned b1 = i + 1 < data.size() ? static_cast<unsigned char>(data[i + 1]) : 0;
    unsigned b2 = i + 2 < data.size() ? static_cast<unsigned char>(data[i + 2]) : 0;
    line += kAlphabet[b0 >> 2];
    line += kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    line += i + 1 < data.size() ? kAlphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=';
    line += i + 2 < data.size() ? kAlphabet[b2 & 63] : '=';
    if (line.size() == 76) {
      out += line + "\r\n";
      line.clear();
    }
  }
  if (!line.empty()) out += line + "\r\n";
  return out;
}

std::string PlainText(int seq) {
  std::string t;
  t += "PayNimbus payment received\r\n\r\nOrder ID: PN-" + std::to_string(100000 + seq) + "\r\n";
  t += "Buyer name: Ren=C3=A9e Dupont\r\nEmail: renee@example.org\r\nProduct: Quenbell Pro =E2=80=93 single licence\r\n";
  t += "Quantity: 1\r\nAmount: 49.95\r\nCurrency: EUR\r\nCountry: FR\r\n\r\n";
  for (int i = 0; i < 70; ++i)
    t += "Terms line " + std::to_string(i) + ": the licence is granted to the buyer named above, f=\r\n"
         "or one seat, with updates for one year =E2=80=93 see the receipt.\r\n";
  return t;
}

std::string Html(int seq) {
  std::string h = "<html><body><h1>Payment received</h1><table>";
  for (int i = 0; i < 120; ++i)
    h += "<tr><td>Field " + std::to_string(i) + "</td><td>value for order PN-" + std::to_string(100000 + seq) +
         "</td></tr>";
  return h + "</table></body></html>";
}

std::string Alternative(int seq, const std::string& boundary) {
  std::string s;
  s += "--" + boundary + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
  s += PlainText(seq);
  s += "--" + boundary + "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
  s += Base64(Html(seq));
  s += "--" + boundary + "--\r\n";
  return s;
}

std::string Headers(const std::string& contentType) {
  std::string h;
  for (int i = 0; i < 8; ++i)
    h += "Received: from relay" + std::to_string(i) + ".example.net (relay.example.net [192.0.2." + std::to_string(i) +
         "])\r\n\tby pop.example.com with ESMTP id 4F1A2; Tue, 14 May 2024 09:12:03 +0200\r\n";
  h += "From: PayNimbus <notify@paynimbus.example>\r\nTo: shop@example.com\r\n";
  h += "Subject: =?ISO-8859-1?Q?PayNimbus_payment_received_-_Order_PN-100234?=\r\n";
  h += "Date: Tue, 14 May 2024 09:12:00 +0200\r\nMIME-Version: 1.0\r\n";
  h += "Content-Type: " + contentType + "\r\n\r\n";
  return h;
}

// About 20 KB: a multipart/alternative payment notification.
std::string SmallMail() {
  return Headers("multipart/alternative; boundary=\"=_alt\"") + Alternative(1, "=_alt") + ".\r\n";
}

// About 10 MB: a multipart/mixed mail of nested alternatives and attachments.
std::string LargeMail() {
  std::string s = Headers("multipart/mixed; boundary=\"=_mix\"") + "This is a multi-part message in MIME format.\r\n";
  std::string blob;
  for (int i = 0; i < 6000; ++i) blob += static_cast<char>((i * 7919) & 0xFF);
  for (int seq = 0; s.size() < 10'000'000; ++seq) {
    s += "--=_mix\r\nContent-Type: multipart/alternative; boundary=\"=_alt" + std::to_string(seq) + "\"\r\n\r\n";
    s += Alternative(seq, "=_alt" + std::to_string(seq));
    s += "\r\n--=_mix\r\nContent-Type: application/octet-stream; name=\"receipt" + std::to_string(seq) +
         ".bin\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"receipt" +
         std::to_string(seq) + ".bin\"\r\n\r\n";
    s += Base64(blob);
  }
  return s + "--=_mix--\r\n.\r\n";
}

enum TMailSize { kNotification20KB, kManyParts10MB };

const std::string& Mail(TMailSize which) {
  static const std::string small = SmallMail(), large = LargeMail();
  return which == kNotification20KB ? small : large;
}

void SetRate(benchmark::State& state, size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["MB"] = benchmark::Counter(static_cast<double>(bytes) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["mail_bytes"] = static_cast<double>(bytes);
}

void BM_Parse(benchmark::State& state, TMailSize which) {
  const std::string& text = Mail(which);
  size_t parts = 0;
  for (auto _ : state) {
    qnb::TMailMessage m;
    m.Parse(text);
    parts = m.Parts().size();
    benchmark::DoNotOptimize(parts);
  }
  state.counters["parts"] = static_cast<double>(parts);
  SetRate(state, text.size());
}

// The worker's path: lines into TMsgType.Assign (joining, parsing, subject, body).
void BM_Assign(benchmark::State& state, TMailSize which) {
  const std::string& text = Mail(which);
  const qnb::TStrings lines = qnb::SplitLines(text);
  for (auto _ : state) {
    qnb::TStrings src = lines;
    qnb::TMsgType msg;
    msg.Assign(src);
    benchmark::DoNotOptimize(msg.Body().size());
  }
  SetRate(state, text.size());
}

}  // namespace

BENCHMARK_CAPTURE(BM_Parse, notification_20KB, kNotification20KB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Parse, many_parts_10MB, kManyParts10MB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Assign, notification_20KB, kNotification20KB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Assign, many_parts_10MB, kManyParts10MB)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
