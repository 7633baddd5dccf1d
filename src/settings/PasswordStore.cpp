#include "settings/PasswordStore.h"

namespace qnb {

namespace {
TPasswordStore* gStore = nullptr;
}

TPasswordStore* SetPasswordStore(TPasswordStore* store) {
  TPasswordStore* old = gStore;
  gStore = store;
  return old;
}

TPasswordStore* CurrentPasswordStore() { return gStore; }

}  // namespace qnb
