// The order list's index of order IDs: a look-up finds what a walk through
// the list in order would find, whatever was changed through Lock() between
// look-ups.
#include <gtest/gtest.h>

#include <string>

#include "mailcheck/OrderList.h"

namespace qnb {
namespace {

std::unique_ptr<TOrderData> Order(const std::string& id, const std::string& uid) {
  auto o = std::make_unique<TOrderData>();
  o->OrderID = id;
  o->UID = uid;
  return o;
}

// The UID of the first order with the ID, "" when there is none.
std::string FirstUid(TOrderList& list, const std::string& id) {
  std::string uid;
  if (!list.WithFirstOfId(id, [&](TOrderData& o) { uid = o.UID; })) return "";
  return uid;
}

TEST(OrderList, FindsTheFirstOrderOfAnIdInListOrder) {
  TOrderList list;
  EXPECT_EQ(FirstUid(list, "A-1"), "");
  list.Add(Order("A-1", "u1"));
  list.Add(Order("", "u2"));
  list.Add(Order("A-1", "u3"));
  list.Add(Order("B-2", "u4"));
  EXPECT_EQ(FirstUid(list, "A-1"), "u1");
  EXPECT_EQ(FirstUid(list, "B-2"), "u4");
  // An empty ID matches nothing, not even the order without one.
  EXPECT_FALSE(list.WithFirstOfId("", [](TOrderData&) {}));
  // Added after the index was built: found at once, and a later copy does
  // not take the place of the first.
  list.Add(Order("C-3", "u5"));
  list.Add(Order("B-2", "u6"));
  EXPECT_EQ(FirstUid(list, "C-3"), "u5");
  EXPECT_EQ(FirstUid(list, "B-2"), "u4");
  // What f changes stays in the list.
  list.WithFirstOfId("C-3", [](TOrderData& o) { o.UID = "relabelled"; });
  EXPECT_EQ(list.Read()->at(4)->UID, "relabelled");
}

TEST(OrderList, ChangesThroughLockAreSeenByTheNextLookUp) {
  struct TCase {
    const char* what;
    void (*change)(TOrderList::TItems&);
    const char* id;
    const char* uid;  // of the first order with id afterwards; "" for none
  };
  const TCase kCases[] = {
      {"the first copy pruned", [](TOrderList::TItems& v) { v.erase(v.begin()); }, "A-1", "u3"},
      {"every copy pruned", [](TOrderList::TItems& v) { v.erase(v.begin() + 2); v.erase(v.begin()); }, "A-1", ""},
      {"all cleared", [](TOrderList::TItems& v) { v.clear(); }, "B-2", ""},
      {"pushed past Add", [](TOrderList::TItems& v) { v.push_back(Order("D-4", "u9")); }, "D-4", "u9"},
      {"put in front", [](TOrderList::TItems& v) { v.insert(v.begin(), Order("B-2", "u0")); }, "B-2", "u0"},
      {"ID changed: new one", [](TOrderList::TItems& v) { v[0]->OrderID = "E-5"; }, "E-5", "u1"},
      {"ID changed: old one", [](TOrderList::TItems& v) { v[0]->OrderID = "E-5"; }, "A-1", "u3"},
  };
  for (const auto& c : kCases) {
    TOrderList list;
    list.Add(Order("A-1", "u1"));
    list.Add(Order("B-2", "u2"));
    list.Add(Order("A-1", "u3"));
    ASSERT_EQ(FirstUid(list, "A-1"), "u1");  // the index is built
    c.change(*list.Lock());
    EXPECT_EQ(FirstUid(list, c.id), c.uid) << c.what;
  }
}

TEST(OrderList, AChangeMadeWhileALookUpRanInsideTheSameGuardIsSeen) {
  // The lock is recursive: a look-up may run while the thread holds Lock().
  TOrderList list;
  list.Add(Order("A-1", "u1"));
  {
    auto g = list.Lock();
    EXPECT_EQ(FirstUid(list, "A-1"), "u1");
    g->clear();
  }
  EXPECT_EQ(FirstUid(list, "A-1"), "");
  // Reading leaves the index as it is, and finds the same.
  list.Add(Order("A-1", "u2"));
  EXPECT_EQ(list.Read()->size(), 1u);
  EXPECT_EQ(FirstUid(list, "A-1"), "u2");
}

}  // namespace
}  // namespace qnb
