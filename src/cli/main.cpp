#include <malloc.h>

#include <iostream>

#include "cli/Cli.h"
#include "secrets/KeyringStore.h"

int main(int argc, char** argv) {
  // A check allocates and frees answers, lines and records by the thousand.
  // With glibc's defaults the heap top is handed back to the system over and
  // over and faulted in again; fixed bounds keep up to 8 MiB of it, and only
  // blocks of a MiB and more (a big mail's) get mappings of their own.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  mallopt(M_TRIM_THRESHOLD, 8 << 20);
  std::ios::sync_with_stdio(false);
  qnb::cli::TCliIo io{std::cin, std::cout, std::cerr};
  qnb::TKeyringStoreScope keyring;  // stored accounts may keep their passwords there
  int rc = qnb::cli::RunCli(qnb::cli::TArgs(argv + 1, argv + argc), io);
  std::cout.flush();
  return rc;
}
