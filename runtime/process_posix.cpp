// POSIX back end of the process service: the own path from /proc, no
// console window, _exit for the end.
#include "runtime/process.h"

#include <unistd.h>

Text OwnExecutablePath() {
  char path[kOwnPathCapacity];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || length >= static_cast<ssize_t>(sizeof path)) return Text();
  return Text(path, static_cast<int>(length));
}

int OpenConsoleWindow(ConsoleCloseProcedure) {  // no console to close
  return 0;
}

void EndProcess(int32_t exitCode) { _exit(exitCode); }
