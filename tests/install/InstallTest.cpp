// The installed tree: cmake --install into a temporary DESTDIR, then the
// programs run from there, and the desktop files pass the freedesktop checks.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "TestConfig.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace qnb::test {
namespace {

namespace fs = std::filesystem;

const fs::path kSource = QUENBELL_SOURCE_DIR;
const std::string kDesktopId = "com.example.Quenbell";
const fs::path kDesktopFile = kSource / "share/linux" / (kDesktopId + ".desktop");
const fs::path kMetainfoFile = kSource / "share/linux" / (kDesktopId + ".metainfo.xml");
const char* const kIconSizes[] = {"16x16", "22x22", "24x24", "32x32", "48x48", "64x64", "128x128", "256x256"};

// Full path of a program on PATH (the process runner does not search PATH).
std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    fs::path p = fs::path(dir.empty() ? "." : dir) / name;
    if (access(p.c_str(), X_OK) == 0) return p.string();
  }
  return {};
}

// The value of KEY in the [Desktop Entry] group.
std::string DesktopValue(const std::string& text, const std::string& key) {
  std::istringstream in(text);
  bool inEntry = false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] == '[') inEntry = line == "[Desktop Entry]";
    else if (inEntry && line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return {};
}

std::string FirstMatch(const std::string& text, const std::string& pattern) {
  std::smatch m;
  return std::regex_search(text, m, std::regex(pattern)) ? m[1].str() : std::string();
}

// Sets a variable for the life of the object. The children inherit it; the
// process runner's extra variables are appended and so lose to one already set.
class TScopedEnv {
 public:
  TScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) had_ = true, old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~TScopedEnv() {
    if (had_) setenv(name_, old_.c_str(), 1);
    else unsetenv(name_);
  }
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

std::string Show(const TProcessResult& r) {
  return "status " + std::to_string(r.status) + "\nstdout: " + r.out + "\nstderr: " + r.err;
}

class InstallTest : public ::testing::Test {
 protected:
  // One install for the whole suite: it is what every test looks at.
  static void SetUpTestSuite() {
    root_ = new TTempDir;
    // Set in our own environment: an appended copy would lose to a DESTDIR already there.
    TScopedEnv destdir("DESTDIR", root_->Str());
    install_ = new TProcessResult(
        RunProcess({QUENBELL_CMAKE_COMMAND, "--install", QUENBELL_BUILD_DIR, "--prefix", "/usr"}));
  }
  static void TearDownTestSuite() {
    delete install_;
    delete root_;
  }
  void SetUp() override { ASSERT_EQ(install_->status, 0) << Show(*install_); }

  static fs::path Usr() { return root_->Path() / "usr"; }
  // The folder the command links point into, relative to the prefix.
  static fs::path AppDir() {
    std::error_code ec;
    fs::path target = fs::read_symlink(Usr() / QUENBELL_INSTALL_BINDIR / "quenbell-cli", ec);
    return (fs::path(QUENBELL_INSTALL_BINDIR) / target).lexically_normal().parent_path();
  }

  static TTempDir* root_;
  static TProcessResult* install_;
};

TTempDir* InstallTest::root_ = nullptr;
TProcessResult* InstallTest::install_ = nullptr;

TEST(DesktopFiles, PassTheFreedesktopValidators) {
  struct TCase {
    std::string tool;
    std::vector<std::string> args;
  } cases[] = {
      {"desktop-file-validate", {kDesktopFile.string()}},
      {"appstream-util", {"validate-relax", "--nonet", kMetainfoFile.string()}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tool);
    std::string tool = FindProgram(c.tool);
    ASSERT_FALSE(tool.empty()) << c.tool << " is not installed (scripts/setup.sh installs it)";
    std::vector<std::string> argv{tool};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    TProcessResult r = RunProcess(argv);
    EXPECT_EQ(r.status, 0) << Show(r);
    // Both tools report hints and warnings with a zero status; none are expected either.
    EXPECT_EQ(r.out.find("warning"), std::string::npos) << Show(r);
    EXPECT_EQ(r.out.find("hint"), std::string::npos) << Show(r);
  }
}

TEST(DesktopFiles, AgreeWithEachOtherAndTheProgram) {
  std::string desktop = ReadFile(kDesktopFile), meta = ReadFile(kMetainfoFile);
  EXPECT_EQ(DesktopValue(desktop, "Name"), "Quenbell");
  EXPECT_EQ(DesktopValue(desktop, "Exec"), "quenbell");
  EXPECT_EQ(DesktopValue(desktop, "Icon"), "quenbell");
  // The shell ties the running program (setDesktopFileName) to both files through this id.
  EXPECT_EQ(FirstMatch(meta, "<id>([^<]*)</id>"), kDesktopId);
  EXPECT_EQ(FirstMatch(meta, "<launchable type=\"desktop-id\">([^<]*)</launchable>"), kDesktopId + ".desktop");
  const std::string mainSource = ReadFile(kSource / "src/app/main.cpp");
  EXPECT_EQ(FirstMatch(mainSource, "setDesktopFileName\\(QStringLiteral\\(\"([^\"]*)\"\\)\\)"), kDesktopId);
  // The newest release listed first is the version being built.
  EXPECT_EQ(FirstMatch(meta, "<release version=\"([^\"]*)\""), QUENBELL_PROJECT_VERSION);
}

TEST_F(InstallTest, InstallsExactlyTheShippedFiles) {
  const fs::path bin = QUENBELL_INSTALL_BINDIR, data = QUENBELL_INSTALL_DATADIR;
  const fs::path app = AppDir();
  // Private to the program, under the library folder, and not bin/ itself.
  EXPECT_EQ(app.begin()->string(), "lib") << app;
  EXPECT_NE(app, bin);

  std::set<std::string> expected = {
      (bin / "quenbell-cli").string(),
      (app / "quenbell-cli").string(),
      (app / "quenbell-analyzer-host").string(),
      (app / "OMAnalyze/paynimbus.so").string(),
      (fs::path(QUENBELL_INSTALL_INCLUDEDIR) / "quenbell/analyzer.h").string(),
      (data / "doc/quenbell/plugins.md").string(),
      (app / "OMAnalyze/rules.so").string(),
      (data / "doc/quenbell/rules.md").string(),
  };
  for (const auto& e : fs::directory_iterator(kSource / "share/rules"))
    expected.insert((app / "OMAnalyze/rules" / e.path().filename()).string());
  if (QUENBELL_INSTALL_GUI) {
    for (const char* f : {"quenbell", "Help.htm", "mp10.sui", "Sound/ewpayment.wav"})
      expected.insert((app / f).string());
    expected.insert((bin / "quenbell").string());
    expected.insert((data / "applications" / (kDesktopId + ".desktop")).string());
    expected.insert((data / "metainfo" / (kDesktopId + ".metainfo.xml")).string());
    for (const char* size : kIconSizes) expected.insert((data / "icons/hicolor" / size / "apps/quenbell.png").string());
    expected.insert((data / "icons/hicolor/scalable/apps/quenbell.svg").string());
  }

  std::set<std::string> installed;
  for (auto it = fs::recursive_directory_iterator(Usr()); it != fs::recursive_directory_iterator(); ++it)
    if (!it->is_directory() || it->is_symlink()) installed.insert(it->path().lexically_relative(Usr()).string());
  // Also proves that no developer or test program (demo, gallery, test plug-ins) is shipped.
  EXPECT_EQ(installed, expected);
}

TEST_F(InstallTest, CommandsAreRelativeLinksToTheProgramFolder) {
  std::vector<std::string> commands{"quenbell-cli"};
  if (QUENBELL_INSTALL_GUI) commands.push_back("quenbell");
  for (const auto& name : commands) {
    SCOPED_TRACE(name);
    fs::path link = Usr() / QUENBELL_INSTALL_BINDIR / name;
    ASSERT_TRUE(fs::is_symlink(link));
    fs::path target = fs::read_symlink(link);
    // Relative, so the tree works under DESTDIR, a moved prefix and in the package.
    EXPECT_TRUE(target.is_relative()) << target;
    fs::path resolved = fs::weakly_canonical(link.parent_path() / target);
    EXPECT_EQ(resolved, fs::canonical(Usr() / AppDir() / name));
    EXPECT_TRUE(fs::is_regular_file(resolved));
    EXPECT_EQ(access(resolved.c_str(), X_OK), 0);
  }
}

TEST_F(InstallTest, InstalledFilesAreTheSourceFiles) {
  const fs::path data = Usr() / QUENBELL_INSTALL_DATADIR, app = Usr() / AppDir();
  std::vector<std::pair<fs::path, fs::path>> pairs = {
      {kSource / "include/quenbell/analyzer.h", Usr() / QUENBELL_INSTALL_INCLUDEDIR / "quenbell/analyzer.h"},
  };
  if (QUENBELL_INSTALL_GUI) {
    pairs.insert(pairs.end(), {
        {kSource / "share/help/Help.htm", app / "Help.htm"},
        {kSource / "src/app/resources/mp10.sui", app / "mp10.sui"},
        {kSource / "share/sound/ewpayment.wav", app / "Sound/ewpayment.wav"},
        {kDesktopFile, data / "applications" / kDesktopFile.filename()},
        {kMetainfoFile, data / "metainfo" / kMetainfoFile.filename()},
        {kSource / "share/linux/icons/hicolor/48x48/apps/quenbell.png", data / "icons/hicolor/48x48/apps/quenbell.png"},
        {kSource / "share/linux/icons/hicolor/scalable/apps/quenbell.svg",
         data / "icons/hicolor/scalable/apps/quenbell.svg"},
    });
  }
  for (const auto& [src, dst] : pairs) {
    SCOPED_TRACE(dst.string());
    ASSERT_TRUE(fs::exists(dst));
    EXPECT_TRUE(ReadFile(src) == ReadFile(dst)) << "differs from " << src;
  }
}

TEST_F(InstallTest, InstalledCliFindsTheExamplePluginBesideItself) {
  const std::string cli = (Usr() / QUENBELL_INSTALL_BINDIR / "quenbell-cli").string();
  TTempConfigHome config;

  TProcessResult plugins = RunProcess({cli, "plugins"});
  ASSERT_EQ(plugins.status, 0) << Show(plugins);
  // No --plugins: the only folder it can have found is OMAnalyze beside the installed program.
  EXPECT_EQ(plugins.out,
            "{\"file\":\"paynimbus.so\",\"reseller\":\"PayNimbus\"}\n{\"file\":\"rules.so\",\"reseller\":\"Rules\"}\n")
      << Show(plugins);

  const std::string sample = std::string(QUENBELL_TEST_DATA_DIR) + "/host/paynimbus-PN-100234.eml";
  TProcessResult analyze = RunProcess({cli, "analyze", sample});
  ASSERT_EQ(analyze.status, 0) << Show(analyze);
  EXPECT_NE(analyze.out.find("\"OrderID\":\"PN-100234\""), std::string::npos) << Show(analyze);
  EXPECT_NE(analyze.out.find("\"Amount\":\"34.9000\""), std::string::npos) << Show(analyze);

  // The rules analyzer's shipped rules were installed beside it.
  analyze = RunProcess({cli, "analyze", std::string(QUENBELL_TEST_DATA_DIR) + "/rules/shopify-new-order.eml"});
  ASSERT_EQ(analyze.status, 0) << Show(analyze);
  EXPECT_NE(analyze.out.find("\"OrderFrom\":\"Shopify\""), std::string::npos) << Show(analyze);
}

TEST_F(InstallTest, InstalledGuiStartsAndKeepsRunning) {
  if (!QUENBELL_INSTALL_GUI) GTEST_SKIP() << "built without the desktop program";
  const std::string timeout = FindProgram("timeout");
  ASSERT_FALSE(timeout.empty());
  TTempConfigHome config;
  TScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
  TProcessResult r = RunProcess({timeout, "2", (Usr() / QUENBELL_INSTALL_BINDIR / "quenbell").string()});
  // 124: still running when the time was up, i.e. it started and did not fail or crash.
  EXPECT_EQ(r.status, 124) << Show(r);
}

}  // namespace
}  // namespace qnb::test
