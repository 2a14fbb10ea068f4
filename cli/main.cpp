// The vezovud tool: dispatches to its commands, which run the same archive
// core as the Windows programs.
#include <stdio.h>
#include <string.h>

#include "cli/commands.h"
#include "runtime/memory.h"
#include "runtime/system.h"

namespace {

const char kUsage[] =
    "usage: vezovud COMMAND ARGUMENTS\n"
    "\n"
    "  list FILE         list the entries of FILE: name, size, compressed size,\n"
    "                    date and time, CRC-32\n"
    "  test FILE         check every entry's data and CRC-32, writing nothing\n"
    "  unpack FILE DEST [--jobs N]\n"
    "                    extract every entry below the folder DEST\n"
    "  pack FOLDER OUT   pack FOLDER into the self-extracting file OUT\n"
    "\n"
    "'vezovud COMMAND --help' describes one command.\n"
    "FILE is an output file of the Maker or a plain ZIP archive.\n"
    "Exit codes: 0 success, 1 failure, 2 usage error.\n";

// The usage of each reading command, for "vezovud COMMAND --help".
const struct {
  const char* command;
  const char* usage;
} kCommandUsages[] = {
    {"list",
     "usage: vezovud list FILE\n\nLists the entries of FILE: name, size, compressed size,\n"
     "date and time, CRC-32.\n"},
    {"test",
     "usage: vezovud test FILE\n\nChecks every entry's data and CRC-32, writing nothing.\n"},
    {"unpack",
     "usage: vezovud unpack FILE DEST [--jobs N]\n\nExtracts every entry below the folder DEST.\n"
     "  --jobs N  create the files with N threads (default: one per processor,\n"
     "            at most 16); --jobs 1 extracts one entry after another.\n"
     "Each file is written to a part file named .~vz and 8 letters or digits, which\n"
     "takes the file's name once whole. Interrupted by SIGINT, SIGTERM or SIGHUP,\n"
     "unpack removes the part files it was writing and exits with 130, 143 or 129;\n"
     "the part files a killed run left go when a run writes into their folder.\n"},
};

// 1 when an argument after the command asks for help.
int AsksForHelp(int argc, char** argv) {
  for (int i = 2; i < argc; ++i) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  KeepFreedMemoryForReuse();
  if (argc >= 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0 ||
                    strcmp(argv[1], "help") == 0)) {
    fputs(kUsage, stdout);
    return kExitSuccess;
  }
  if (argc < 2) {
    fputs(kUsage, stderr);
    return kExitUsage;
  }
  // pack reads its own options, --help among them.
  if (AsksForHelp(argc, argv)) {
    for (const auto& entry : kCommandUsages) {
      if (strcmp(argv[1], entry.command) == 0) {
        fputs(entry.usage, stdout);
        return kExitSuccess;
      }
    }
  }
  InitRuntime();
  const char* command = argv[1];
  int result;
  if (strcmp(command, "list") == 0) {
    result = RunListCommand(argc - 1, argv + 1);
  } else if (strcmp(command, "test") == 0) {
    result = RunTestCommand(argc - 1, argv + 1);
  } else if (strcmp(command, "unpack") == 0) {
    result = RunUnpackCommand(argc - 1, argv + 1);
  } else if (strcmp(command, "pack") == 0) {
    result = RunPackCommand(argc - 1, argv + 1);
  } else {
    fprintf(stderr, "vezovud: unknown command '%s'\n\n%s", command, kUsage);
    result = kExitUsage;
  }
  // A listing or summary that stdout could not take (a full disk) is no
  // success, however the command went.
  int flushed = fflush(stdout) == 0;
  int32_t reason = flushed ? 0 : LastSystemError();
  if (!flushed || ferror(stdout)) {
    fprintf(stderr, "vezovud: standard output could not be written%s%s%s\n", reason ? " (" : "",
            SystemErrorText(reason).c_str(), reason ? ")" : "");
    if (result == kExitSuccess) result = kExitFailure;
  }
  EndRuntime();
  return result;
}
