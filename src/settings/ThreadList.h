#pragma once
// A list of owned records with its own lock. Every access goes through Lock(),
// which holds the lock for the life of the returned guard. The lock is
// recursive: the window's drain can re-enter while a modal box runs.

#include <memory>
#include <mutex>
#include <vector>

namespace qnb {

template <class T>
class TThreadList {
 public:
  using TItems = std::vector<std::unique_ptr<T>>;

  class TGuard {
   public:
    explicit TGuard(TThreadList& l) : lock_(l.mutex_), items_(l.items_) {}
    TItems& operator*() { return items_; }
    TItems* operator->() { return &items_; }

   private:
    std::unique_lock<std::recursive_mutex> lock_;
    TItems& items_;
  };

  TGuard Lock() { return TGuard(*this); }
  void Add(std::unique_ptr<T> item) { Lock()->push_back(std::move(item)); }
  // Removes and returns the first record, or nullptr when the list is empty.
  std::unique_ptr<T> TakeFirst() {
    auto g = Lock();
    if (g->empty()) return nullptr;
    auto item = std::move(g->front());
    g->erase(g->begin());
    return item;
  }
  size_t Count() { return Lock()->size(); }

 private:
  std::recursive_mutex mutex_;
  TItems items_;
};

}  // namespace qnb
