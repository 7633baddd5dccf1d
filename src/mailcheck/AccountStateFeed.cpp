#include "mailcheck/AccountStateFeed.h"

#include <charconv>

namespace qnb {

namespace {

// "3 new payments received on ..." counts 3; any other text 0.
int32_t LeadingCount(const std::string& text) {
  int32_t n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  return ec == std::errc() && end != text.data() && n > 0 ? n : 0;
}

}  // namespace

bool TAccountStateFeed::Feed(const TLogRec& rec, int64_t now) {
  switch (rec.LogCode) {
    case ltSingleTaskBegin:
      running_[rec.TaskID] = {};
      return false;
    case ltStopManually:
      // The record carries the task that was being checked when the stop came.
      running_[rec.TaskID].Stopped = true;
      return false;
    case ltAllTaskFinished:
      running_.clear();
      return false;
    case ltSingleTaskFailed:
    case ltSingleTaskFinished: {
      auto it = running_.find(rec.TaskID);
      const bool stopped = it != running_.end() && it->second.Stopped;
      if (it != running_.end()) running_.erase(it);
      if (stopped || rec.Account.str().empty()) return false;
      TAccountState s;
      s.Time = now;
      s.Failed = rec.LogCode == ltSingleTaskFailed || !rec.Trouble.empty();
      if (rec.LogCode == ltSingleTaskFailed) {
        s.Caption = rec.Reserved.str();
        s.Text = rec.LogMessage.str();
      } else if (s.Failed) {
        // The check ended early: what it found so far counts, the account failed.
        s.NewPayments = LeadingCount(rec.LogMessage.str());
        s.Caption = "Connection Lost";
        s.Text = rec.Trouble;
      } else {
        s.NewPayments = LeadingCount(rec.LogMessage.str());
      }
      book_.Set(rec.Account.str(), s);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace qnb
