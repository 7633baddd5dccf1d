#include "analysis/OMAnalyze.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

#include "analysis/MailMessage.h"
#include "analysis/MsgType.h"
#include "analysis/PluginGuard.h"
#include "analysis/PluginHostClient.h"

namespace qnb {

namespace {

// 1950-01-01: plug-in and header dates before it are not believed.
constexpr TDateTime kEarliestDate = 18264.0;

template <class F>
F Export(void* handle, const char* name) {
  return reinterpret_cast<F>(dlsym(handle, name));
}

// Takes the next field up to sep off the front of rest (leading blanks skipped).
std::string NextField(std::string& rest, char sep) {
  rest = TrimLeft(rest);
  auto pos = rest.find(sep);
  std::string field = rest.substr(0, pos);
  rest = pos == std::string::npos ? std::string() : rest.substr(pos + 1);
  return field;
}

int MonthNumber(std::string_view field) {
  static const char* const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                        "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  for (int m = 0; m < 12; ++m)
    if (SameText(field, kMonths[m])) return m + 1;
  return 0;
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, TDateTime& result) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] + (month == 2 && leap)) return false;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return false;
  // 1899-12-30 is day -25569 counted from 1970-01-01.
  double date = static_cast<double>(DaysFromCivil(year, month, day) + 25569);
  double time = (hour * 3600 + minute * 60 + second) / 86400.0;
  // Before the epoch the time of day still counts away from zero.
  result = date < 0 ? date - time : date + time;
  return true;
}

TDateTime Today() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  TDateTime today = 0;
  TryEncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, 0, 0, 0, today);
  return today;
}

TDateTime InternetDateToDateTime(std::string_view value) {
  std::string s = Trim(value);
  if (s.empty()) return 0;

  static const char* const kDayNames[] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
  for (const char* dayName : kDayNames) {
    if (s.size() < 3 || !SameText(std::string_view(s).substr(0, 3), dayName)) continue;
    if (s.size() > 4 && s[3] == ',' && s[4] != ' ') s.insert(4, " ");
    auto blank = s.find(' ');
    s = blank == std::string::npos ? std::string() : Trim(std::string_view(s).substr(blank + 1));
    break;
  }

  auto firstBlank = s.find(' ');
  auto dash = s.find('-', 1);
  char sep = dash != std::string::npos && (firstBlank == std::string::npos || dash < firstBlank) ? '-' : ' ';

  std::string rest = s;
  std::string first = NextField(rest, sep);
  std::string dayField, monthField;
  if (MonthNumber(first)) {
    monthField = first;
    dayField = NextField(rest, sep);
  } else {
    dayField = first;
    monthField = NextField(rest, sep);
  }
  int month = MonthNumber(monthField);
  if (!month) return 0;
  int32_t day = 1;
  if (!VrTryStrToInt(dayField, day)) day = 1;

  int32_t year = 0;
  std::string yearField = NextField(rest, ' ');
  if (!VrTryStrToInt(yearField, year)) {
    // "Dec 8 21:05:09 2026": the time stands before the year.
    if (!VrTryStrToInt(Trim(rest), year)) return 0;
    rest = yearField;
  }
  if (year < 80) year += 2000;
  else if (year < 100) year += 1900;

  int32_t hms[3] = {0, 0, 0};
  if (rest.find(':') != std::string::npos) {
    std::string timeField = NextField(rest, ' ');
    for (int32_t& part : hms) {
      std::string piece = NextField(timeField, ':');
      if (!VrTryStrToInt(piece, part)) part = 0;
    }
  }
  TDateTime result = 0;
  if (!TryEncodeDateTime(year, month, day, hms[0], hms[1], hms[2], result)) return 0;
  return result;
}

std::string DefaultPluginDir() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string exe(buf, static_cast<size_t>(n));
  auto slash = exe.rfind('/');
  return (slash == std::string::npos ? std::string(".") : exe.substr(0, slash)) + "/OMAnalyze";
}

std::vector<std::string> ListPluginFiles(const std::string& dir, bool* ok) {
  std::vector<std::string> names;
  if (ok) *ok = true;
  DIR* d = opendir(dir.c_str());
  if (!d) {
    if (ok && errno != ENOENT && errno != ENOTDIR) *ok = false;
    return names;
  }
  for (;;) {
    errno = 0;
    dirent* e = readdir(d);
    if (!e) {
      if (errno != 0 && ok) *ok = false;
      break;
    }
    std::string_view name = e->d_name;
    if (name == "." || name == ".." || name.size() < 3 || !SameText(name.substr(name.size() - 3), ".so"))
      continue;
    if (e->d_type == DT_DIR) continue;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st {};
      if (stat((dir + "/" + e->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    }
    names.emplace_back(name);
  }
  closedir(d);
  return names;
}

TParseGear::TParseGear() : TParseGear(DefaultPluginDir()) {}

TParseGear::TParseGear(std::string pluginDir) : TParseGear(std::move(pluginDir), DefaultPluginHelper()) {}

TParseGear::TParseGear(std::string pluginDir, std::string helperPath, int callTimeoutMs)
    : FPluginDir(std::move(pluginDir)) {
  if (!helperPath.empty()) FHost = std::make_unique<TPluginHostClient>(std::move(helperPath), callTimeoutMs);
  LoadParsers();
}

// The libraries stay loaded: their code may still be referenced (a plug-in's
// own threads or atexit handlers), and the process ends soon after anyway.
TParseGear::~TParseGear() = default;

void TParseGear::Failed(const std::string& text) {
  FLastFailed = true;
  FLastFailure = text;
}

bool TParseGear::LoadParsers() {
  bool ok = true;
  std::vector<std::string> paths;
  for (auto& name : ListPluginFiles(FPluginDir, &ok)) paths.push_back(FPluginDir + "/" + name);
  LoadParserFiles(paths);
  return ok;
}

void TParseGear::LoadParserFiles(const std::vector<std::string>& paths) {
  FParserList.clear();
  FParserID = -1;
  FClaimCache.clear();
  FLastFailed = false;
  FLoadPending = false;
  if (FHost) {
    try {
      FHost->StartLoad(paths);
      FLoadPending = true;
    } catch (const EPluginHost& e) {
      Failed(e.what());
    }
    return;
  }
  for (const auto& path : paths) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) continue;
    // Rejected libraries are not unloaded either: a crashed GetResellerName
    // may have left them in any state, unloading included.
    auto getName = Export<TGetResellerNameFunc>(handle, "GetResellerName");
    if (!getName) continue;
    // Room beyond the 51 bytes of the contract, so that a plug-in writing a
    // somewhat longer name overruns nothing.
    char name[256] = {};
    TGuardedResult r = GuardedCall([&] { return getName(name); });
    if (!r.Returned() || r.Value != AS_NORMAL) continue;

    auto item = std::make_unique<TParserItem>();
    item->Reseller = std::string_view(name, strnlen(name, 50));
    item->DLLHandle = handle;
    auto slash = path.rfind('/');
    item->DLLFileName = slash == std::string::npos ? path : path.substr(slash + 1);
    item->IsOrder = Export<TIsOrderFunc>(handle, "IsOrder");
    item->IsOrderEx = Export<TIsOrderExFunc>(handle, "IsOrderEx");
    item->ParseOrder = Export<TParseOrderFunc>(handle, "ParseOrder");
    item->ParseOrderEx = Export<TParseOrderExFunc>(handle, "ParseOrderEx");
    FParserList.push_back(std::move(item));
  }
}

void TParseGear::EnsureLoaded() {
  if (!FLoadPending) return;
  FLoadPending = false;
  try {
    for (const auto& loaded : FHost->FinishLoad()) {
      auto item = std::make_unique<TParserItem>();
      item->Reseller = loaded.Reseller;
      item->DLLFileName = loaded.FileName;
      FParserList.push_back(std::move(item));
    }
  } catch (const EPluginHost& e) {
    Failed(e.what());
  }
}

int32_t TParseGear::ClaimText(const std::string& text) {
  for (size_t i = 0; i < FParserList.size(); ++i) {
    TIsOrderFunc isOrder = FParserList[i]->IsOrder;
    // A plug-in without IsOrder, or one that throws or crashes in it, does not
    // claim the mail; the next one is asked.
    if (!isOrder) continue;
    TGuardedResult r = GuardedCall([&] { return isOrder(text.c_str()); });
    if (r.Returned() && r.Value == AS_NORMAL) return static_cast<int32_t>(i);
  }
  return -1;
}

bool TParseGear::IsOrderMail(const TStrings& headers) {
  EnsureLoaded();
  FParserID = -1;
  FLastFailed = false;
  const std::string text = JoinCRLF(headers);
  if (auto it = FClaimCache.find(text); it != FClaimCache.end()) {
    FParserID = it->second;
    FClaimCache.erase(it);
    return FParserID >= 0;
  }
  if (FHost) {
    try {
      FParserID = FHost->Claim({text}).front();
    } catch (const EPluginHost& e) {
      Failed(e.what());
      return false;
    }
    if (FParserID >= static_cast<int>(FParserList.size())) FParserID = -1;
  } else {
    FParserID = ClaimText(text);
  }
  return FParserID >= 0;
}

namespace {

// The claims of these header texts; empty when the helper failed.
template <class ClaimOne>
std::vector<int32_t> ClaimTexts(TPluginHostClient* host, const std::vector<std::string>& texts, size_t parsers,
                                ClaimOne&& claimOne) {
  std::vector<int32_t> claims;
  if (host) {
    try {
      claims = host->Claim(texts);
    } catch (const EPluginHost&) {
      return {};
    }
  } else {
    claims.reserve(texts.size());
    for (const auto& t : texts) claims.push_back(claimOne(t));
  }
  for (auto& p : claims)
    if (p >= static_cast<int32_t>(parsers)) p = -1;
  return claims;
}

std::vector<std::string> HeaderTexts(const std::vector<const TStrings*>& headers) {
  std::vector<std::string> texts;
  texts.reserve(headers.size());
  for (const TStrings* h : headers) texts.push_back(JoinCRLF(*h));
  return texts;
}

}  // namespace

std::vector<bool> TParseGear::ClaimMany(const std::vector<const TStrings*>& headers) {
  EnsureLoaded();
  std::vector<bool> claimed(headers.size(), false);
  if (headers.empty()) return claimed;
  // Answers asked ahead and never used (their mail failed) are dropped.
  if (FClaimCache.size() > 4096) FClaimCache.clear();
  std::vector<std::string> texts = HeaderTexts(headers);
  const std::vector<int32_t> parsers =
      ClaimTexts(FHost.get(), texts, FParserList.size(), [this](const std::string& t) { return ClaimText(t); });
  if (parsers.size() != texts.size()) return claimed;
  for (size_t i = 0; i < texts.size(); ++i) {
    claimed[i] = parsers[i] >= 0;
    FClaimCache[std::move(texts[i])] = parsers[i];
  }
  return claimed;
}

std::vector<int32_t> TParseGear::ClaimParsers(const std::vector<const TStrings*>& headers) {
  EnsureLoaded();
  if (headers.empty()) return {};
  std::vector<int32_t> parsers = ClaimTexts(FHost.get(), HeaderTexts(headers), FParserList.size(),
                                            [this](const std::string& t) { return ClaimText(t); });
  if (parsers.size() != headers.size()) return {};
  return parsers;
}

bool TParseGear::UseClaim(int32_t parser) {
  EnsureLoaded();
  FLastFailed = false;
  FParserID = parser >= 0 && parser < static_cast<int32_t>(FParserList.size()) ? parser : -1;
  return FParserID >= 0;
}

bool TParseGear::GetOrderData(const TMsgType& msg, TOrderData* aOD) {
  return GetOrderData(msg.Body(), msg.Headers(), msg.FullSource(), aOD);
}

uint64_t TParseGear::ParseAhead(int32_t parser, const TMsgType& msg) {
  EnsureLoaded();
  if (!FHost || parser < 0 || parser >= static_cast<int32_t>(FParserList.size())) return 0;
  return FHost->SendParse(parser, msg.Body(), msg.Headers(), msg.FullSource());
}

bool TParseGear::GetOrderData(const TMsgType& msg, uint64_t ticket, TOrderData* aOD) {
  EnsureLoaded();
  if (ticket == 0 || !FHost) return GetOrderData(msg, aOD);
  *aOD = TOrderData{};
  FLastFailed = false;
  if (FParserID < 0 || FParserID >= static_cast<int>(FParserList.size())) return false;
  hostproto::TParsed answer;
  std::string failure;
  switch (FHost->TakeParsed(ticket, answer, failure)) {
    case TPluginHostClient::TAheadOutcome::aoLost:
      return GetOrderData(msg, aOD);
    case TPluginHostClient::TAheadOutcome::aoFailed:
      FParserID = static_cast<int>(FParserList.size());
      Failed(failure);
      return false;
    case TPluginHostClient::TAheadOutcome::aoAnswered:
      break;
  }
  FParserID = answer.Next;
  if (!answer.Parsed) return false;
  FillOrder(answer.Record, msg.Headers(), *aOD);
  return true;
}

bool TParseGear::GetOrderData(TLineSpan body, const TStrings& headers, TLineSpan fullSource,
                              TOrderData* aOD) {
  EnsureLoaded();
  *aOD = TOrderData{};
  FLastFailed = false;
  if (FParserID < 0 || FParserID >= static_cast<int>(FParserList.size())) return false;
  TOriginData od;
  std::memset(&od, 0, sizeof od);
  if (FHost) {
    hostproto::TParsed answer;
    try {
      answer = FHost->Parse(FParserID, body, headers, fullSource);
    } catch (const EPluginHost& e) {
      FParserID = static_cast<int>(FParserList.size());
      Failed(e.what());
      return false;
    }
    FParserID = answer.Next;
    if (!answer.Parsed) return false;
    od = answer.Record;
  } else if (!ParseWithPlugins(JoinCRLF(body).c_str(), JoinCRLF(headers).c_str(), JoinCRLF(fullSource).c_str(),
                               od)) {
    return false;
  }
  FillOrder(od, headers, *aOD);
  return true;
}

bool TParseGear::ParseFrom(int32_t& parserID, const char* body, const char* header, const char* source,
                           TOriginData& od) {
  FParserID = parserID < 0 ? static_cast<int>(FParserList.size()) : parserID;
  const bool parsed = ParseWithPlugins(body, header, source, od);
  parserID = FParserID;
  return parsed;
}

bool TParseGear::ParseWithPlugins(const char* body, const char* header, const char* source, TOriginData& od) {
  // The record is shared by the plug-ins tried in turn: a later one sees what
  // an earlier one left. A call that throws or crashes counts as a failure, so
  // a crashed plug-in's half-filled record is never taken as parsed.
  while (FParserID < static_cast<int>(FParserList.size())) {
    const TParserItem& item = *FParserList[static_cast<size_t>(FParserID)];
    ++FParserID;
    int32_t status = AS_ERROR;
    if (TParseOrderFunc parse = item.ParseOrder) {
      TGuardedResult r = GuardedCall([&] { return parse(body, header, &od); });
        status = r.Returned() ? r.Value : AS_ERROR;
      if (status == AS_FUN_NOFIND && item.ParseOrderEx) {
        TParseOrderExFunc parseEx = item.ParseOrderEx;
        TGuardedResult rx = GuardedCall([&] { return parseEx(source, &od); });
        status = rx.Returned() ? rx.Value : AS_ERROR;
      }
    }
    if (status == AS_NORMAL) return true;
  }
  return false;
}

void TParseGear::FillOrder(const TOriginData& od, const TStrings& headers, TOrderData& o) const {
  // A date that is no number at all counts as not given.
  TDateTime date = std::isfinite(od.PurchaseDate) ? od.PurchaseDate : 0;
  if (date < 1.0) date = InternetDateToDateTime(LookupHeader(headers, "Date"));
  if (date < kEarliestDate) date = 1.0;

  const TCountryCode& countries = CountryCode ? *CountryCode : FOwnCountryCode;
  o.OrderID = OriginText(od.OrderID);
  o.Name = OriginText(od.Name);
  o.Email = OriginText(od.Email);
  o.RegName = OriginText(od.RegName);
  o.RegCode = OriginText(od.RegCode);
  o.Product_Name = OriginText(od.ProductName);
  o.Version = OriginText(od.Version);
  o.Quantity = VrStrToInt(OriginText(od.Quantity));
  o.Amount = od.Amount;
  o.PurchaseDate = date;
  o.OrderFrom = OriginText(od.OrderFrom);
  o.Company = OriginText(od.Company);
  o.Country = countries.CountryToCode(OriginText(od.Country));
  o.LastName = OriginText(od.LastName);
  o.FirstName = OriginText(od.FirstName);
  o.Address = OriginText(od.Address);
  o.Address2 = OriginText(od.Address2);
  o.City = OriginText(od.City);
  o.State = OriginText(od.State);
  o.PostCode = OriginText(od.PostCode);
  o.Phone = OriginText(od.Phone);
  o.Fax = OriginText(od.Fax);
  o.Currency = OriginText(od.Currency);
  o.Comments = OriginText(od.Comments);
  o.VAT = od.VAT;
  o.UnitPrice = od.Unit_Price;
  o.DeliveryMethod = OriginText(od.Delivery_Method);
  o.IPAddress = OriginText(od.IPAddress);
  o.URLforReceipt = OriginText(od.URL_for_Receipt);
  o.AffiliateID = OriginText(od.Affiliate_ID);
  o.Commission = od.Commission;

  if (!Trim(o.FirstName + o.LastName).empty()) o.Name = o.FirstName + " " + o.LastName;
  if (Trim(o.RegName).empty() && !Trim(o.Name).empty()) o.RegName = o.Name;
  if (Trim(o.Name).empty() && !Trim(o.RegName).empty()) o.Name = o.RegName;
  const TNameParser& names = NameParser ? *NameParser : FOwnNameParser;
  names.splitName(o.Name, o.FirstName, o.LastName);
  if (o.PurchaseDate < 100.0) o.PurchaseDate = Today();
}

}  // namespace qnb
