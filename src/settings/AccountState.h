#pragma once
// What each account's last check came to: when it ended and whether it found
// new payments or failed (with the failure's caption and text). Kept in a small
// file beside the settings, so that a failure shown before a restart is still
// shown after it.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qnb {

struct TAccountState {
  int64_t Time = 0;  // seconds since the epoch, when the check ended
  bool Failed = false;
  int32_t NewPayments = 0;
  std::string Caption;  // of the failure
  std::string Text;
};

class TAccountStateBook {
 public:
  // Account names are kept as the status records carry them (cut to
  // kNameLength bytes); lookups cut the same way.
  static constexpr size_t kNameLength = 30;
  static std::string Key(const std::string& account) { return account.substr(0, kNameLength); }

  // The file beside the settings file.
  static std::string DefaultPath();

  void Set(const std::string& account, const TAccountState& state);
  // nullptr while the account has not been checked.
  const TAccountState* Find(const std::string& account) const;
  // Names (as kept) of the accounts whose last check failed, in name order.
  std::vector<std::string> FailedAccounts() const;
  // Forgets the accounts not among names.
  void Retain(const std::vector<std::string>& names);
  bool Empty() const { return states_.empty(); }

  // A missing file is an empty book; a damaged one, too (the states are only
  // a reminder), and false tells it apart.
  bool Load(const std::string& path = DefaultPath());
  // Replaces the file in one step, readable by its owner only.
  bool Save(const std::string& path = DefaultPath()) const;
  // The file's text, read and written.
  bool LoadText(const std::string& text);
  std::string SaveText() const;

 private:
  std::map<std::string, TAccountState> states_;
};

// "Not checked yet", "Checked 2026-12-11 10:12: 2 new payment(s)" or
// "Failed 2026-12-11 10:12: Connect Error", local time.
std::string StateSummary(const TAccountState* state);
// The summary, and for a failure its text on the lines after it.
std::string StateDetails(const TAccountState* state);

}  // namespace qnb
