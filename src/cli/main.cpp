// tessavar-cli: the command-line front end over the archive components.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "platform/Time.h"

int main(int argc, char** argv) {
  using namespace tessavar::cli;
  tessavar::platform::PinLocalTimeZone();
  if (argc < 2) {
    PrintUsage(stderr);
    return kUsage;
  }
  const std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    PrintUsage(stdout);
    return kOk;
  }
  if (command == "--version") {
    std::puts("tessavar-cli 1.0 (Build 2472)");
    return kOk;
  }
  if (command == "l") return ListCommand(argc, argv);
  if (command == "t") return TestCommand(argc, argv);
  if (command == "x") return ExtractCommand(argc, argv);
  if (command == "a" || command == "u" || command == "m" || command == "d") return WriteCommand(command, argc, argv);
  std::fprintf(stderr, "tessavar-cli: unknown command '%s'\n", command.c_str());
  PrintUsage(stderr);
  return kUsage;
}
