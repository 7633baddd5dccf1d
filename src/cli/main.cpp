#include <iostream>

#include "cli/Cli.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  qnb::cli::TCliIo io{std::cin, std::cout, std::cerr};
  int rc = qnb::cli::RunCli(qnb::cli::TArgs(argv + 1, argv + argc), io);
  std::cout.flush();
  return rc;
}
