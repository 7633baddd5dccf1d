// The retrieved-message memory: UIDs out of UIDL lines, lookups per account,
// and the replacement rules at the end of a check.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "mailcheck/OldUIDs.h"

namespace qnb::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(OldUIDs, GetUidTakesWhatFollowsTheFirstBlank) {
  struct {
    std::string line, uid;
  } cases[] = {
      {"3 AbC", "AbC"},
      {"NoBlankAtAll", "NoBlankAtAll"},
      {"12 uid with blanks", "uid with blanks"},
      {"7 ", ""},
      {"", ""},
      {"1 " + std::string(120, 'u'), std::string(100, 'u')},
      {std::string(120, 'n'), std::string(100, 'n')},
  };
  for (const auto& c : cases) EXPECT_EQ(getUid(c.line), c.uid) << c.line;
}

TEST(OldUIDs, NothingIsRetrievedBeforeTheFirstCheck) {
  TUidlList mem;
  EXPECT_FALSE(IsMailRetrieved(mem, "Shop", "1 abc"));
  EXPECT_EQ(mem.Count(), 0u);
}

TEST(OldUIDs, CompleteCheckRemembersItsUidsAndIgnoresLetterCase) {
  TUidlList mem;
  UpdateRetrievedUIDs(mem, "Shop", {"AbC", "def"}, true);
  EXPECT_TRUE(IsMailRetrieved(mem, "Shop", "1 abc"));
  EXPECT_TRUE(IsMailRetrieved(mem, "Shop", "2 DEF"));
  EXPECT_FALSE(IsMailRetrieved(mem, "Shop", "3 ghi"));
  // The account name is compared exactly.
  EXPECT_FALSE(IsMailRetrieved(mem, "shop", "1 abc"));
  EXPECT_FALSE(IsMailRetrieved(mem, "Shop ", "1 abc"));
}

TEST(OldUIDs, LongUidIsComparedByItsFirstHundredCharacters) {
  TUidlList mem;
  std::string uid120 = std::string(100, 'x') + std::string(20, 'y');
  UpdateRetrievedUIDs(mem, "Shop", {getUid("1 " + uid120)}, true);
  EXPECT_TRUE(IsMailRetrieved(mem, "Shop", "5 " + uid120));
  EXPECT_TRUE(IsMailRetrieved(mem, "Shop", "5 " + std::string(100, 'x') + "zzz"));
  EXPECT_FALSE(IsMailRetrieved(mem, "Shop", "5 " + std::string(99, 'x')));
}

TEST(OldUIDs, IncompleteCheckCreatesTheRecordButKeepsTheOldUids) {
  TUidlList mem;
  // A first check that stopped early leaves an empty record.
  UpdateRetrievedUIDs(mem, "Shop", {"a", "b"}, false);
  ASSERT_NE(mem.Find("Shop"), nullptr);
  EXPECT_THAT(mem.Find("Shop")->Uids(), IsEmpty());

  UpdateRetrievedUIDs(mem, "Shop", {"a", "b"}, true);
  // Stopped again, or an empty mailbox: the memory stays as it was.
  UpdateRetrievedUIDs(mem, "Shop", {"c"}, false);
  UpdateRetrievedUIDs(mem, "Shop", {}, false);
  EXPECT_THAT(mem.Find("Shop")->Uids(), ElementsAre("a", "b"));
  EXPECT_TRUE(IsMailRetrieved(mem, "Shop", "1 b"));
  EXPECT_FALSE(IsMailRetrieved(mem, "Shop", "1 c"));
  EXPECT_EQ(mem.Count(), 1u);
}

TEST(OldUIDs, CompleteCheckReplacesTheWholeListInItsOrder) {
  TUidlList mem;
  UpdateRetrievedUIDs(mem, "Shop", {"gone", "kept"}, true);
  UpdateRetrievedUIDs(mem, "Shop", {"kept", "new2", "new1"}, true);
  EXPECT_THAT(mem.Find("Shop")->Uids(), ElementsAre("kept", "new2", "new1"));
  // A mail that left the server drops out of the memory and out of the index.
  EXPECT_FALSE(IsMailRetrieved(mem, "Shop", "1 gone"));
  EXPECT_TRUE(IsMailRetrieved(mem, "Shop", "1 NEW1"));
}

TEST(OldUIDs, AccountsKeepSeparateRecordsInTheOrderFirstChecked) {
  TUidlList mem;
  UpdateRetrievedUIDs(mem, "B shop", {"x"}, true);
  UpdateRetrievedUIDs(mem, "A shop", {"y"}, true);
  UpdateRetrievedUIDs(mem, "B shop", {"z"}, true);
  ASSERT_EQ(mem.Count(), 2u);
  EXPECT_EQ(mem[0].Account, "B shop");
  EXPECT_EQ(mem[1].Account, "A shop");
  EXPECT_TRUE(IsMailRetrieved(mem, "A shop", "1 y"));
  EXPECT_FALSE(IsMailRetrieved(mem, "A shop", "1 z"));
  EXPECT_TRUE(IsMailRetrieved(mem, "B shop", "1 z"));
}

}  // namespace
}  // namespace qnb::test
