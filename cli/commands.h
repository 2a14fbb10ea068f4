// The commands of the vezovud tool and what they share. Each command takes
// the arguments that follow its name (argv[0] is the command name) and
// returns the process exit code: 0 when everything succeeded, 1 for a
// failure (with a message on stderr), 2 for a usage error (one line naming
// the argument at fault, then where to find help). An interrupt ends the
// process with 128 plus the signal's number (runtime/process.h).
#ifndef VEZOVUD_CLI_COMMANDS_H
#define VEZOVUD_CLI_COMMANDS_H

#include <getopt.h>
#include <stdint.h>

const int kExitSuccess = 0;
const int kExitFailure = 1;
const int kExitUsage = 2;

int RunListCommand(int argc, char** argv);
int RunTestCommand(int argc, char** argv);
int RunUnpackCommand(int argc, char** argv);
int RunPackCommand(int argc, char** argv);

// Prints "vezovud COMMAND: " and the formatted text as one line on stderr,
// then "Try 'vezovud COMMAND --help'."; returns kExitUsage.
int UsageError(const char* command, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Reads argv's options with getopt_long (options and operands in any order,
// "--opt=value" and "--opt value", "--" ends the options), starting over at
// argv[1] on the first call for a new argv (call StartOptions first).
// shortOptions is getopt's string without a leading ':'. Returns the next
// option's value, -1 when the options are done (the operands are then
// argv[optind] to argv[argc - 1]), or kOptionError after a usage error has
// been printed naming the option at fault.
const int kOptionError = -2;
void StartOptions();
int NextOption(const char* command, int argc, char** argv, const char* shortOptions,
               const struct option* longOptions);

// Reads the count of "--jobs N": a positive decimal number, clamped to
// limit. 0 for anything else, leaving *jobs alone.
int ParseJobs(const char* text, int32_t limit, int32_t* jobs);

// ParseJobs for option name, with a usage error naming it and the text on
// failure: 1 when read, 0 when the error was printed.
int ReadJobsOption(const char* command, const char* name, const char* text, int32_t limit,
                   int32_t* jobs);

#endif
