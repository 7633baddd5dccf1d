#include <gtest/gtest.h>

#include "support/RecordingPresenter.h"

namespace qnb {
namespace {

TEST(MessageBoxes, KindCaptionAndAnswer) {
  test::TRecordingPresenter rec;
  rec.answers = {true, false};
  EXPECT_TRUE(MBSure("Are you sure to exit?"));
  EXPECT_FALSE(MBSure("Are you sure to exit?"));
  MBError("Can not open registry!");
  MBInfo("Please add a mail account before checking payements.");
  ASSERT_EQ(rec.boxes.size(), 4u);
  EXPECT_EQ(rec.boxes[0].kind, TBoxKind::Sure);
  EXPECT_EQ(rec.boxes[2].kind, TBoxKind::Error);
  EXPECT_EQ(rec.boxes[3].kind, TBoxKind::Info);
  for (const auto& b : rec.boxes) EXPECT_EQ(b.caption, "Quenbell");
}

TEST(MessageBoxes, CaptionIsTheApplicationTitle) {
  test::TRecordingPresenter rec;
  SetApplicationTitle("Other");
  MBInfo("x");
  SetApplicationTitle("Quenbell");
  ASSERT_EQ(rec.boxes.size(), 1u);
  EXPECT_EQ(rec.boxes[0].caption, "Other");
}

}  // namespace
}  // namespace qnb
