#include "mailcheck/QnbGlobals.h"

#include "analysis/CountryCode.h"
#include "analysis/NameParser.h"
#include "mailcheck/OldUIDs.h"
#include "mailcheck/OrderMailUtils.h"
#include "settings/QnbBase.h"

namespace qnb {

void QnbStartup(bool mailClient) {
  CountryCode = new TCountryCode();
  NameParser = new TNameParser();
  FLogs = new TLogList();
  AppOption = new TOptions();
  AppOption->LoadOptions(mailClient);
  OldUIDs = new TUidlList();
}

void QnbShutdown() {
  delete CountryCode;
  CountryCode = nullptr;
  delete OldUIDs;
  OldUIDs = nullptr;
  delete FLogs;
  FLogs = nullptr;
  delete NameParser;
  NameParser = nullptr;
  delete AppOption;
  AppOption = nullptr;
}

}  // namespace qnb
