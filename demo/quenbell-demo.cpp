// Demo mailbox server: a private Dovecot on 127.0.0.1 holding a few ordinary
// mails and a few PayNimbus payment mails, plus a settings folder whose one
// account points at it. Runs until its standard input closes or it is
// interrupted; then the server stops and nothing of it is left.
//
//   quenbell-demo [--min-to-tray] [--no-check-when-opening] [--mail-program CMD] CONFIG_DIR
//                                prints "port N" and "ready" when serving
//
// The options change the stored settings for start-up measurements: start
// hidden in the tray, no check at start-up (an idle program), and a stored
// mail program (without one the program asks the desktop for its default).

#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "settings/QnbBase.h"
#include "support/DovecotServer.h"
#include "support/PayNimbusMail.h"

namespace {

volatile std::sig_atomic_t gStop = 0;
extern "C" void OnSignal(int) { gStop = 1; }

const char* const kOrdinary[] = {
    "From: Marketplace Newsletter <news@market.example>\r\nTo: shop@example.com\r\n"
    "Subject: Your weekly seller tips\r\nDate: Mon, 07 Dec 2026 08:00:00 +0000\r\n\r\n"
    "Five ways to make your listings shine.\r\n",
    "From: Ann Lee <ann.lee@example.com>\r\nTo: shop@example.com\r\n"
    "Subject: Question about the Pro licence\r\nDate: Mon, 07 Dec 2026 10:12:00 +0000\r\n\r\n"
    "Hello, does the licence cover two computers?\r\n",
    "From: PayNimbus <support@paynimbus.example>\r\nTo: shop@example.com\r\n"
    "Subject: PayNimbus fee schedule changes\r\nDate: Tue, 08 Dec 2026 09:30:00 +0000\r\n\r\n"
    "From January the fee for card payments changes.\r\n",
    "From: Parcel Service <noreply@parcels.example>\r\nTo: shop@example.com\r\n"
    "Subject: Your parcel is on its way\r\nDate: Tue, 08 Dec 2026 15:45:00 +0000\r\n\r\n"
    "Tracking number 00340434161094042557.\r\n",
};

}  // namespace

int main(int argc, char** argv) {
  bool minToTray = false, checkWhenOpening = true;
  std::string mailProgram;
  int arg = 1;
  for (; arg < argc - 1; ++arg) {
    if (std::strcmp(argv[arg], "--min-to-tray") == 0) minToTray = true;
    else if (std::strcmp(argv[arg], "--no-check-when-opening") == 0) checkWhenOpening = false;
    else if (std::strcmp(argv[arg], "--mail-program") == 0 && arg + 2 < argc) mailProgram = argv[++arg];
    else break;
  }
  if (arg != argc - 1 || argv[arg][0] == '-') {
    std::fprintf(stderr,
                 "usage: quenbell-demo [--min-to-tray] [--no-check-when-opening] [--mail-program CMD] CONFIG_DIR\n");
    return 2;
  }
  const char* configDir = argv[arg];
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGHUP, OnSignal);
  try {
    qnb::test::TDovecotServer dove(std::vector<qnb::test::TDovecotUser>{{"demo", "demo"}});
    int seq = 0;
    for (const char* mail : kOrdinary) {
      dove.AddMessage("demo", mail);
      dove.AddMessage("demo", qnb::test::MakePayNimbusMail(234 + seq++));
    }
    dove.AddMessage("demo", qnb::test::MakePayNimbusMail(234 + seq++));
    dove.Start();

    setenv("XDG_CONFIG_HOME", configDir, 1);
    qnb::TOptions o;
    o.bAutoRun = false;
    o.bMinToTray = minToTray;
    o.bCheckPaymentWhenOpening = checkWhenOpening;
    o.bCheckPaymentOnSchedule = true;
    o.iCheckPaymentTime = 10;
    o.sMailProgram = mailProgram;
    o.AccountList.push_back(std::make_unique<qnb::TMailAccount>(
        qnb::TMailAccount{"Demo shop", dove.Host(), std::to_string(dove.Port()), "demo", "demo", true}));
    o.StoreOptions();

    std::printf("port %d\nready\n", dove.Port());
    std::fflush(stdout);
    char buf[256];
    while (!gStop) {
      pollfd p{0, POLLIN, 0};
      int r = poll(&p, 1, 200);
      if (r > 0 && read(0, buf, sizeof buf) <= 0) break;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quenbell-demo: %s\n", e.what());
    return 1;
  }
  return 0;
}
