// The vezovud tool: dispatches to its commands, which run the same archive
// core as the Windows programs, and answers --help and --version itself.
#include <stdio.h>
#include <string.h>

#include "cli/commands.h"
#include "runtime/filesystem.h"
#include "runtime/memory.h"
#include "runtime/system.h"

namespace {

const char kUsage[] =
    "usage: vezovud COMMAND [OPTIONS] ARGUMENTS\n"
    "\n"
    "  pack FOLDER OUTPUT  pack FOLDER into the self-extracting file OUTPUT\n"
    "  unpack FILE DEST    extract every entry of FILE below the folder DEST\n"
    "  list FILE           list the entries of FILE: name, size, compressed size,\n"
    "                      date and time, CRC-32\n"
    "  test FILE           check every entry's data and CRC-32, writing nothing\n"
    "\n"
    "  -h, --help          show this help; 'vezovud COMMAND --help' describes one command\n"
    "  -V, --version       show the version\n"
    "\n"
    "FILE is an output file of the Maker or a plain ZIP archive.\n"
    "Exit codes: 0 success, 1 failure, 2 usage error, 128 + the signal's number\n"
    "after an interrupt (130 for Ctrl-C).\n";

const struct {
  const char* name;
  int (*run)(int argc, char** argv);
} kCommands[] = {
    {"pack", RunPackCommand},
    {"unpack", RunUnpackCommand},
    {"list", RunListCommand},
    {"test", RunTestCommand},
};

int IsOneOf(const char* argument, const char* shortForm, const char* longForm) {
  return strcmp(argument, shortForm) == 0 || strcmp(argument, longForm) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  KeepFreedMemoryForReuse();
  KeepLocalTimeZoneLoaded();
  if (argc < 2) {
    fputs("vezovud: missing COMMAND\nTry 'vezovud --help'.\n", stderr);
    return kExitUsage;
  }
  const char* first = argv[1];
  if (IsOneOf(first, "-h", "--help") || (strcmp(first, "help") == 0 && argc == 2)) {
    fputs(kUsage, stdout);
    return kExitSuccess;
  }
  if (IsOneOf(first, "-V", "--version")) {
    printf("vezovud %s\n", VEZOVUD_VERSION);
    return kExitSuccess;
  }
  // "vezovud help COMMAND" is "vezovud COMMAND --help".
  char helpOption[] = "--help";
  char* helpArguments[] = {argv[0], argv[1], helpOption, nullptr};
  if (strcmp(first, "help") == 0) {
    helpArguments[1] = argv[2];
    argc = 3;
    argv = helpArguments;
    first = argv[1];
  }
  int (*run)(int, char**) = nullptr;
  for (const auto& command : kCommands) {
    if (strcmp(first, command.name) == 0) run = command.run;
  }
  if (run == nullptr) {
    fprintf(stderr, "vezovud: unknown %s '%s'\nTry 'vezovud --help'.\n",
            first[0] == '-' ? "option" : "command", first);
    return kExitUsage;
  }
  InitRuntime();
  int result = run(argc - 1, argv + 1);
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
