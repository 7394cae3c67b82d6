// tessavar-cli: the command-line front end over the archive components.
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "usage: tessavar-cli COMMAND [OPTIONS] ARCHIVE [ARGS...]\n"
    "  l [--json] [-p PASSWORD] ARCHIVE [PATTERN...]   list\n"
    "  t [-p PASSWORD] ARCHIVE [PATTERN...]            test\n"
    "  x [-o DIR] [-p PASSWORD] [-y|-n] [-j] ARCHIVE [PATTERN...]  extract\n"
    "  a [-t zip|jar|lha|cab] [-p PASSWORD] [--encrypt-headers] [-0|-1|-6|-9] [-r] ARCHIVE PATH...  add\n"
    "  u ARCHIVE PATH...   refresh\n"
    "  m ARCHIVE PATH...   move\n"
    "  d ARCHIVE PATTERN...   delete entries\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 3 : 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::puts("tessavar-cli 1.0 (Build 2472)");
    return 0;
  }
  std::fprintf(stderr, "tessavar-cli: the '%s' command is not available in this build\n", argv[1]);
  return 2;
}
