#pragma once
// What the check worker tells a store that keeps orders and the message
// memory beyond the process. Every call comes on the worker thread; a call
// must not throw, and a store that cannot write simply keeps nothing more.

#include <string>
#include <vector>

#include "analysis/OMAnalyze.h"
#include "analysis/TextUtil.h"

namespace qnb {

class TOrderStoreHook {
 public:
  virtual ~TOrderStoreHook() = default;
  // An order is about to join the order list and be announced; mailSource is
  // the whole mail it came from. Returns once the order is kept (or cannot be).
  virtual void OrderFound(const TOrderData& order, TLineSpan mailSource) = 0;
  void OrderFound(const TOrderData& order, const TStrings& mailSource) { OrderFound(order, TLineSpan(mailSource)); }
  // These orders of the list left it because their mails left the server.
  virtual void OrdersLeftList(const std::vector<TOrderData>& orders) = 0;
  // The memory of account after a complete check: the UIDs of every message
  // handled, in message order.
  virtual void MemoryUpdated(const std::string& account, const TStrings& uids) = 0;
};

}  // namespace qnb
