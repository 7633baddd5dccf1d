// Plug-ins in the helper process: a plug-in that aborts, hangs, corrupts the
// heap or crashes costs only the call it was in; the helper is started again
// for the next one, and every plug-in result stays as in the process.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

#include "analysis/OMAnalyze.h"
#include "analysis/PluginHostClient.h"
#include "host/HostTestUtil.h"

namespace qnb::test {
namespace {

using ::testing::HasSubstr;

TStrings Header(const std::string& misbehave = {}) {
  TStrings h{"From: shop@example.com", "Subject: order", "X-Claim: mis"};
  if (!misbehave.empty()) h.push_back("X-Misbehave: " + misbehave);
  return h;
}

std::unique_ptr<TParseGear> Isolated(int timeoutMs = 1500) {
  auto gear = std::make_unique<TParseGear>(std::string{}, QUENBELL_ANALYZER_HOST, timeoutMs);
  gear->LoadParserFiles(TestPlugins({"tp_echo", "tp_misbehaving"}));
  return gear;
}

bool Parse(TParseGear& g, const std::string& bodyLine, TOrderData& o) {
  const TStrings header = Header();
  if (!g.IsOrderMail(header)) return false;
  return g.GetOrderData(TStrings{bodyLine}, header, header, &o);
}

TEST(PluginIsolation, ListAndResultsAsInTheProcess) {
  auto gear = Isolated();
  ASSERT_TRUE(gear->Isolated());
  ASSERT_EQ(gear->ParserList().size(), 2u);
  EXPECT_EQ(gear->ParserList()[0]->Reseller, "Echo");
  EXPECT_EQ(gear->ParserList()[1]->DLLFileName, "tp_misbehaving.so");
  TParseGear inProcess{std::string{}, std::string{}};
  inProcess.LoadParserFiles(TestPlugins({"tp_echo", "tp_misbehaving"}));
  for (TParseGear* g : {gear.get(), &inProcess}) {
    TOrderData o;
    ASSERT_TRUE(Parse(*g, "Order: 17", o));
    EXPECT_EQ(o.OrderID, "MIS-17");
    EXPECT_EQ(g->ParserID(), 2);
    EXPECT_FALSE(g->LastCallFailed());
    // The echo plug-in claims by its own tag, and the host's rules apply.
    TStrings echo{"X-Claim: echo"};
    ASSERT_TRUE(g->IsOrderMail(echo));
    ASSERT_TRUE(g->GetOrderData(TStrings{"OrderID: E-1", "FirstName: Ann", "LastName: Lee"}, echo, echo, &o));
    EXPECT_EQ(o.OrderID, "E-1");
    EXPECT_EQ(o.Name, "Ann Lee");
    EXPECT_FALSE(g->IsOrderMail(TStrings{"Subject: hello"}));
  }
}

TEST(PluginIsolation, MisbehavingCallFailsAloneAndTheHelperStartsAgain) {
  struct Case {
    const char* what;
    const char* failure;
    const char* orFailure;  // under the address sanitizer, which ends a double free itself
  };
  const Case cases[] = {{"abort", "signal 6", "signal 6"},
                        {"heap", "signal 6", "exited with status 1"},
                        {"hang", "did not answer within 1 s", "did not answer within 1 s"}};
  auto gear = Isolated(1000);
  for (const Case& c : cases) {
    for (bool inParse : {false, true}) {
      const std::string name = std::string(c.what) + (inParse ? " in ParseOrder" : " in IsOrder");
      const auto t0 = std::chrono::steady_clock::now();
      if (inParse) {
        ASSERT_TRUE(gear->IsOrderMail(Header())) << name;
        TOrderData o;
        o.OrderID = "stale";
        EXPECT_FALSE(gear->GetOrderData(TStrings{"Misbehave: " + std::string(c.what)}, Header(), Header(), &o))
            << name;
        EXPECT_TRUE(o.OrderID.empty()) << name;
      } else {
        EXPECT_FALSE(gear->IsOrderMail(Header(c.what))) << name;
        EXPECT_EQ(gear->ParserID(), -1) << name;
      }
      EXPECT_TRUE(gear->LastCallFailed()) << name;
      EXPECT_THAT(gear->LastFailureText(), testing::AnyOf(HasSubstr(c.failure), HasSubstr(c.orFailure))) << name;
      EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(4)) << name;
      // The next call runs in a fresh helper.
      TOrderData o;
      EXPECT_TRUE(Parse(*gear, "Order: 5", o)) << name;
      EXPECT_EQ(o.OrderID, "MIS-5") << name;
      EXPECT_FALSE(gear->LastCallFailed()) << name;
    }
  }
}

// One round trip for many claims; their answers serve each mail's own
// IsOrderMail. A batch that fails keeps nothing, and the mails are asked
// again one by one: only the broken one fails.
// A crash the guard catches is passed over as in the process: the plug-in
// refuses the mail (or fails to parse it), the next one is asked, and the
// helper goes on.
TEST(PluginIsolation, CaughtCrashIsARefusalAndTheHelperGoesOn) {
  auto gear = std::make_unique<TParseGear>(std::string{}, QUENBELL_ANALYZER_HOST);
  gear->LoadParserFiles(TestPlugins({"tp_misbehaving", "tp_fill"}));
  const pid_t helper = gear->Host()->Pid();
  TStrings header = Header("segv");
  header.push_back("X-Claim: fill");
  EXPECT_TRUE(gear->IsOrderMail(header));
  EXPECT_EQ(gear->ParserID(), 1);
  EXPECT_FALSE(gear->LastCallFailed());
  ASSERT_TRUE(gear->IsOrderMail(Header()));
  TOrderData o;
  EXPECT_TRUE(gear->GetOrderData(TStrings{"Misbehave: segv"}, Header(), Header(), &o));
  EXPECT_FALSE(gear->LastCallFailed());
  EXPECT_EQ(gear->Host()->Pid(), helper);
}

TEST(PluginIsolation, ClaimManyIsOneCallAndFailsWithoutBlame) {
  auto gear = Isolated();
  const TStrings echo{"X-Claim: echo"}, plain{"Subject: hi"}, mis = Header(), broken = Header("abort");
  EXPECT_EQ(gear->ClaimMany({&echo, &plain, &mis}), (std::vector<bool>{true, false, true}));
  const pid_t helper = gear->Host()->Pid();
  // Answered from the batch even with the helper gone.
  kill(helper, SIGKILL);
  EXPECT_TRUE(gear->IsOrderMail(echo));
  EXPECT_EQ(gear->ParserID(), 0);
  EXPECT_FALSE(gear->IsOrderMail(plain));
  EXPECT_TRUE(gear->IsOrderMail(mis));
  EXPECT_EQ(gear->ParserID(), 1);
  EXPECT_FALSE(gear->LastCallFailed());

  EXPECT_EQ(gear->ClaimMany({&echo, &broken}), (std::vector<bool>{false, false}));
  EXPECT_TRUE(gear->IsOrderMail(echo));
  EXPECT_FALSE(gear->LastCallFailed());
  EXPECT_FALSE(gear->IsOrderMail(broken));
  EXPECT_TRUE(gear->LastCallFailed());
}

// The claims handed back: the same plug-ins as one by one, taken as the
// mail's own claim for the parse; a failed call gives none and blames nobody.
TEST(PluginIsolation, ClaimParsersHandsBackTheClaimsForUseClaim) {
  auto gear = Isolated();
  TParseGear inProcess{std::string{}, std::string{}};
  inProcess.LoadParserFiles(TestPlugins({"tp_echo", "tp_misbehaving"}));
  const TStrings echo{"X-Claim: echo"}, plain{"Subject: hi"}, mis = Header(), broken = Header("abort");
  for (TParseGear* g : {gear.get(), &inProcess}) {
    EXPECT_EQ(g->ClaimParsers({&echo, &plain, &mis}), (std::vector<int32_t>{0, -1, 1}));
    EXPECT_TRUE(g->UseClaim(1));
    EXPECT_EQ(g->ParserID(), 1);
    TOrderData o;
    EXPECT_TRUE(g->GetOrderData(TStrings{"Order: 17"}, mis, mis, &o));
    EXPECT_EQ(o.OrderID, "MIS-17");
    EXPECT_FALSE(g->UseClaim(-1));
    EXPECT_FALSE(g->UseClaim(2));  // no such plug-in
    EXPECT_EQ(g->ParserID(), -1);
    EXPECT_FALSE(g->GetOrderData(TStrings{"Order: 17"}, mis, mis, &o));
  }

  EXPECT_TRUE(gear->ClaimParsers({&echo, &broken}).empty());
  EXPECT_FALSE(gear->LastCallFailed());
  EXPECT_TRUE(gear->ClaimParsers({}).empty());
}

// A body that is the tail of the source (a mail without parts) goes as a
// place in the source, sent and held once; any other body as its own text.
TEST(PluginIsolation, ParseRequestFromLinesIsTheEncodedMessage) {
  const TStrings header{"Subject: a"}, source{"Subject: a", "", "Order: 1", "", "x"};
  const struct {
    const char* what;
    TStrings body;
    bool inSource;
  } cases[] = {
      {"tail of the source", {"Order: 1", "", "x"}, true},
      {"the whole source", source, true},
      {"decoded text", {"Order: 1", "", "y"}, false},
      {"longer than the source", {"a", "b", "c", "d", "e", "f"}, false},
      {"empty", {}, false},
  };
  for (const auto& c : cases) {
    hostproto::TParse request;
    request.From = 3;
    request.Header = JoinCRLF(header);
    request.Source = JoinCRLF(source);
    const std::string body = JoinCRLF(c.body);
    if (c.inSource) request.BodyAt = static_cast<uint32_t>(request.Source.size() - body.size());
    else request.Body = body;
    const std::string frame = hostproto::EncodeParse(3, c.body, header, source);
    EXPECT_EQ(frame, hostproto::Encode(request)) << c.what;
    hostproto::TParse back;
    hostproto::Decode(std::string_view(frame).substr(hostproto::kHeaderSize), back);
    EXPECT_EQ(back.BodyText(), body) << c.what;
    EXPECT_EQ(back.BodyAt == hostproto::TParse::kOwnBody, !c.inSource) << c.what;
  }
  EXPECT_EQ(hostproto::EncodeParse(0, {}, {}, {}), hostproto::Encode(hostproto::TParse{}));
  // A place past the source's end is refused.
  hostproto::TParse outside;
  outside.Source = "ab";
  outside.BodyAt = 3;
  const std::string frame = hostproto::Encode(outside);
  hostproto::TParse back;
  EXPECT_THROW(hostproto::Decode(std::string_view(frame).substr(hostproto::kHeaderSize), back), hostproto::EProtocol);
}

// The load is sent at once and its answer read only when the plug-ins are
// first needed, so that a check connects while the helper loads. A helper
// that dies before it answers is reported by that first call and leaves no
// plug-ins, as a load that fails at once does.
TEST(PluginIsolation, LoadIsAnsweredWhenFirstNeeded) {
  for (bool killFirst : {false, true}) {
    SCOPED_TRACE(killFirst ? "helper killed while loading" : "helper loading");
    auto gear = Isolated();
    ASSERT_TRUE(gear->Host()->LoadPending());
    if (killFirst) ASSERT_EQ(kill(gear->Host()->Pid(), SIGKILL), 0);
    TOrderData o;
    const bool parsed = Parse(*gear, "Order: 21", o);
    EXPECT_FALSE(gear->Host()->LoadPending());
    if (!killFirst) {
      ASSERT_TRUE(parsed);
      EXPECT_EQ(o.OrderID, "MIS-21");
      EXPECT_EQ(gear->ParserList().size(), 2u);
    }
    if (killFirst) {
      EXPECT_FALSE(parsed);
      EXPECT_TRUE(gear->ParserList().empty());
    }
    TStrings echo{"X-Claim: echo"};
    EXPECT_EQ(gear->IsOrderMail(echo), !killFirst);
  }
}

TEST(PluginIsolation, HelperThatCannotStartLeavesNoPlugins) {
  TParseGear gear(std::string{}, "/nonexistent/quenbell-analyzer-host");
  gear.LoadParserFiles(TestPlugins({"tp_echo"}));
  EXPECT_TRUE(gear.ParserList().empty());
  EXPECT_TRUE(gear.LastCallFailed());
  EXPECT_THAT(gear.LastFailureText(), HasSubstr("cannot start the analyzer helper"));
  EXPECT_FALSE(gear.IsOrderMail(TStrings{"X-Claim: echo"}));
}

}  // namespace
}  // namespace qnb::test
