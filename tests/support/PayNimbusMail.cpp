#include "support/PayNimbusMail.h"

#include <cstdio>
#include <vector>

namespace qnb::test {

namespace {

struct TBuyer {
  const char* name;
  const char* email;
  const char* country;
};

const TBuyer kBuyers[] = {
    {"Zo\xC3\xAB M\xC3\xBCller", "zoe.mueller@example.de", "Germany"},
    {"Ann Lee", "ann.lee@example.com", "United Kingdom"},
    {"Carlos Ruiz Garc\xC3\xAD" "a", "carlos.ruiz@example.es", "Spain"},
    {"Mei Chen", "mei.chen@example.com", "Singapore"},
    {"Bj\xC3\xB6rn Str\xC3\xB6m", "bjorn@example.se", "Sweden"},
    {"John Smith", "john.smith@example.com", "United States"},
};
const char* const kProducts[] = {"Quenbell Pro", "Quenbell Pro Upgrade", "Tray Sounds Pack"};

std::string Money(int64_t v) {
  char buf[32];
  int64_t mag = v < 0 ? -v : v;
  std::snprintf(buf, sizeof buf, "%s%lld.%02lld", v < 0 ? "-" : "", static_cast<long long>(mag / 10000),
                static_cast<long long>(mag % 10000 / 100));
  return buf;
}

// Quoted-printable for one line of text: bytes outside printable ASCII and
// "=" are encoded, trailing blanks too, and lines stay within 76 characters.
void AppendQuotedPrintable(std::string& out, const std::string& line) {
  std::string enc;
  size_t col = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    auto c = static_cast<unsigned char>(line[i]);
    bool last = i + 1 == line.size();
    std::string piece;
    if (c == '=' || c < 0x20 || c >= 0x7F || ((c == ' ' || c == '\t') && last)) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "=%02X", c);
      piece = buf;
    } else {
      piece = std::string(1, static_cast<char>(c));
    }
    if (col + piece.size() > 75) {
      enc += "=\r\n";
      col = 0;
    }
    enc += piece;
    col += piece.size();
  }
  out += enc + "\r\n";
}

}  // namespace

std::string PayNimbusOrderID(int seq) { return "PN-" + std::to_string(100000 + seq); }

TPayNimbusOrder PayNimbusOrderFor(int seq, TPayNimbusOrder o) {
  const unsigned idx = static_cast<unsigned>(seq);
  const TBuyer& buyer = kBuyers[idx % (sizeof kBuyers / sizeof kBuyers[0])];
  if (o.orderID.empty()) o.orderID = PayNimbusOrderID(seq);
  if (o.buyerName.empty()) o.buyerName = buyer.name;
  if (o.email.empty()) o.email = buyer.email;
  if (o.country.empty()) o.country = buyer.country;
  if (o.product.empty()) o.product = kProducts[idx % (sizeof kProducts / sizeof kProducts[0])];
  if (o.quantity == 0) o.quantity = 1 + static_cast<int>(idx % 3);
  if (o.unitPrice == 0) o.unitPrice = 199000 + static_cast<int64_t>(idx % 7) * 50000;
  if (o.amount == 0) o.amount = o.unitPrice * o.quantity;
  if (o.vat == 0) o.vat = (o.amount * 19 / 119 + 50) / 100 * 100;
  if (o.currency.empty()) o.currency = "EUR";
  if (o.regCode.empty()) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "QB-%06d-%04X", 100000 + seq, (idx * 40503u) & 0xFFFFu);
    o.regCode = buf;
  }
  if (o.ipAddress.empty()) o.ipAddress = "192.0.2." + std::to_string(1 + idx % 250);
  if (o.receiptURL.empty()) o.receiptURL = "https://paynimbus.example/receipt/" + o.orderID;
  if (o.bodyDate.empty()) o.bodyDate = "2026-12-08 21:05:09";
  if (o.dateHeader.empty()) o.dateHeader = "Tue, 08 Dec 2026 21:05:09 +0900";
  return o;
}

std::string MakePayNimbusMail(int seq, const TPayNimbusOrder& order) {
  const TPayNimbusOrder o = PayNimbusOrderFor(seq, order);
  std::string mail;
  auto header = [&](const std::string& line) { mail += line + "\r\n"; };
  header("Return-Path: <notify@paynimbus.example>");
  header("Message-ID: <" + o.orderID + "." + std::to_string(seq) + "@mail.paynimbus.example>");
  if (o.dateHeader != "-") header("Date: " + o.dateHeader);
  header("From: PayNimbus <notify@paynimbus.example>");
  header("To: Seller <seller@shop.example>");
  header("Subject: PayNimbus payment received - Order " + o.orderID);
  header("MIME-Version: 1.0");
  header("Content-Type: text/plain; charset=UTF-8");
  header(std::string("Content-Transfer-Encoding: ") + (o.quotedPrintable ? "quoted-printable" : "8bit"));
  mail += "\r\n";

  std::vector<std::string> body = {
      "Hello,",
      "",
      "you have received a payment through PayNimbus. The details of the order:",
      "",
      "Order ID: " + o.orderID,
  };
  if (o.bodyDate != "-") body.push_back("Date: " + o.bodyDate);
  for (const std::string& line : {
           "Buyer name: " + o.buyerName,
           "Email: " + o.email,
           "Country: " + o.country,
           "Product: " + o.product,
           "Quantity: " + std::to_string(o.quantity),
           "Unit price: " + Money(o.unitPrice),
           "Amount: " + Money(o.amount),
           "VAT: " + Money(o.vat),
           "Currency: " + o.currency,
           "Licensed to: " + o.buyerName,
           "Registration code: " + o.regCode,
           "IP address: " + o.ipAddress,
           "Receipt: " + o.receiptURL,
       })
    body.push_back(line);
  if (!o.note.empty()) body.push_back("Note: " + o.note);
  for (const char* line : {"", "The amount will be paid out to your account within two business days.",
                           "Please do not reply to this automatic notification.", "", "-- ",
                           "PayNimbus - payments made simple", "https://paynimbus.example/"})
    body.emplace_back(line);

  for (const auto& line : body) {
    if (o.quotedPrintable) AppendQuotedPrintable(mail, line);
    else mail += line + "\r\n";
  }
  return mail;
}

}  // namespace qnb::test
