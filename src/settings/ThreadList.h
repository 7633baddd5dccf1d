#pragma once
// A list of owned records with its own lock. Every access goes through Lock(),
// which holds the lock for the life of the returned guard, or Read(), which
// does the same for reading only. The lock is recursive: the window's drain
// can re-enter while a modal box runs.

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace qnb {

template <class T>
class TThreadList {
 public:
  using TItems = std::vector<std::unique_ptr<T>>;

  // Access that may change the list: counted as a change when it is taken
  // and again when it ends, so that what a subclass derives from the items
  // (an index) is known to be out of date.
  class TGuard {
   public:
    explicit TGuard(TThreadList& l) : list_(l), lock_(l.mutex_) { ++list_.changes_; }
    ~TGuard() { ++list_.changes_; }
    TGuard(TGuard&&) = default;
    TItems& operator*() { return list_.items_; }
    TItems* operator->() { return &list_.items_; }

   private:
    TThreadList& list_;
    std::unique_lock<std::recursive_mutex> lock_;
  };

  // Access for reading only; the records themselves are still shared.
  class TReadGuard {
   public:
    explicit TReadGuard(TThreadList& l) : lock_(l.mutex_), items_(l.items_) {}
    const TItems& operator*() const { return items_; }
    const TItems* operator->() const { return &items_; }

   private:
    std::unique_lock<std::recursive_mutex> lock_;
    const TItems& items_;
  };

  TGuard Lock() { return TGuard(*this); }
  TReadGuard Read() { return TReadGuard(*this); }
  void Add(std::unique_ptr<T> item) { Lock()->push_back(std::move(item)); }
  // Removes and returns the first record, or nullptr when the list is empty.
  std::unique_ptr<T> TakeFirst() {
    auto g = Lock();
    if (g->empty()) return nullptr;
    auto item = std::move(g->front());
    g->erase(g->begin());
    return item;
  }
  size_t Count() { return Read()->size(); }

 protected:
  // For subclasses that keep more than the items: the lock, the items, and
  // how many times a Lock() guard was taken or ended.
  std::recursive_mutex& Mutex() { return mutex_; }
  TItems& Items() { return items_; }
  uint64_t Changes() const { return changes_; }

 private:
  std::recursive_mutex mutex_;
  TItems items_;
  uint64_t changes_ = 0;
};

}  // namespace qnb
