#include "rules/RuleEngine.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "rules/Amount.h"
#include "rules/RuleFile.h"
#include "settings/TextConv.h"

namespace qnb::rules {

namespace {

// Any pattern matches; a search ended by the limit counts as limitValue.
bool AnyMatches(const TPatternList& list, std::string_view text, bool limitValue) {
  for (const auto& p : list) {
    TMatch m;
    TMatchResult r = p->Search(text, m);
    if (r == TMatchResult::Match) return true;
    if (r == TMatchResult::Limit && limitValue) return true;
  }
  return false;
}

// White space runs become one space, the ends are trimmed.
std::string Collapse(std::string_view s) {
  std::string out;
  bool space = false;
  for (char c : s) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    out += c;
  }
  return out;
}

const char* const kDefaultDateFormats[] = {"%Y-%m-%d %H:%M:%S", "%Y-%m-%dT%H:%M:%S", "%Y-%m-%d", "%B %d, %Y %I:%M %p",
                                           "%B %d, %Y %H:%M:%S", "%B %d, %Y", "%b %d, %Y", "%d %B %Y",
                                           "%d. %B %Y", "%d.%m.%Y %H:%M", "%d.%m.%Y"};

struct TValue {
  std::string text;     // text fields
  int64_t amount = 0;   // amount fields
  double date = 0;      // PurchaseDate
  std::string currency; // the currency an amount showed
};

bool Convert(const TRule& rule, TFieldKind kind, std::string_view raw, TValue& v) {
  std::string s = Collapse(raw);
  if (s.empty()) return false;
  switch (kind) {
    case TFieldKind::Text:
      v.text = s;
      return true;
    case TFieldKind::Email: {
      if (s.rfind("mailto:", 0) == 0) s.erase(0, 7);
      while (!s.empty() && (s.front() == '<' || s.front() == '(')) s.erase(0, 1);
      while (!s.empty() && (s.back() == '>' || s.back() == ')' || s.back() == '.')) s.pop_back();
      if (s.find('@') == std::string::npos || s.find(' ') != std::string::npos) return false;
      v.text = s;
      return true;
    }
    case TFieldKind::Quantity: {
      size_t b = s.find_first_of("0123456789");
      if (b == std::string::npos) return false;
      size_t e = s.find_first_not_of("0123456789", b);
      v.text = s.substr(b, std::min<size_t>(e == std::string::npos ? s.size() - b : e - b, 10));
      return true;
    }
    case TFieldKind::Amount:
      if (!ParseAmount(s, v.amount)) return false;
      v.currency = CurrencyCode(s, rule.currency);
      return true;
    case TFieldKind::Currency:
      v.text = CurrencyCode(s, rule.currency);
      return !v.text.empty();
    case TFieldKind::Date:
      if (!rule.dateFormats.empty()) {
        for (const auto& f : rule.dateFormats)
          if (ParseDate(s, f, v.date)) return true;
        return false;
      }
      for (const char* f : kDefaultDateFormats)
        if (ParseDate(s, f, v.date)) return true;
      return false;
  }
  return false;
}

void WriteText(TOriginData& od, const TFieldInfo& info, std::string text) {
  CutUtf8(text, info.size - 1);
  char* dst = reinterpret_cast<char*>(&od) + info.offset;
  std::memset(dst, 0, info.size);
  std::memcpy(dst, text.data(), text.size());
}

}  // namespace

std::vector<std::string> RuleFilesIn(const std::string& dir) {
  std::vector<std::string> out;
  if (dir.empty()) return out;
  std::error_code ec;
  std::filesystem::directory_iterator it(dir, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.' || name.size() < 6 || name.compare(name.size() - 5, 5, ".toml") != 0)
      continue;
    std::error_code fec;
    if (!it->is_regular_file(fec)) continue;
    out.push_back(it->path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

void TRuleSet::Load(const std::string& shippedDir, const std::string& userDir) {
  std::vector<TRuleError> errors;
  std::vector<std::shared_ptr<TRule>> shipped, user;
  for (const auto& f : RuleFilesIn(shippedDir)) {
    TRuleFileResult r = LoadRuleFile(f, false);
    shipped.insert(shipped.end(), r.rules.begin(), r.rules.end());
    errors.insert(errors.end(), r.errors.begin(), r.errors.end());
  }
  if (userDir != shippedDir) {
    for (const auto& f : RuleFilesIn(userDir)) {
      TRuleFileResult r = LoadRuleFile(f, true);
      user.insert(user.end(), r.rules.begin(), r.rules.end());
      errors.insert(errors.end(), r.errors.begin(), r.errors.end());
    }
  }
  Assign(std::move(shipped), std::move(user));
  errors.insert(errors.end(), errors_.begin(), errors_.end());
  errors_ = std::move(errors);
}

void TRuleSet::Assign(std::vector<std::shared_ptr<TRule>> shipped, std::vector<std::shared_ptr<TRule>> user) {
  errors_.clear();
  rules_.clear();
  std::map<std::string, const TRule*> seen;
  auto keep = [&](const std::shared_ptr<TRule>& r) {
    auto [it, fresh] = seen.emplace(r->id, r.get());
    if (!fresh) {
      errors_.push_back({r->file, r->line,
                         "the id \"" + r->id + "\" is taken by the rule at " + it->second->file + ":" +
                             std::to_string(it->second->line)});
      return;
    }
    rules_.push_back(r);
  };
  for (const auto& r : user) keep(r);
  std::set<std::string> shippedIds;
  for (const auto& r : shipped) {
    if (!shippedIds.insert(r->id).second) {
      errors_.push_back({r->file, r->line, "the id \"" + r->id + "\" is taken by another shipped rule"});
      continue;
    }
    // An own rule of the same id replaces it.
    if (seen.count(r->id)) continue;
    rules_.push_back(r);
  }
  Index();
}

void TRuleSet::Index() {
  byFrom_.clear();
  anySender_.clear();
  neededHeaders_.clear();
  for (size_t i = 0; i < rules_.size(); ++i) {
    const TRule& r = *rules_[i];
    if (r.from.empty()) anySender_.push_back(i);
    for (const auto& f : r.from) {
      auto& v = byFrom_[f];
      if (v.empty() || v.back() != i) v.push_back(i);
    }
    for (const auto* list : {&r.headers, &r.notHeaders})
      for (const auto& h : *list)
        if (std::find(neededHeaders_.begin(), neededHeaders_.end(), h.name) == neededHeaders_.end())
          neededHeaders_.push_back(h.name);
  }
}

const TRule* TRuleSet::Claim(std::string_view rawHeader) const {
  if (rules_.empty()) return nullptr;
  std::string from, subjectRaw;
  bool haveFrom = false, haveSubject = false;
  std::vector<std::pair<std::string, std::string>> extra;  // lower-case name, raw value
  ForEachHeaderField(rawHeader, [&](std::string_view name, std::string_view value) {
    if (!haveFrom && AsciiIEquals(name, "from")) {
      from.assign(value);
      haveFrom = true;
    } else if (!haveSubject && AsciiIEquals(name, "subject")) {
      subjectRaw.assign(value);
      haveSubject = true;
    }
    for (const auto& n : neededHeaders_)
      if (AsciiIEquals(name, n)) extra.emplace_back(n, std::string(value));
  });

  std::vector<size_t> candidates = anySender_;
  std::string addr = ExtractAddress(from);
  if (!addr.empty()) {
    auto add = [&](const std::string& key) {
      auto it = byFrom_.find(key);
      if (it != byFrom_.end()) candidates.insert(candidates.end(), it->second.begin(), it->second.end());
    };
    add(addr);
    size_t at = addr.rfind('@');
    for (size_t dot = at; dot != std::string::npos; dot = addr.find('.', dot + 1)) add(addr.substr(dot + 1));
  }
  if (candidates.empty()) return nullptr;
  std::sort(candidates.begin(), candidates.end());
  candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());

  std::string subject = DecodeHeaderValue(subjectRaw);
  bool decodedExtra = false;
  for (size_t idx : candidates) {
    const TRule& r = *rules_[idx];
    if (!r.enabled) continue;
    if (!r.subject.empty() && !AnyMatches(r.subject, subject, false)) continue;
    if (AnyMatches(r.notSubject, subject, true)) continue;
    if ((!r.headers.empty() || !r.notHeaders.empty()) && !decodedExtra) {
      for (auto& e : extra) e.second = DecodeHeaderValue(e.second);
      decodedExtra = true;
    }
    bool ok = true;
    for (const auto& h : r.headers) {
      bool any = false;
      for (const auto& e : extra)
        if (e.first == h.name && AnyMatches(h.patterns, e.second, false)) any = true;
      ok = ok && any;
    }
    for (const auto& h : r.notHeaders)
      for (const auto& e : extra)
        if (e.first == h.name && AnyMatches(h.patterns, e.second, true)) ok = false;
    if (ok) return &r;
  }
  return nullptr;
}

bool TRuleSet::Parse(const TRule& rule, const TMailText& mail, TOriginData& od, TParseReport* report) {
  TParseReport local;
  TParseReport& rep = report ? *report : local;
  rep = {};
  auto bodyAny = [&](const TPatternList& list, bool limitValue, size_t& which) {
    for (size_t i = 0; i < list.size(); ++i)
      for (const std::string* t : {&mail.text, &mail.html}) {
        TMatch m;
        TMatchResult r = list[i]->Search(*t, m);
        if (r == TMatchResult::Match || (r == TMatchResult::Limit && limitValue)) {
          which = i + 1;
          return true;
        }
      }
    return false;
  };
  size_t which = 0;
  if (!rule.text.empty() && !bodyAny(rule.text, false, which)) {
    rep.reason = "rule " + rule.id + ": the body matches no text pattern";
    return false;
  }
  if (bodyAny(rule.notText, true, which)) {
    rep.reason = "rule " + rule.id + ": the body matches not_text pattern " + std::to_string(which);
    return false;
  }

  struct TFound {
    const TFieldInfo* info;
    TValue value;
  };
  std::vector<TFound> found;
  std::string amountCurrency;
  for (const TFieldSpec& field : rule.fields) {
    const TFieldInfo* info = FindField(field.name);
    if (!info) continue;
    bool done = false;
    for (size_t e = 0; e < field.entries.size() && !done; ++e) {
      const TFieldEntry& entry = field.entries[e];
      TValue v;
      TFieldHit hit;
      hit.field = field.name;
      hit.source = entry.source;
      hit.header = entry.header;
      hit.entry = static_cast<int>(e + 1);
      if (!entry.pattern) {
        if (!Convert(rule, field.kind, entry.value, v)) continue;
        done = true;
      } else {
        std::vector<std::pair<const std::string*, bool>> texts;
        std::string headerValue;
        switch (entry.source) {
          case TSource::Body: texts = {{&mail.text, false}, {&mail.html, true}}; break;
          case TSource::Text: texts = {{&mail.text, false}}; break;
          case TSource::Html: texts = {{&mail.html, true}}; break;
          case TSource::Subject: texts = {{&mail.subject, false}}; break;
          case TSource::Header:
            headerValue = mail.Header(entry.header);
            texts = {{&headerValue, false}};
            break;
        }
        for (const auto& [text, inHtml] : texts) {
          TMatch m;
          TMatchResult r = entry.pattern->Search(*text, m);
          if (r == TMatchResult::Limit) {
            rep.reason = "rule " + rule.id + ": field " + field.name + ", pattern " + std::to_string(e + 1) +
                         ": the match limit ended the search";
            return false;
          }
          if (r != TMatchResult::Match) continue;
          if (entry.pattern->Groups() > 0 && !m.hasGroup) continue;
          size_t b = m.hasGroup ? m.groupStart : m.start, en = m.hasGroup ? m.groupEnd : m.end;
          if (!Convert(rule, field.kind, std::string_view(*text).substr(b, en - b), v)) continue;
          hit.inHtml = inHtml;
          hit.start = b;
          hit.end = en;
          done = true;
          break;
        }
      }
      if (done) {
        switch (field.kind) {
          case TFieldKind::Amount: hit.value = v.currency; break;
          case TFieldKind::Date: hit.value = std::to_string(v.date); break;
          default: hit.value = v.text; break;
        }
        if (field.kind == TFieldKind::Amount) {
          char buf[40];
          int64_t a = v.amount;
          uint64_t mag = a < 0 ? uint64_t(0) - uint64_t(a) : uint64_t(a);
          std::snprintf(buf, sizeof buf, "%s%llu.%04llu", a < 0 ? "-" : "", static_cast<unsigned long long>(mag / 10000),
                        static_cast<unsigned long long>(mag % 10000));
          hit.value = buf;
          if (field.name == "Amount") amountCurrency = v.currency;
        }
        rep.hits.push_back(hit);
        found.push_back({info, std::move(v)});
      }
    }
  }
  for (const std::string& req : rule.required) {
    bool have = std::any_of(found.begin(), found.end(), [&](const TFound& f) { return req == f.info->name; });
    if (!have) {
      rep.reason = "rule " + rule.id + ": field " + req + " not found";
      return false;
    }
  }

  bool currencyGiven = false;
  for (const TFound& f : found) {
    char* dst = reinterpret_cast<char*>(&od) + f.info->offset;
    switch (f.info->kind) {
      case TFieldKind::Amount: std::memcpy(dst, &f.value.amount, sizeof(int64_t)); break;
      case TFieldKind::Date: std::memcpy(dst, &f.value.date, sizeof(double)); break;
      default:
        WriteText(od, *f.info, f.value.text);
        currencyGiven = currencyGiven || f.info->kind == TFieldKind::Currency;
        break;
    }
  }
  std::string currency = !amountCurrency.empty() ? amountCurrency : rule.currency;
  if (!currencyGiven && !currency.empty()) WriteText(od, *FindField("Currency"), currency);
  WriteText(od, TFieldInfo{"OrderFrom", TFieldKind::Text, offsetof(TOriginData, OrderFrom), sizeof(od.OrderFrom)},
            rule.service);
  return true;
}

bool TRuleSet::Analyze(std::string_view source, TOriginData& od, const TRule** claimed, TParseReport* report) const {
  if (claimed) *claimed = nullptr;
  try {
    const TRule* rule = Claim(source);
    if (!rule) {
      if (report) {
        *report = {};
        std::string from;
        ForEachHeaderField(source, [&](std::string_view n, std::string_view v) {
          if (from.empty() && AsciiIEquals(n, "from")) from = ExtractAddress(v);
        });
        report->reason = "no rule claims the mail" + (from.empty() ? std::string() : " from " + from);
      }
      return false;
    }
    if (claimed) *claimed = rule;
    TMailText mail = DecodeMail(source);
    return Parse(*rule, mail, od, report);
  } catch (const std::exception& e) {
    if (report) report->reason = std::string("the mail could not be read: ") + e.what();
    return false;
  }
}

TRuleStore::TRuleStore(std::string shippedDir, std::string userDir)
    : shipped_(std::move(shippedDir)), user_(std::move(userDir)) {}

std::string TRuleStore::Fingerprint() const {
  std::string fp;
  for (const std::string* dir : {&shipped_, &user_}) {
    for (const auto& f : RuleFilesIn(*dir)) {
      std::error_code ec;
      auto t = std::filesystem::last_write_time(f, ec);
      auto size = std::filesystem::file_size(f, ec);
      fp += f;
      fp += '|';
      fp += std::to_string(t.time_since_epoch().count());
      fp += '|';
      fp += std::to_string(size);
      fp += '\n';
    }
    fp += "--\n";
  }
  return fp;
}

bool TRuleStore::Refresh() {
  std::string fp = Fingerprint();
  if (loaded_ && fp == fingerprint_) return false;
  set_.Load(shipped_, user_);
  fingerprint_ = std::move(fp);
  loaded_ = true;
  return true;
}

}  // namespace qnb::rules
