#include <gtest/gtest.h>

#include "mailcheck/ConnectionTest.h"
#include "settings/ProviderPresets.h"

namespace qnb {
namespace {

TEST(ProviderPresets, DomainOfTheAddressPicksTheRowOfTheProtocol) {
  struct Case { const char* address; const char* protocol; const char* host; int port; };
  const Case cases[] = {
      {"shop@gmail.com", "POP3", "pop.gmail.com", 995},
      {"Shop@GoogleMail.COM", "POP3", "pop.gmail.com", 995},
      {"shop@gmail.com", "IMAP", "imap.gmail.com", 993},
      {"hotmail.com", "POP3", "outlook.office365.com", 995},
      {"a@b@yahoo.com", "POP3", "pop.mail.yahoo.com", 995},
      {"me@icloud.com", "POP3", nullptr, 0},  // no POP3 there
      {"me@icloud.com", "IMAP", "imap.mail.me.com", 993},
      {"me@example.com", "POP3", nullptr, 0},
      {"me@mail.gmail.com", "POP3", nullptr, 0},  // a subdomain is another domain
      {"", "POP3", nullptr, 0},
  };
  for (const Case& c : cases) {
    const TProviderPreset* p = FindPreset(c.address, c.protocol);
    if (!c.host) {
      EXPECT_EQ(p, nullptr) << c.address << " " << c.protocol;
      continue;
    }
    ASSERT_NE(p, nullptr) << c.address << " " << c.protocol;
    EXPECT_STREQ(p->Host, c.host);
    EXPECT_EQ(p->Port, c.port);
    EXPECT_EQ(p->Security, secTls);
  }
  ASSERT_NE(PresetOfHost("POP.GMAIL.COM"), nullptr);
  EXPECT_TRUE(PresetOfHost("pop.gmail.com")->NeedsAppPassword);
  EXPECT_EQ(PresetOfHost("pop.example.com"), nullptr);
}

TEST(ConnectionTestText, CountsAreGroupedAndTheProtocolNamed) {
  EXPECT_EQ(GroupedNumber(0), "0");
  EXPECT_EQ(GroupedNumber(999), "999");
  EXPECT_EQ(GroupedNumber(1234), "1,234");
  EXPECT_EQ(GroupedNumber(1234567), "1,234,567");
  EXPECT_EQ(GroupedNumber(-1000), "-1,000");
  TConnectionTestResult r;
  r.Ok = true;
  r.Messages = 1234;
  r.Tls = "TLSv1.3 TLS_AES_256_GCM_SHA384";
  EXPECT_EQ(ResultText(r), "Connected over TLS 1.3, 1,234 messages");
  r.Tls = "";
  r.Messages = 1;
  EXPECT_EQ(ResultText(r), "Connected without encryption, 1 message");
  r.Ok = false;
  r.Error = "No mail server is given.";
  EXPECT_EQ(ResultText(r), r.Error);
}

}  // namespace
}  // namespace qnb
