#include "mailcheck/OldUIDs.h"

namespace qnb {

TUidlList* OldUIDs = nullptr;

namespace {
constexpr size_t kMaxUidLength = 100;
}

void TUidlRec::SetUids(const TStrings& uids) { SetUids(TStrings(uids)); }

void TUidlRec::SetUids(TStrings&& uids) {
  uids_ = std::move(uids);
  index_.clear();
  index_.reserve(uids_.size());
  for (const auto& u : uids_) index_.insert(UpperCase(u));
}

bool TUidlRec::Contains(std::string_view uid) const { return index_.count(UpperCase(uid)) != 0; }

PUidlRec TUidlList::Find(std::string_view account) const {
  auto it = byAccount_.find(std::string(account));
  return it == byAccount_.end() ? nullptr : it->second;
}

TUidlRec& TUidlList::Obtain(const std::string& account) {
  if (PUidlRec rec = Find(account)) return *rec;
  records_.push_back(std::make_unique<TUidlRec>(account));
  byAccount_.emplace(account, records_.back().get());
  return *records_.back();
}

std::string getUid(std::string_view mUid) {
  size_t blank = mUid.find(' ');
  if (blank != std::string_view::npos) mUid.remove_prefix(blank + 1);
  return std::string(mUid.substr(0, kMaxUidLength));
}

bool IsMailRetrieved(const TUidlList& UIDL, std::string_view account, std::string_view mUid) {
  PUidlRec rec = UIDL.Find(account);
  return rec && rec->Contains(getUid(mUid));
}

void UpdateRetrievedUIDs(TUidlList& UIDL, const std::string& account, const TStrings& UID4Saving,
                         bool bNeedUpdateUID) {
  TUidlRec& rec = UIDL.Obtain(account);
  if (bNeedUpdateUID) rec.SetUids(UID4Saving);
}

}  // namespace qnb
