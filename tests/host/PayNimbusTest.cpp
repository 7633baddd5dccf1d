// The example plug-in in OMAnalyze of the build tree, on mails from the
// PayNimbus generator, through the real mail reader and host.
#include <gtest/gtest.h>

#include "TestConfig.h"
#include "analysis/MsgType.h"
#include "analysis/OMAnalyze.h"
#include "support/PayNimbusMail.h"

namespace qnb::test {
namespace {

TStrings HeaderBlock(const TStrings& lines) {
  TStrings h;
  for (const auto& l : lines) {
    if (l.empty()) break;
    h.push_back(l);
  }
  return h;
}

// The mail as the worker handles it: header offered, whole mail parsed.
bool Analyze(TParseGear& gear, const std::string& mail, TOrderData& order) {
  TStrings lines = SplitLines(mail);
  if (!gear.IsOrderMail(HeaderBlock(lines))) return false;
  TMsgType msg;
  msg.Assign(lines);
  return gear.GetOrderData(msg, &order);
}

class PayNimbusTest : public ::testing::Test {
 protected:
  TParseGear gear_{QUENBELL_PLUGIN_DIR};
};

TEST_F(PayNimbusTest, ThePluginIsLoadedFromTheBuildTree) {
  // Beside the rules analyzer, the other plug-in built into the tree.
  ASSERT_EQ(gear_.ParserList().size(), 2u);
  EXPECT_EQ(gear_.ParserList()[0]->DLLFileName, "paynimbus.so");
  EXPECT_EQ(gear_.ParserList()[0]->Reseller, "PayNimbus");
  EXPECT_EQ(gear_.ParserList()[1]->DLLFileName, "rules.so");
}

TEST_F(PayNimbusTest, EveryGeneratedNotificationBecomesItsOrder) {
  for (bool qp : {true, false}) {
    for (int seq = 0; seq < 24; ++seq) {
      SCOPED_TRACE("seq " + std::to_string(seq) + (qp ? " quoted-printable" : " 8bit"));
      TPayNimbusOrder given;
      given.quotedPrintable = qp;
      if (seq % 4 == 3) given.note = std::string(90 + seq, 'n') + " = end";  // soft line breaks
      const TPayNimbusOrder want = PayNimbusOrderFor(seq, given);
      TOrderData o;
      ASSERT_TRUE(Analyze(gear_, MakePayNimbusMail(seq, given), o));
      EXPECT_EQ(o.OrderID, want.orderID);
      EXPECT_EQ(o.OrderFrom, "PayNimbus");
      EXPECT_EQ(o.Name, want.buyerName);
      EXPECT_EQ(o.RegName, want.buyerName);
      EXPECT_EQ(o.FirstName + " " + o.LastName, want.buyerName);
      EXPECT_EQ(o.FirstName.find(' '), std::string::npos);
      EXPECT_EQ(o.Email, want.email);
      EXPECT_EQ(o.Country, want.country);
      EXPECT_EQ(o.Product_Name, want.product);
      EXPECT_EQ(o.Quantity, want.quantity);
      EXPECT_EQ(o.UnitPrice, want.unitPrice);
      EXPECT_EQ(o.Amount, want.amount);
      EXPECT_EQ(o.VAT, want.vat);
      EXPECT_EQ(o.Currency, want.currency);
      EXPECT_EQ(o.RegCode, want.regCode);
      EXPECT_EQ(o.IPAddress, want.ipAddress);
      EXPECT_EQ(o.URLforReceipt, want.receiptURL);
      EXPECT_EQ(o.Comments, want.note);
      EXPECT_DOUBLE_EQ(o.PurchaseDate, 46364 + (21 * 3600 + 5 * 60 + 9) / 86400.0);
    }
  }
}

TEST_F(PayNimbusTest, WithoutADateInTheBodyTheDateHeaderCounts) {
  TPayNimbusOrder given;
  given.bodyDate = "-";
  given.dateHeader = "Wed, 09 Dec 2026 08:30:00 +0100";
  TOrderData o;
  ASSERT_TRUE(Analyze(gear_, MakePayNimbusMail(5, given), o));
  EXPECT_DOUBLE_EQ(o.PurchaseDate, 46365 + 8.5 / 24);
}

TEST_F(PayNimbusTest, MailsThatOnlyLookLikeNotificationsAreNotClaimed) {
  const std::string mail = MakePayNimbusMail(1);
  struct Case {
    const char* from;
    const char* to;
  } cases[] = {
      {"From: PayNimbus <notify@paynimbus.example>", "From: PayNimbus <notify@paynimbus.example.evil.test>"},
      {"From: PayNimbus <notify@paynimbus.example>", "Reply-To: PayNimbus <notify@paynimbus.example>"},
      {"Subject: PayNimbus payment received", "Subject: PayNimbus newsletter"},
  };
  for (const auto& c : cases) {
    std::string changed = mail;
    changed.replace(changed.find(c.from), std::string(c.from).size(), c.to);
    EXPECT_FALSE(gear_.IsOrderMail(HeaderBlock(SplitLines(changed)))) << c.to;
  }
  EXPECT_TRUE(gear_.IsOrderMail(HeaderBlock(SplitLines(mail))));
}

}  // namespace
}  // namespace qnb::test
