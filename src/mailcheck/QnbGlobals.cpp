#include "mailcheck/QnbGlobals.h"

#include "settings/QnbBase.h"

namespace qnb {

void QnbStartup() {
  AppOption = new TOptions();
  AppOption->LoadOptions();
}

void QnbShutdown() {
  delete AppOption;
  AppOption = nullptr;
}

}  // namespace qnb
