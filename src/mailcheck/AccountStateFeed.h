#pragma once
// Turns the worker's status records into each account's last-check state: a
// task that ends with ltSingleTaskFailed failed with that record's caption and
// text, one that ends with ltSingleTaskFinished succeeded. A task the user
// stopped leaves the account's state as it was: a stop is no failure.

#include <cstdint>
#include <map>
#include <string>

#include "mailcheck/OrderMailUtils.h"
#include "settings/AccountState.h"

namespace qnb {

class TAccountStateFeed {
 public:
  explicit TAccountStateFeed(TAccountStateBook& book) : book_(book) {}

  // One record, in the order the worker queued them; now is the time of the
  // record (seconds since the epoch). True when an account's state changed.
  bool Feed(const TLogRec& rec, int64_t now);

 private:
  struct TRunning {
    bool Stopped = false;
    int32_t NewPayments = 0;
  };
  TAccountStateBook& book_;
  std::map<int32_t, TRunning> running_;  // by task ID
};

}  // namespace qnb
