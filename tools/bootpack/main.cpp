// bootpack: the distributor's tool for the payload of a bootstrapper executable.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/bootpack/check.h"
#include "tools/bootpack/entries.h"
#include "tools/bootpack/lint.h"
#include "tools/bootpack/pack.h"

namespace {

const char kHelp[] =
    "usage: bootpack COMMAND [ARGS]\n"
    "\n"
    "  pack --stub STUB.exe --out OUT.exe [--replace] [--force] FILE...\n"
    "                               append files as payload entries\n"
    "  list EXE                     show the entries of a packed executable\n"
    "  extract EXE DIR [NAME...]    write entries into a folder\n"
    "  lint CONFIG.TXT              check a configuration text\n"
    "  check EXE|CONFIG.TXT [--timeout S] [--no-download] [--json]\n"
    "                               try the addresses and the log server it names\n"
    "\n"
    "`bootpack COMMAND --help` describes a command and its exit status.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kHelp, stderr);
    return 2;
  }
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "pack") return bootpack::PackCommand(args, stdout, stderr);
  if (command == "list") return bootpack::ListCommand(args, stdout, stderr);
  if (command == "extract") return bootpack::ExtractCommand(args, stdout, stderr);
  if (command == "lint") return bootpack::LintCommand(args, stdout, stderr);
  if (command == "check") return bootpack::CheckCommand(args, stdout, stderr);
  if (command == "help" || command == "--help" || command == "-h") {
    std::fputs(kHelp, stdout);
    return 0;
  }
  std::fprintf(stderr, "bootpack: unknown command \"%s\"\n%s", command.c_str(), kHelp);
  return 2;
}
