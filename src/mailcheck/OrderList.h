#pragma once
// The shared list of orders found, with an index of their order IDs so that
// the check for a copy of an order costs the same however long the list is.

#include <string>
#include <unordered_map>

#include "analysis/OMAnalyze.h"
#include "settings/ThreadList.h"

namespace qnb {

class TOrderList : public TThreadList<TOrderData> {
 public:
  // Joins the order at the end; the index follows without a rebuild.
  void Add(std::unique_ptr<TOrderData> item) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    TOrderData* o = item.get();
    Items().push_back(std::move(item));
    if (Changes() == indexedAt_ && !o->OrderID.empty()) first_.try_emplace(o->OrderID.str(), o);
  }

  // Calls f with the first order in list order whose order ID is id, under
  // the list's lock, and returns true; false when there is none. An empty
  // ID matches nothing. Whatever f changes, the order ID must stay.
  template <class F>
  bool WithFirstOfId(const std::string& id, F&& f) {
    if (id.empty()) return false;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    // Any access through Lock() may have changed the list: the index is
    // built again from the items, once, on the next look-up.
    if (Changes() != indexedAt_) {
      first_.clear();
      for (const auto& o : Items())
        if (!o->OrderID.empty()) first_.try_emplace(o->OrderID.str(), o.get());
      indexedAt_ = Changes();
    }
    auto it = first_.find(id);
    if (it == first_.end()) return false;
    f(*it->second);
    return true;
  }

 private:
  std::unordered_map<std::string, TOrderData*> first_;
  // Changes() when first_ was built; never a count a fresh list has.
  uint64_t indexedAt_ = ~uint64_t(0);
};

}  // namespace qnb
