#pragma once
// One rule: which mails it claims and how it finds the order fields in them.

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "rules/Pattern.h"

namespace qnb::rules {

// Where a pattern looks.
enum class TSource {
  Body,     // the plain text, then the HTML made text
  Text,     // the plain text part
  Html,     // the HTML part made text
  Subject,
  Header,   // one header, named by the entry
};

const char* SourceName(TSource s);

enum class TFieldKind { Text, Amount, Currency, Date, Quantity, Email };

// One way to find a field: a pattern over a source, or a fixed value.
struct TFieldEntry {
  TSource source = TSource::Body;
  std::string header;                 // for TSource::Header
  std::shared_ptr<TPattern> pattern;  // null for a fixed value
  std::string value;
  int line = 0;
};

struct TFieldSpec {
  std::string name;  // as in the record: OrderID, Amount, ...
  TFieldKind kind = TFieldKind::Text;
  std::vector<TFieldEntry> entries;  // tried in order, the first that yields a value wins
  int line = 0;
};

using TPatternList = std::vector<std::shared_ptr<TPattern>>;

struct THeaderCondition {
  std::string name;  // lower case
  TPatternList patterns;  // any of them
};

struct TRule {
  std::string id;
  std::string service;  // OrderFrom
  std::string file;     // the rule file, as given to the loader
  int line = 0;
  bool user = false;  // from the user's folder
  bool enabled = true;
  std::string currency;                  // when the mail shows only an ambiguous sign, or none
  std::vector<std::string> dateFormats;  // for PurchaseDate

  // Claim: all given conditions hold, no exclusion does.
  std::vector<std::string> from;  // lower-case addresses ("a@b.c") or domains ("b.c", subdomains too); any
  TPatternList subject, notSubject;
  std::vector<THeaderCondition> headers, notHeaders;
  // Checked on the decoded mail before the fields are looked for.
  TPatternList text, notText;  // over the body: any must match / none may
  std::vector<std::string> required;  // fields without which the mail is not parsed
  std::vector<TFieldSpec> fields;
};

// "FILE:LINE: message"
struct TRuleError {
  std::string file;
  int line = 0;
  std::string message;
  std::string Text() const { return file + ":" + std::to_string(line) + ": " + message; }
};

}  // namespace qnb::rules
