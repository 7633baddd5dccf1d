#pragma once
// The loaded rules: claims mails by their header and fills order records from
// decoded mails. One thread at a time per object.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "quenbell/analyzer.h"
#include "rules/MailText.h"
#include "rules/Rule.h"

namespace qnb::rules {

// Where a field was found: which text, which bytes of it.
struct TFieldHit {
  std::string field;
  TSource source = TSource::Body;
  bool inHtml = false;  // Body entries: found in the HTML text rather than the plain text
  std::string header;
  size_t start = 0, end = 0;  // of the capture in that text; equal for a fixed value
  std::string value;          // as written into the record
  int entry = 0;              // 1-based entry of the field
};

struct TParseReport {
  std::vector<TFieldHit> hits;
  std::string reason;  // why the mail was not parsed; empty on success
};

class TRuleSet {
 public:
  // Reads every "*.toml" file of the shipped folder, then of the user's folder
  // (each in name order; a missing folder has no rules). A user rule replaces
  // the shipped rule of the same id. Own rules are tried first.
  void Load(const std::string& shippedDir, const std::string& userDir);
  // The same over rules already read (for the editor's "what if").
  void Assign(std::vector<std::shared_ptr<TRule>> shipped, std::vector<std::shared_ptr<TRule>> user);

  // Every rule in claim order, disabled ones included.
  const std::vector<std::shared_ptr<TRule>>& Rules() const { return rules_; }
  const std::vector<TRuleError>& Errors() const { return errors_; }

  // The first enabled rule whose claim conditions hold for a raw header
  // (lines ending in LF or CR LF, up to the first empty line); null for none.
  const TRule* Claim(std::string_view rawHeader) const;

  // Fills od from the mail by the rule: only the fields found are written,
  // and nothing when the mail fails the rule (report->reason says why).
  static bool Parse(const TRule& rule, const TMailText& mail, TOriginData& od, TParseReport* report = nullptr);

  // Claims by the header of source, decodes and parses; the claiming rule in
  // *claimed. Any exception of the libraries is turned into a failure.
  bool Analyze(std::string_view source, TOriginData& od, const TRule** claimed = nullptr,
               TParseReport* report = nullptr) const;

 private:
  void Index();

  std::vector<std::shared_ptr<TRule>> rules_;
  std::vector<TRuleError> errors_;
  // Rules by the addresses and domains of their from condition; rules
  // without one are tried for every mail.
  std::unordered_map<std::string, std::vector<size_t>> byFrom_;
  std::vector<size_t> anySender_;
  std::vector<std::string> neededHeaders_;  // lower case, beyond From and Subject
};

// Rules that follow their folders: Refresh() reloads when a file was added,
// removed or changed since the last load.
class TRuleStore {
 public:
  TRuleStore(std::string shippedDir, std::string userDir);
  // True when the rules were read again.
  bool Refresh();
  const TRuleSet& Set() const { return set_; }
  const std::string& ShippedDir() const { return shipped_; }
  const std::string& UserDir() const { return user_; }

 private:
  std::string Fingerprint() const;
  std::string shipped_, user_;
  std::string fingerprint_;
  bool loaded_ = false;
  TRuleSet set_;
};

// The "*.toml" files of a folder, full paths in name order.
std::vector<std::string> RuleFilesIn(const std::string& dir);

}  // namespace qnb::rules
