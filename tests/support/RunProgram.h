#pragma once
// Runs a program with arguments, no shell in between, and collects its
// standard output, standard error and exit status.
#include <string>
#include <vector>

namespace tessavar::test {

struct RunResult {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;
  std::string err;
};

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& input = "");

}  // namespace tessavar::test
