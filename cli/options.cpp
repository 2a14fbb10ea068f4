// Command-line reading shared by the tool's commands: getopt_long with the
// tool's own one-line messages instead of getopt's, so that every usage
// error names the argument at fault in the same words.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "cli/commands.h"

namespace {

const int kOptionNameBytes = 64;  // an option's name as shown in a message

// The option that argument spells, without a "=value": "--jobs=0" gives "--jobs".
void LongOptionName(const char* argument, char* name) {
  snprintf(name, kOptionNameBytes, "%s", argument);
  char* equals = strchr(name, '=');
  if (equals != nullptr) *equals = 0;
}

// 1 when value belongs to a known option: a letter of shortOptions, or the
// value of a long option that has no letter.
int IsKnownValue(int value, const char* shortOptions, const struct option* longOptions) {
  if (value > 0 && value < 256 && value != ':' && strchr(shortOptions, value) != nullptr) return 1;
  for (const struct option* o = longOptions; o->name != nullptr; ++o) {
    if (o->flag == nullptr && o->val == value) return 1;
  }
  return 0;
}

}  // namespace

int UsageError(const char* command, const char* format, ...) {
  fprintf(stderr, "vezovud %s: ", command);
  va_list arguments;
  va_start(arguments, format);
  vfprintf(stderr, format, arguments);
  va_end(arguments);
  fprintf(stderr, "\nTry 'vezovud %s --help'.\n", command);
  return kExitUsage;
}

void StartOptions() {
  // 0 makes glibc's getopt start over, forgetting the last argv's state.
  optind = 0;
  opterr = 0;
}

int NextOption(const char* command, int argc, char** argv, const char* shortOptions,
               const struct option* longOptions) {
  char optionString[kOptionNameBytes];
  // A leading ':' makes a missing value ':' rather than '?'.
  snprintf(optionString, sizeof optionString, ":%s", shortOptions);
  int value = getopt_long(argc, argv, optionString, longOptions, nullptr);
  if (value != '?' && value != ':') return value;
  // getopt has moved past a long option in error; a short one in error may
  // still be inside its group ("-qz"), so it is named by its letter.
  const char* last = optind > 0 && optind <= argc ? argv[optind - 1] : "";
  int isLong = strncmp(last, "--", 2) == 0;
  char name[kOptionNameBytes];
  if (value == ':') {
    if (isLong) {
      LongOptionName(last, name);
    } else {
      snprintf(name, sizeof name, "-%c", optopt);
    }
    UsageError(command, "option '%s' needs a value", name);
  } else if (optopt != 0 && IsKnownValue(optopt, shortOptions, longOptions) && isLong) {
    LongOptionName(last, name);
    UsageError(command, "option '%s' takes no value", name);
  } else if (optopt != 0) {
    UsageError(command, "unknown option '-%c'", optopt);
  } else {
    LongOptionName(last, name);
    UsageError(command, "unknown option '%s'", name);
  }
  return kOptionError;
}

int ParseJobs(const char* text, int32_t limit, int32_t* jobs) {
  int32_t value = 0;
  if (text[0] == 0) return 0;
  for (const char* c = text; *c != 0; ++c) {
    if (*c < '0' || *c > '9') return 0;
    if (value < limit) value = value * 10 + (*c - '0');
  }
  if (value < 1) return 0;
  *jobs = value < limit ? value : limit;
  return 1;
}

int ReadJobsOption(const char* command, const char* name, const char* text, int32_t limit,
                   int32_t* jobs) {
  if (ParseJobs(text, limit, jobs)) return 1;
  UsageError(command, "%s: '%s' is not a positive number", name, text);
  return 0;
}
