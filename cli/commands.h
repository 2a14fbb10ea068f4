// The commands of the vezovud tool. Each takes the arguments that follow its
// name (argv[0] is the command name) and returns the process exit code:
// 0 when everything succeeded, 1 for a failure (with a message on stderr),
// 2 for a usage error.
#ifndef VEZOVUD_CLI_COMMANDS_H
#define VEZOVUD_CLI_COMMANDS_H

#include <stdint.h>

const int kExitSuccess = 0;
const int kExitFailure = 1;
const int kExitUsage = 2;

int RunListCommand(int argc, char** argv);
int RunTestCommand(int argc, char** argv);
int RunUnpackCommand(int argc, char** argv);
int RunPackCommand(int argc, char** argv);

// Reads the count of "--jobs N": a positive decimal number, clamped to
// limit. 0 for anything else, leaving *jobs alone.
int ParseJobs(const char* text, int32_t limit, int32_t* jobs);

#endif
