// Without a keyring: a session bus that is not there. A process of its own
// (its bus connection is chosen once per process).

#include <gtest/gtest.h>

#include <cstdlib>

#include "secrets/KeyringStore.h"
#include "settings/QnbBase.h"
#include "settings/Registry.h"
#include "support/RecordingPresenter.h"
#include "support/TempDir.h"

namespace qnb::test {
namespace {

// No keyring answers (no session bus at all): the coded value stays in the
// file as before, and the account says so.
TEST(NoKeyring, PasswordsStayCodedInTheFile) {
  TTempDir nowhere;
  const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::string saved = old ? old : "";
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + nowhere.Str() + "/no-bus").c_str(), 1);
  {
    TTempConfigHome home;
    TRecordingPresenter boxes;
    TKeyringStore store(2000);
    TPasswordStore* before = SetPasswordStore(&store);
    EXPECT_FALSE(store.Available());
    TOptions o;
    o.AccountList.push_back(std::make_unique<TMailAccount>(
        TMailAccount{"Shop", "pop.example.com", "110", "me", "file secret", true}));
    o.StoreOptions();
    EXPECT_EQ(o.AccountList[0]->PasswordStore, ppFile);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenRoot(false));
    std::string v;
    EXPECT_EQ(reg.ReadText("Account\\0", "Password", v), TReadResult::Ok);
    EXPECT_EQ(v, EncodePass("file secret"));
    EXPECT_EQ(reg.ReadText("Account\\0", "PasswordStore", v), TReadResult::Missing);
    TOptions back;
    back.LoadOptions();
    ASSERT_EQ(back.AccountList.size(), 1u);
    EXPECT_EQ(back.AccountList[0]->Password, "file secret");
    EXPECT_TRUE(boxes.boxes.empty());
    SetPasswordStore(before);
  }
  if (old) setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), 1);
  else unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}  // namespace
}  // namespace qnb::test
