#include <iostream>

#include "cli/Cli.h"
#include "secrets/KeyringStore.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  qnb::cli::TCliIo io{std::cin, std::cout, std::cerr};
  qnb::TKeyringStoreScope keyring;  // stored accounts may keep their passwords there
  int rc = qnb::cli::RunCli(qnb::cli::TArgs(argv + 1, argv + argc), io);
  std::cout.flush();
  return rc;
}
