#include "rules/RuleFile.h"

#include <toml++/toml.h>

#include <cstddef>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "quenbell/analyzer.h"
#include "rules/Amount.h"

namespace qnb::rules {

const char* SourceName(TSource s) {
  switch (s) {
    case TSource::Body: return "body";
    case TSource::Text: return "text";
    case TSource::Html: return "html";
    case TSource::Subject: return "subject";
    case TSource::Header: return "header";
  }
  return "body";
}

const std::vector<TFieldInfo>& FieldTable() {
#define QNB_TEXT(f) {#f, TFieldKind::Text, offsetof(TOriginData, f), sizeof(TOriginData::f)}
#define QNB_KIND(f, k) {#f, TFieldKind::k, offsetof(TOriginData, f), sizeof(TOriginData::f)}
  static const std::vector<TFieldInfo> table = {
      QNB_TEXT(OrderID),        QNB_KIND(PurchaseDate, Date), QNB_TEXT(Company),       QNB_TEXT(Name),
      QNB_TEXT(LastName),       QNB_TEXT(FirstName),          QNB_TEXT(RegName),       QNB_KIND(Email, Email),
      QNB_TEXT(Address),        QNB_TEXT(Address2),           QNB_TEXT(City),          QNB_TEXT(State),
      QNB_TEXT(PostCode),       QNB_TEXT(Country),            QNB_TEXT(Phone),         QNB_TEXT(Fax),
      QNB_KIND(Quantity, Quantity), QNB_KIND(Amount, Amount), QNB_KIND(Currency, Currency), QNB_TEXT(ProductName),
      QNB_TEXT(Version),        QNB_TEXT(RegCode),            QNB_TEXT(Comments),      QNB_KIND(VAT, Amount),
      QNB_KIND(Unit_Price, Amount), QNB_TEXT(Delivery_Method), QNB_TEXT(IPAddress),    QNB_TEXT(URL_for_Receipt),
      QNB_TEXT(Affiliate_ID),   QNB_KIND(Commission, Amount),
  };
#undef QNB_TEXT
#undef QNB_KIND
  return table;
}

const TFieldInfo* FindField(std::string_view name) {
  for (const auto& f : FieldTable())
    if (name == f.name) return &f;
  return nullptr;
}

namespace {

int LineOf(const toml::node& n) {
  int line = static_cast<int>(n.source().begin.line);
  return line > 0 ? line : 1;
}

class TRuleReader {
 public:
  TRuleReader(const std::string& file, std::vector<TRuleError>& errors) : file_(file), errors_(errors) {}

  std::shared_ptr<TRule> Read(const toml::table& t, bool user) {
    bad_ = false;
    auto rule = std::make_shared<TRule>();
    rule->file = file_;
    rule->line = LineOf(t);
    rule->user = user;
    static const std::set<std::string> known = {"id",      "service", "enabled",     "currency", "date_formats",
                                                "from",    "subject", "not_subject", "headers",  "not_headers",
                                                "text",    "not_text", "required",   "fields"};
    for (auto&& [k, v] : t)
      if (!known.count(std::string(k.str()))) Fail(v, "unknown key \"" + std::string(k.str()) + "\"");

    rule->id = String(t, "id", true);
    if (!rule->id.empty()) {
      for (char c : rule->id)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.')) {
          Fail(*t.get("id"), "id may hold only letters, digits, '-', '_' and '.'");
          break;
        }
    }
    rule->service = String(t, "service", true);
    if (rule->service.size() > 50) Fail(*t.get("service"), "service is longer than 50 bytes");
    if (const toml::node* n = t.get("enabled")) {
      if (auto b = n->value<bool>()) rule->enabled = *b;
      else Fail(*n, "enabled must be true or false");
    }
    rule->currency = String(t, "currency", false);
    if (!rule->currency.empty() && !IsCurrencyCode(rule->currency))
      Fail(*t.get("currency"), "currency \"" + rule->currency + "\" is no ISO 4217 code");
    rule->dateFormats = Strings(t, "date_formats");
    for (std::string& f : Strings(t, "from")) {
      while (!f.empty() && f[0] == '@') f.erase(0, 1);
      for (char& c : f)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (f.find('.') == std::string::npos) Fail(*t.get("from"), "from \"" + f + "\" is no address or domain");
      rule->from.push_back(f);
    }
    rule->subject = Patterns(t, "subject", "subject");
    rule->notSubject = Patterns(t, "not_subject", "not_subject");
    rule->headers = Headers(t, "headers");
    rule->notHeaders = Headers(t, "not_headers");
    rule->text = Patterns(t, "text", "text");
    rule->notText = Patterns(t, "not_text", "not_text");
    if (rule->from.empty() && rule->subject.empty() && rule->headers.empty() && !t.get("from") &&
        !t.get("subject") && !t.get("headers"))
      Fail(t, "a rule needs a from, subject or headers condition, or it would claim every mail");

    if (const toml::node* n = t.get("fields")) {
      if (const toml::table* ft = n->as_table()) {
        for (auto&& [k, v] : *ft) Field(*rule, std::string(k.str()), v);
      } else {
        Fail(*n, "fields must be a table");
      }
    } else {
      Fail(t, "a rule needs a [rule.fields] table");
    }

    if (const toml::node* n = t.get("required")) {
      rule->required = Strings(t, "required");
      for (const std::string& r : rule->required) {
        bool have = false;
        for (const auto& f : rule->fields) have = have || f.name == r;
        if (!FindField(r)) Fail(*n, "required names no field \"" + r + "\"");
        else if (!have) Fail(*n, "required field " + r + " has no entry in fields");
      }
    } else {
      for (const auto& f : rule->fields)
        if (f.name == "OrderID" || f.name == "Amount") rule->required.push_back(f.name);
    }
    if (bad_) return nullptr;
    return rule;
  }

  void Fail(const toml::node& n, const std::string& message) {
    errors_.push_back({file_, LineOf(n), message});
    bad_ = true;
  }

 private:
  std::string String(const toml::table& t, const char* key, bool required) {
    const toml::node* n = t.get(key);
    if (!n) {
      if (required) Fail(t, std::string("a rule needs ") + key);
      return {};
    }
    auto s = n->value<std::string>();
    if (!s || (required && s->empty())) {
      Fail(*n, std::string(key) + " must be a non-empty string");
      return {};
    }
    return *s;
  }

  // A string or an array of strings.
  std::vector<std::string> Strings(const toml::table& t, const char* key) {
    std::vector<std::string> out;
    const toml::node* n = t.get(key);
    if (!n) return out;
    if (auto s = n->value<std::string>()) {
      out.push_back(*s);
    } else if (const toml::array* a = n->as_array()) {
      for (const toml::node& e : *a) {
        if (auto es = e.value<std::string>()) out.push_back(*es);
        else Fail(e, std::string(key) + " must hold strings");
      }
    } else {
      Fail(*n, std::string(key) + " must be a string or an array of strings");
    }
    return out;
  }

  std::shared_ptr<TPattern> Compile(const toml::node& n, const std::string& what, const std::string& text) {
    auto p = std::make_shared<TPattern>(text);
    if (!p->Ok()) {
      Fail(n, what + ": " + p->Error() + " at offset " + std::to_string(p->ErrorOffset()));
      return nullptr;
    }
    return p;
  }

  TPatternList PatternList(const toml::node& n, const std::string& what) {
    TPatternList out;
    auto one = [&](const toml::node& e, const std::string& label) {
      if (auto s = e.value<std::string>()) {
        if (auto p = Compile(e, label, *s)) out.push_back(p);
      } else {
        Fail(e, what + " must hold patterns (strings)");
      }
    };
    if (const toml::array* a = n.as_array()) {
      int i = 0;
      for (const toml::node& e : *a) one(e, what + ", pattern " + std::to_string(++i));
    } else {
      one(n, what);
    }
    return out;
  }

  TPatternList Patterns(const toml::table& t, const char* key, const std::string& what) {
    const toml::node* n = t.get(key);
    return n ? PatternList(*n, what) : TPatternList{};
  }

  std::vector<THeaderCondition> Headers(const toml::table& t, const char* key) {
    std::vector<THeaderCondition> out;
    const toml::node* n = t.get(key);
    if (!n) return out;
    const toml::table* ht = n->as_table();
    if (!ht) {
      Fail(*n, std::string(key) + " must be a table of header names and patterns");
      return out;
    }
    for (auto&& [k, v] : *ht) {
      THeaderCondition c;
      c.name = std::string(k.str());
      for (char& ch : c.name)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
      c.patterns = PatternList(v, std::string(key) + "." + std::string(k.str()));
      out.push_back(std::move(c));
    }
    return out;
  }

  void Field(TRule& rule, const std::string& name, const toml::node& v) {
    const TFieldInfo* info = FindField(name);
    if (!info) {
      Fail(v, "no record field is called \"" + name + "\"");
      return;
    }
    TFieldSpec fieldSpec;
    fieldSpec.name = name;
    fieldSpec.kind = info->kind;
    fieldSpec.line = LineOf(v);
    auto entry = [&](const toml::node& e, const std::string& label) {
      TFieldEntry fe;
      fe.line = LineOf(e);
      if (auto s = e.value<std::string>()) {
        fe.pattern = Compile(e, label, *s);
        if (fe.pattern) fieldSpec.entries.push_back(std::move(fe));
        return;
      }
      const toml::table* et = e.as_table();
      if (!et) {
        Fail(e, label + ": an entry is a pattern or a table with in, pattern or value");
        return;
      }
      for (auto&& [k, x] : *et)
        if (k.str() != "in" && k.str() != "pattern" && k.str() != "value")
          Fail(x, label + ": unknown key \"" + std::string(k.str()) + "\"");
      if (const toml::node* in = et->get("in")) {
        std::string where = in->value<std::string>().value_or("");
        if (where == "body") fe.source = TSource::Body;
        else if (where == "text") fe.source = TSource::Text;
        else if (where == "html") fe.source = TSource::Html;
        else if (where == "subject") fe.source = TSource::Subject;
        else if (where == "from") {
          fe.source = TSource::Header;
          fe.header = "From";
        } else if (where.rfind("header:", 0) == 0 && where.size() > 7) {
          fe.source = TSource::Header;
          fe.header = where.substr(7);
        } else {
          Fail(*in, label + ": in must be body, text, html, subject, from or header:NAME");
          return;
        }
      }
      const toml::node* pat = et->get("pattern");
      const toml::node* val = et->get("value");
      if ((pat != nullptr) == (val != nullptr)) {
        Fail(e, label + ": give either pattern or value");
        return;
      }
      if (pat) {
        auto s = pat->value<std::string>();
        if (!s) {
          Fail(*pat, label + ": pattern must be a string");
          return;
        }
        fe.pattern = Compile(*pat, label, *s);
        if (!fe.pattern) return;
      } else {
        auto s = val->value<std::string>();
        if (!s || s->empty()) {
          Fail(*val, label + ": value must be a non-empty string");
          return;
        }
        fe.value = *s;
      }
      fieldSpec.entries.push_back(std::move(fe));
    };
    if (const toml::array* a = v.as_array()) {
      int i = 0;
      for (const toml::node& e : *a) entry(e, "field " + name + ", pattern " + std::to_string(++i));
      if (a->empty()) Fail(v, "field " + name + " has no pattern");
    } else {
      entry(v, "field " + name);
    }
    rule.fields.push_back(std::move(fieldSpec));
  }

  const std::string& file_;
  std::vector<TRuleError>& errors_;
  bool bad_ = false;
};

}  // namespace

TRuleFileResult ParseRuleText(std::string_view text, const std::string& fileName, bool user) {
  TRuleFileResult res;
  toml::table root;
  try {
    root = toml::parse(text, fileName);
  } catch (const toml::parse_error& e) {
    int line = static_cast<int>(e.source().begin.line);
    res.errors.push_back({fileName, line > 0 ? line : 1, std::string(e.description())});
    return res;
  }
  TRuleReader reader(fileName, res.errors);
  for (auto&& [k, v] : root)
    if (k.str() != "rule") reader.Fail(v, "unknown key \"" + std::string(k.str()) + "\" (rules go in [[rule]] tables)");
  const toml::node* rules = root.get("rule");
  if (!rules) {
    res.errors.push_back({fileName, 1, "no [[rule]] table in the file"});
    return res;
  }
  const toml::array* arr = rules->as_array();
  if (!arr) {
    reader.Fail(*rules, "rule must be written [[rule]] (an array of tables)");
    return res;
  }
  std::set<std::string> ids;
  for (const toml::node& n : *arr) {
    const toml::table* t = n.as_table();
    if (!t) {
      reader.Fail(n, "rule must be written [[rule]] (an array of tables)");
      continue;
    }
    auto rule = reader.Read(*t, user);
    if (!rule) continue;
    if (!ids.insert(rule->id).second) {
      reader.Fail(n, "a rule with id \"" + rule->id + "\" comes earlier in the file");
      continue;
    }
    res.rules.push_back(std::move(rule));
  }
  return res;
}

TRuleFileResult LoadRuleFile(const std::string& path, bool user) {
  std::ifstream f(path, std::ios::binary);
  std::string text;
  if (f) text.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  if (!f && !f.eof()) {
    TRuleFileResult res;
    res.errors.push_back({path, 1, "cannot read the file"});
    return res;
  }
  return ParseRuleText(text, path, user);
}

}  // namespace qnb::rules
