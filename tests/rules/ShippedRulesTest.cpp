// The shipped rules over mails written after the services' published layouts:
// every sale claimed with its fields, every look-alike left alone.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "TestConfig.h"
#include "rules/RuleEngine.h"
#include "support/TempDir.h"

namespace qnb::rules {
namespace {

const std::string kMails = std::string(QUENBELL_TEST_DATA_DIR) + "/rules/";
const std::string kShipped = std::string(QUENBELL_SOURCE_DIR) + "/share/rules";

struct TSale {
  const char* file;
  const char* rule;
  const char* orderId;
  int64_t amount;  // x 10000
  const char* currency;
  const char* email;
  const char* name;
};

const TSale kSales[] = {
    {"paypal-payment-received-en.eml", "paypal-payment-received-en", "5TY05013RG002845M", 12345600, "USD",
     "jane.doe@example.com", "Jane Doe"},
    {"paypal-money-received-en.eml", "paypal-payment-received-en", "9XK45122AB345678C", 149500, "USD",
     "bob.smith@example.net", "Bob Smith"},
    {"paypal-zahlung-erhalten-de.eml", "paypal-payment-received-de", "7AB12345CD6789012", 12345600, "EUR",
     "max.mueller@example.de", "Max Müller"},
    {"paypal-paiement-recu-fr.eml", "paypal-payment-received-fr", "3CD98765EF4321098", 12345600, "EUR",
     "jean.dupont@example.fr", "Jean Dupont"},
    {"paypal-pago-recibido-es.eml", "paypal-payment-received-es", "8EF12345GH6789012", 499000, "EUR",
     "lucia.fernandez@example.es", "Lucía Fernández"},
    {"stripe-payment.eml", "stripe-payment", "pi_3QxYzAbCdEfGhIjK1a2b3c4d", 490000, "USD", "jane.roe@example.com", ""},
    {"shopify-new-order.eml", "shopify-new-order", "1001", 350000, "USD", "jane.doe@example.com", "Jane Doe"},
    {"shopify-new-order-no-customer-name.eml", "shopify-new-order", "1002", 200000, "EUR", "walkin@example.com", ""},
    {"woocommerce-new-order-classic.eml", "woocommerce-new-order", "1234", 400000, "EUR", "jane.doe@example.org",
     "Jane Doe"},
    {"woocommerce-new-order.eml", "woocommerce-new-order", "5678", 12345000, "USD", "john.smith@example.com",
     "John Smith"},
    {"woocommerce-new-order-block.eml", "woocommerce-new-order", "9012", 999000, "BRL", "ana.lima@example.com",
     "Ana Lima"},
    {"prestashop-new-order.eml", "prestashop-new-order", "XKBKNABJK", 599000, "EUR", "jane.doe@example.com",
     "Jane Doe"},
    {"prestashop-nouvelle-commande-fr.eml", "prestashop-new-order", "QWERTYUIO", 12345600, "EUR",
     "jean.dupont@example.fr", "Jean Dupont"},
    // No order number in the mail: the local part of its Message-ID stands in.
    {"gumroad-sale.eml", "gumroad-sale", "1022.gumroad-sale", 250000, "USD", "reader@example.com", "Jane Reader"},
    {"edd-sale-notification.eml", "edd-sale-notification", "321", 390000, "USD", "", "Jane Doe"},
    {"ebay-item-sold.eml", "ebay-item-sold", "12-34567-89012", 450000, "USD", "", "bellcollector_42"},
    {"ebay-artikel-verkauft-de.eml", "ebay-item-sold", "23-45678-90123", 450000, "EUR", "", "glockenfan_7"},
    {"etsy-sale.eml", "etsy-sale", "1234567890", 250000, "USD", "", "Jane Doe"},
    {"paddle-sale.eml", "paddle-sale", "12345678-987654", 590000, "USD", "buyer@example.org", ""},
    {"fastspring-order-notification.eml", "fastspring-order-notification", "EXS221208-1234-56789", 1199000, "USD",
     "jane.doe@example.com", "Jane Doe"},
    {"lemonsqueezy-sale.eml", "lemonsqueezy-sale", "1042", 190000, "USD", "jane.doe@example.com", "Jane Doe"},
    {"square-payment.eml", "square-payment", "rT4kXm9QzB2nL7pW1vY3", 800000, "USD", "jane.doe@example.com",
     "Jane Doe"},
    {"kofi-donation.eml", "kofi-support", "0d1e2f3a-4b5c-6d7e-8f90-a1b2c3d4e5f6", 90000, "GBP", "", "Jane Doe"},
};

// Buyer receipts, shipping and listing notices, newsletters and a forged sender;
// all but the ones marked "body" are refused on their header already.
const char* const kNotSales[] = {
    "paypal-receipt-buyer-not-claimed.eml",
    "paypal-zahlung-gesendet-de-not-claimed.eml",
    "paypal-newsletter-not-claimed.eml",
    "paypal-lookalike-sender-not-claimed.eml",
    "stripe-receipt-customer-not-claimed.eml",
    "stripe-payout-not-claimed.eml",
    "shopify-order-confirmed-customer-not-claimed.eml",
    "shopify-shipping-not-claimed.eml",
    "woocommerce-order-received-customer-not-claimed.eml",
    "prestashop-order-confirmation-customer-not-claimed.eml",
    "gumroad-receipt-buyer-not-claimed.eml",
    "gumroad-test-sale-not-claimed.eml body",
    "gumroad-free-download-not-claimed.eml",
    "edd-purchase-receipt-not-claimed.eml",
    "ebay-item-listed-not-claimed.eml",
    "ebay-order-confirmed-buyer-not-claimed.eml",
    "etsy-purchase-buyer-not-claimed.eml",
    "etsy-newsletter-not-claimed.eml",
    "paddle-receipt-buyer-not-claimed.eml",
    "fastspring-receipt-buyer-not-claimed.eml",
    "lemonsqueezy-receipt-customer-not-claimed.eml",
    "square-receipt-customer-not-claimed.eml",
    "kofi-receipt-supporter-not-claimed.eml",
};

class ShippedRulesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    set_ = new TRuleSet;
    set_->Load(kShipped, "");
  }
  static void TearDownTestSuite() { delete set_; }
  static TRuleSet* set_;
};
TRuleSet* ShippedRulesTest::set_ = nullptr;

TEST_F(ShippedRulesTest, AllShippedFilesAreValid) {
  for (const auto& e : set_->Errors()) ADD_FAILURE() << e.Text();
  std::set<std::string> services;
  for (const auto& r : set_->Rules()) services.insert(r->service);
  for (const char* s : {"PayPal", "Stripe", "Shopify", "WooCommerce", "PrestaShop", "Gumroad", "Easy Digital Downloads",
                        "eBay", "Etsy", "Paddle", "FastSpring", "Lemon Squeezy", "Square", "Ko-fi"})
    EXPECT_TRUE(services.count(s)) << s;
}

TEST_F(ShippedRulesTest, SalesAreClaimedWithTheirFields) {
  for (const TSale& s : kSales) {
    SCOPED_TRACE(s.file);
    std::string source = test::ReadFile(kMails + s.file);
    TOriginData od{};
    const TRule* rule = nullptr;
    TParseReport report;
    ASSERT_TRUE(set_->Analyze(source, od, &rule, &report)) << report.reason;
    EXPECT_EQ(rule->id, s.rule);
    EXPECT_STREQ(od.OrderID, s.orderId);
    EXPECT_EQ(od.Amount, s.amount);
    EXPECT_STREQ(od.Currency, s.currency);
    EXPECT_STREQ(od.Email, s.email);
    EXPECT_STREQ(od.Name, s.name);
    EXPECT_STREQ(od.OrderFrom, rule->service.c_str());
  }
}

TEST_F(ShippedRulesTest, LookAlikesAreNotClaimed) {
  for (std::string file : kNotSales) {
    bool byBody = file.size() > 5 && file.compare(file.size() - 5, 5, " body") == 0;
    if (byBody) file.resize(file.size() - 5);
    std::string source = test::ReadFile(kMails + file);
    const TRule* claimed = set_->Claim(source);
    if (!byBody) {
      EXPECT_EQ(claimed, nullptr) << file << " claimed by " << claimed->id;
    }
    TOriginData od{};
    TParseReport report;
    EXPECT_FALSE(set_->Analyze(source, od, nullptr, &report)) << file;
    if (byBody) {
      EXPECT_NE(report.reason.find("not_text"), std::string::npos) << file << ": " << report.reason;
    }
  }
}

}  // namespace
}  // namespace qnb::rules
