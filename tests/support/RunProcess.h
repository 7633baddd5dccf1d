#pragma once
// Runs a program (no shell) and collects its exit status, stdout and stderr.

#include <string>
#include <vector>

namespace qnb::test {

struct TProcessResult {
  int status = -1;  // exit code, or 128 + signal
  std::string out;
  std::string err;
};

TProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = {},
                          const std::vector<std::string>& extraEnv = {});

}  // namespace qnb::test
