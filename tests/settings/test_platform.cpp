#include <gtest/gtest.h>

#include <filesystem>

#include "settings/Platform.h"
#include "settings/QnbBase.h"
#include "support/TempDir.h"

namespace qnb {
namespace {

namespace fs = std::filesystem;

TEST(AutoRun, FollowsTheOptionAndQuotesThePath) {
  test::TTempConfigHome home;
  TOptions o;
  o.bAutoRun = false;
  o.SetAutoRunOption();  // nothing there: nothing changes
  EXPECT_FALSE(fs::exists(AutoStartFilePath()));
  EXPECT_FALSE(fs::exists(home.ConfigHome() / "autostart"));

  o.bAutoRun = true;
  o.SetAutoRunOption();
  ASSERT_TRUE(fs::exists(home.ConfigHome() / "autostart" / "quenbell.desktop"));
  EXPECT_EQ(AutoStartCommand(), "\"" + ExecutablePath() + "\"");
  const std::string text = test::ReadFile(AutoStartFilePath());
  EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(text.find("Type=Application\n"), std::string::npos);

  o.bAutoRun = false;
  o.SetAutoRunOption();
  EXPECT_FALSE(fs::exists(AutoStartFilePath()));
}

TEST(AutoRun, PathWithSpecialCharactersIsEscapedForTheDesktopEntry) {
  test::TTempConfigHome home;
  SetAutoStart(true, "/opt/my \"apps\"/$HOME/q\\bell");
  // Desktop-file escaping doubles the backslashes the Exec quoting adds.
  EXPECT_EQ(AutoStartCommand(), R"("/opt/my \\"apps\\"/\\$HOME/q\\\\bell")");
}

// xdg-mime only answers with handlers whose program exists, hence "true".
TEST(DefaultMailClient, ExecOfTheMailtoHandlerWithoutFieldCodes) {
  struct Case { const char* exec; const char* expected; };
  const Case cases[] = {
      {"true %u", "true"},
      {"true -compose %U --x", "true -compose --x"},
      {"/usr/bin/true --subject=100%% %f", "/usr/bin/true --subject=100%"},
  };
  for (const Case& c : cases) {
    test::TTempConfigHome home;
    home.Dir().Write("config/mimeapps.list", "[Default Applications]\nx-scheme-handler/mailto=qnbmail.desktop\n");
    home.Dir().Write("data/applications/qnbmail.desktop",
                     std::string("[Desktop Entry]\nName=M\nExec=") + c.exec + "\n[Desktop Action x]\nExec=wrong\n");
    EXPECT_EQ(DefaultMailCommand(), c.expected) << c.exec;
  }
}

TEST(DefaultMailClient, MissingHandlerOrFileGivesEmpty) {
  test::TTempConfigHome home;
  setenv("XDG_DATA_DIRS", home.Dir().Str().c_str(), 1);  // hide the system's handlers
  EXPECT_EQ(DefaultMailCommand(), "");
  home.Dir().Write("config/mimeapps.list", "[Default Applications]\nx-scheme-handler/mailto=gone.desktop\n");
  EXPECT_EQ(DefaultMailCommand(), "");
  unsetenv("XDG_DATA_DIRS");
}

}  // namespace
}  // namespace qnb
