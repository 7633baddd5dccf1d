#pragma once
// The order record and the analyzer host: loads the plug-ins from a folder,
// offers mail headers to them and turns a claimed mail into a TOrderData.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analysis/CountryCode.h"
#include "analysis/NameParser.h"
#include "analysis/ParserInf.h"
#include "analysis/TextUtil.h"

namespace qnb {

class TMsgType;
class TPluginHostClient;

using TCurrency = int64_t;  // amount x 10000
using TDateTime = double;   // days since 1899-12-30, the fraction is the time of day

// Text of at most N bytes; longer text is cut at N whenever it is set.
template <std::size_t N>
class TShortText {
 public:
  static constexpr std::size_t Capacity = N;

  TShortText() = default;
  explicit TShortText(std::string_view s) : s_(s.substr(0, N)) {}
  TShortText& operator=(std::string_view s) {
    s_.assign(s.substr(0, N));
    return *this;
  }
  TShortText& operator=(const std::string& s) { return *this = std::string_view(s); }
  TShortText& operator=(const char* s) { return *this = std::string_view(s); }
  template <std::size_t M>
  TShortText& operator=(const TShortText<M>& other) {
    return *this = other.str();
  }

  const std::string& str() const { return s_; }
  const char* c_str() const { return s_.c_str(); }
  std::size_t size() const { return s_.size(); }
  bool empty() const { return s_.empty(); }
  operator const std::string&() const { return s_; }
  operator std::string_view() const { return s_; }

  bool operator==(const TShortText&) const = default;
  bool operator==(std::string_view s) const { return s_ == s; }
  friend std::ostream& operator<<(std::ostream& os, const TShortText& t) { return os << t.s_; }

 private:
  std::string s_;
};

// One order, as the host fills it from a plug-in's record; the worker adds UID
// and FromAccount. A fresh record is all zeros and empty texts.
struct TOrderData {
  std::string UID;
  std::string FromAccount;
  TShortText<100> OrderID;
  TShortText<100> Name;
  TShortText<200> Email;
  TShortText<100> RegName;
  std::string RegCode;
  TShortText<100> Product_Name;
  TShortText<20> Version;
  int32_t Quantity = 0;
  TCurrency Amount = 0;
  TDateTime PurchaseDate = 0;
  TShortText<100> OrderFrom;
  TShortText<100> Company;
  TShortText<100> Country;
  std::string LastName;
  std::string FirstName;
  std::string Address;
  std::string Address2;
  std::string City;
  std::string State;
  std::string PostCode;
  std::string Phone;
  std::string Fax;
  std::string Currency;
  std::string Comments;
  TCurrency VAT = 0;
  TCurrency UnitPrice = 0;
  TShortText<200> DeliveryMethod;
  TShortText<50> IPAddress;
  TShortText<200> URLforReceipt;
  TShortText<100> AffiliateID;
  TCurrency Commission = 0;
};
using POrderData = TOrderData*;

// One accepted plug-in library.
struct TParserItem {
  TShortText<30> Reseller;
  void* DLLHandle = nullptr;
  TShortText<200> DLLFileName;  // without the folder
  TParseOrderFunc ParseOrder = nullptr;
  TParseOrderExFunc ParseOrderEx = nullptr;
  TIsOrderFunc IsOrder = nullptr;
  TIsOrderExFunc IsOrderEx = nullptr;  // kept, never called
};
using PParserItem = TParserItem*;

// The analyzer host. Used by one thread at a time (the mail-check worker); it
// keeps the claim of the last IsOrderMail for the following GetOrderData.
//
// Where the helper process is found (quenbell-analyzer-host beside the
// executable), the plug-ins run in it under the same crash guard, so that one
// that aborts, corrupts its heap or hangs costs only the call it was in: that
// call fails (LastCallFailed), and the next one starts a fresh helper. Without
// a helper, or with QUENBELL_PLUGINS_IN_PROCESS set, they run in this process.
class TParseGear {
 public:
  // Loads every plug-in in OMAnalyze beside the executable.
  TParseGear();
  // Loads every plug-in in pluginDir instead.
  explicit TParseGear(std::string pluginDir);
  // With this helper executable; "" runs the plug-ins in the process.
  TParseGear(std::string pluginDir, std::string helperPath,
             int callTimeoutMs = kPluginCallTimeoutMs);
  TParseGear(const TParseGear&) = delete;
  TParseGear& operator=(const TParseGear&) = delete;
  ~TParseGear();

  static constexpr int kPluginCallTimeoutMs = 10000;

  // Replaces the plug-in list with the libraries of the plug-in folder, in
  // the order the folder lists them. False only when the folder could not be
  // read through (a missing folder just gives no plug-ins).
  bool LoadParsers();
  // Replaces the plug-in list with these library files, in this order.
  void LoadParserFiles(const std::vector<std::string>& paths);

  // True when a plug-in claims the mail whose header lines these are; the
  // first plug-in in list order that answers AS_NORMAL wins. A claim asked
  // ahead through ClaimMany is answered from its cache.
  bool IsOrderMail(const TStrings& headers);
  // Asks for the claims of many mails at once (one call to the helper) and
  // keeps them for the IsOrderMail of each; true per mail that is claimed.
  // A failed call keeps nothing and reports nothing: each mail's own
  // IsOrderMail then asks again.
  std::vector<bool> ClaimMany(const std::vector<const TStrings*>& headers);
  // The same single call, with the answers handed back instead of kept: per
  // mail the plug-in that claims it (-1: none). Empty when the call failed.
  std::vector<int32_t> ClaimParsers(const std::vector<const TStrings*>& headers);
  // Takes a claim from ClaimParsers as the mail's own, as IsOrderMail would
  // have found it, for the following GetOrderData; true when claimed. Spares
  // the caller that keeps the claims joining and looking up the header again.
  bool UseClaim(int32_t parser);

  // Lets the claiming plug-in, and while they fail the ones after it, parse the
  // mail, then applies the date and name rules. True when aOD is filled;
  // aOD is reset in every case.
  bool GetOrderData(const TMsgType& msg, TOrderData* aOD);
  // The same on the mail's pieces: body lines, header lines, whole source.
  bool GetOrderData(TLineSpan body, const TStrings& headers, TLineSpan fullSource,
                    TOrderData* aOD);
  bool GetOrderData(const TStrings& body, const TStrings& headers, const TStrings& fullSource, TOrderData* aOD) {
    return GetOrderData(TLineSpan(body), headers, TLineSpan(fullSource), aOD);
  }

  // Sends the parse of a claimed mail (by plug-in `parser` on) to the helper
  // ahead of its turn, so that the helper works on it while the caller goes
  // on; the ticket for GetOrderData, or 0 when it was not sent (no helper,
  // too many out, too large).
  uint64_t ParseAhead(int32_t parser, const TMsgType& msg);
  // GetOrderData for a mail whose parse was sent ahead by the plug-in of the
  // current claim; one the helper never got to is parsed now. Ticket 0 is
  // GetOrderData itself.
  bool GetOrderData(const TMsgType& msg, uint64_t ticket, TOrderData* aOD);

  // True when the last IsOrderMail or GetOrderData failed because the helper
  // crashed or did not answer (the mail then counts as not claimed or not
  // parsed); the text says how.
  bool LastCallFailed() const { return FLastFailed; }
  const std::string& LastFailureText() const { return FLastFailure; }
  bool Isolated() const { return FHost != nullptr; }
  TPluginHostClient* Host() const { return FHost.get(); }

  // Turns a plug-in's record into an order the way GetOrderData does: the
  // Date header when the record has no date, names split, countries coded.
  void FillOrder(const TOriginData& od, const TStrings& headers, TOrderData& o) const;

  const std::vector<std::unique_ptr<TParserItem>>& ParserList() {
    EnsureLoaded();
    return FParserList;
  }
  int ParserID() const { return FParserID; }
  const std::string& PluginDir() const { return FPluginDir; }

  // The helper's side: the in-process claim of one header text (the index of
  // the claiming plug-in or -1), and a parse from plug-in `parserID` on, which
  // leaves parserID after the last one tried.
  int32_t ClaimText(const std::string& headerText);
  // The texts are NUL-terminated, as the plug-ins take them.
  bool ParseFrom(int32_t& parserID, const char* body, const char* header, const char* source, TOriginData& od);

 private:
  bool ParseWithPlugins(const char* body, const char* header, const char* source, TOriginData& od);
  void Failed(const std::string& text);
  // With a helper the load is only sent at first; its answer is read when
  // the plug-in list is first needed, so that a check connects meanwhile.
  void EnsureLoaded();
  bool FLoadPending = false;

  int FParserID = -1;
  std::string FPluginDir;
  std::vector<std::unique_ptr<TParserItem>> FParserList;
  std::unique_ptr<TPluginHostClient> FHost;
  std::unordered_map<std::string, int32_t> FClaimCache;
  bool FLastFailed = false;
  std::string FLastFailure;
  // Used when the program-wide helpers have not been created.
  TCountryCode FOwnCountryCode;
  TNameParser FOwnNameParser;
};

// OMAnalyze beside the running executable.
std::string DefaultPluginDir();

// The names of the plug-in libraries in dir (files ending ".so" in any case,
// hidden ones included), in the order the folder lists them. Sets ok false when
// the folder could not be read through; a missing folder gives no names.
std::vector<std::string> ListPluginFiles(const std::string& dir, bool* ok = nullptr);

// A date-time from year, month, day and the time of day; false for an
// impossible date or time.
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, TDateTime& result);
// Today at midnight, local time.
TDateTime Today();
// An Internet "Date" header value as a date-time, the zone ignored; 0 when it
// cannot be read.
TDateTime InternetDateToDateTime(std::string_view value);

}  // namespace qnb
