#include <gtest/gtest.h>

#include <sstream>

#include "TestConfig.h"
#include "cli/Cli.h"
#include "support/RunProcess.h"

namespace qnb::test {
namespace {

TProcessResult Cli(const std::vector<std::string>& args, const std::string& input = {}) {
  std::vector<std::string> argv{QUENBELL_CLI_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, input);
}

TEST(CliMessage, PrintsSubjectHeadersBodyAndParts) {
  const std::string mail =
      "Subject: =?utf-8?Q?caf=C3=A9?= order\r\n"
      "Content-Type: multipart/mixed; boundary=b\r\n"
      "\r\n"
      "--b\r\n"
      "Content-Type: text/plain\r\n"
      "\r\n"
      "hello\r\n"
      "--b\r\n"
      "Content-Type: application/octet-stream; name=\"k.bin\"\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "\r\n"
      "AAEC\r\n"
      "--b--\r\n";
  auto r = Cli({"message", "-"}, mail);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            R"({"subject":"café order",)"
            R"("headers":["Subject: =?utf-8?Q?caf=C3=A9?= order","Content-Type: multipart/mixed; boundary=b"],)"
            R"("body":["hello"],)"
            R"("parts":[{"type":"text","headers":["Content-Type=text/plain"],"body":["hello"]},)"
            R"({"type":"attachment","headers":["Content-Type=application/octet-stream; name=\"k.bin\"",)"
            R"("Content-Transfer-Encoding=base64"],"filename":"k.bin","size":3}]})"
            "\n");
}

TEST(CliMessage, ReadsAFixtureFile) {
  auto r = Cli({"message", QUENBELL_TEST_DATA_DIR "/mail/nested-mixed-alternative-attachment.eml"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Latin-1 E7 next to the UTF-8 bytes C3 A9 is no valid UTF-8, so every byte
  // comes out as the character of the same code.
  EXPECT_NE(r.out.find(R"("subject":"Reçu Ã©")"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(R"("filename":"reçu 7731.pdf","size":774})"), std::string::npos) << r.out;
}

TEST(CliMessage, FailuresExitOneWithTheMessage) {
  struct {
    std::string mail;
    std::string err;
  } cases[] = {
      {"Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n",
       "quenbell-cli: Unknown Message Part Type.\n"},
      {"Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Transfer-Encoding: base64\n\nQUJ\n--b--\n",
       "quenbell-cli: Uneven size in DecodeToStream.\n"},
      {"Subject: =?iso-8859-1?Q?=zz?=\n\nbody\n", "quenbell-cli: '=zz' is not a valid hexadecimal byte\n"},
      {"", "quenbell-cli: The retrieved mail has no lines.\n"},
  };
  for (const auto& c : cases) {
    auto r = Cli({"message", "-"}, c.mail);
    EXPECT_EQ(r.status, 1) << c.mail;
    EXPECT_EQ(r.err, c.err) << c.mail;
    EXPECT_EQ(r.out, "") << c.mail;
  }
  auto r = Cli({"message", "/nonexistent/mail.eml"});
  EXPECT_EQ(r.status, 1);
}

TEST(CliDecodeHeader, WritesRawBytes) {
  auto r = Cli({"decode-header", "Re: =?iso-8859-1?Q?caf=E9?= =?utf-8?B?w6k=?="});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Re: caf\xE9 \xC3\xA9\n");
  r = Cli({"decode-header", "=?x?Q?=1?="});
  EXPECT_EQ(r.out, "=?x?Q?=1?=\n");
  r = Cli({"decode-header", "=?utf-8?Q?bad=G1?="});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quenbell-cli: '=G1' is not a valid hexadecimal byte\n");
}

TEST(CliDecodeHeader, UsageErrors) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"decode-header"}, {"decode-header", "a", "b"}, {"message"}, {"message", "a", "b"}}) {
    std::istringstream in;
    std::ostringstream out, err;
    cli::TCliIo io{in, out, err};
    EXPECT_EQ(cli::RunCli(args, io), cli::EXIT_USAGE) << args.size();
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str().find("usage: quenbell-cli " + args[0]), std::string::npos) << err.str();
  }
}

}  // namespace
}  // namespace qnb::test
