#pragma once
// The retrieved-message memory: per account name, the UIDs of the messages
// handled in the account's last complete check. It lives in the process only
// and is used by the worker thread alone, so it has no lock.

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "analysis/TextUtil.h"

namespace qnb {

class TUidlRec {
 public:
  explicit TUidlRec(std::string account) : Account(std::move(account)) {}

  // The key, compared exactly (case-sensitive).
  const std::string Account;

  // In message-number order, as the check handled them.
  const TStrings& Uids() const { return uids_; }
  void SetUids(const TStrings& uids);
  void SetUids(TStrings&& uids);
  // Letter case does not count.
  bool Contains(std::string_view uid) const;

 private:
  TStrings uids_;
  // Upper-cased copies of uids_, so that a lookup does not scan the list.
  std::unordered_set<std::string> index_;
};
using PUidlRec = TUidlRec*;

// The list of records, in the order the accounts were first checked. Records
// are appended, never removed, and owned by the list.
class TUidlList {
 public:
  PUidlRec Find(std::string_view account) const;
  // The record of account, appended empty when there is none.
  TUidlRec& Obtain(const std::string& account);
  size_t Count() const { return records_.size(); }
  const TUidlRec& operator[](size_t i) const { return *records_[i]; }

 private:
  std::vector<std::unique_ptr<TUidlRec>> records_;
  std::unordered_map<std::string, PUidlRec> byAccount_;
};

// The process-wide memory: nullptr until the start-up creates it.
extern TUidlList* OldUIDs;

// The UID in a UIDL listing line ("number blank uid"): what follows the first
// blank, at most 100 characters; a line without a blank gives its first 100.
std::string getUid(std::string_view mUid);

// True when account has a record holding the UID of the listing line mUid.
bool IsMailRetrieved(const TUidlList& UIDL, std::string_view account, std::string_view mUid);

// The last step of an account check: the account gets a record in any case;
// its UIDs are replaced by UID4Saving only when the check ran through all its
// messages (bNeedUpdateUID).
void UpdateRetrievedUIDs(TUidlList& UIDL, const std::string& account, const TStrings& UID4Saving,
                         bool bNeedUpdateUID);

}  // namespace qnb
