#pragma once
// Payment notifications of the fictional PayNimbus service, as the example
// analyzer plug-in (plugins/example) reads them: for tests, benchmarks and the
// demo mailbox.

#include <cstdint>
#include <string>

namespace qnb::test {

// What one notification says. Empty texts and zero numbers are filled from
// the order number by PayNimbusOrderFor; the mail says exactly these values.
struct TPayNimbusOrder {
  std::string orderID;                 // "PN-" + (100000 + seq)
  std::string buyerName;               // UTF-8, e.g. "Zoë Müller"
  std::string email;
  std::string country;
  std::string product;
  int quantity = 0;
  int64_t unitPrice = 0;               // currency (x 10000)
  int64_t amount = 0;                  // unitPrice x quantity
  int64_t vat = 0;                     // the 19 % contained in amount, to the cent
  std::string currency;                // "EUR"
  std::string regCode;
  std::string ipAddress;
  std::string receiptURL;
  std::string note;                    // optional "Note:" line, none when empty
  // "Date:" line of the body; "-" leaves the line out (the host then takes the
  // Date header).
  std::string bodyDate;                // "2026-12-08 21:05:09"
  // The Date header; "-" leaves it out.
  std::string dateHeader;              // "Tue, 08 Dec 2026 21:05:09 +0900"
  bool quotedPrintable = true;         // else 8bit
};

std::string PayNimbusOrderID(int seq);

// order with every empty field filled from seq (order number 100000 + seq).
TPayNimbusOrder PayNimbusOrderFor(int seq, TPayNimbusOrder order = {});

// The full mail (CRLF line ends, no closing "." line) for order number seq.
std::string MakePayNimbusMail(int seq, const TPayNimbusOrder& order = {});

}  // namespace qnb::test
