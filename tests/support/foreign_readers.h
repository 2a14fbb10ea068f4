// Runs the foreign archive readers over a file a test wrote: Info-ZIP's
// unzip -t, Python's zipfile.testzip() and 7-Zip's "7z t". Each must accept
// the file; a reader that is not installed counts as a failure, so a missing
// tool cannot hide a broken archive. Native (POSIX) tests only.
#ifndef VEZOVUD_TESTS_SUPPORT_FOREIGN_READERS_H
#define VEZOVUD_TESTS_SUPPORT_FOREIGN_READERS_H

#include <stdlib.h>

#include <string>

#ifndef _WIN32
#include <sys/wait.h>

namespace foreign_readers {

inline std::string Quote(const std::string& path) {
  std::string q = "'";
  for (char c : path) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

// The empty text when all three readers accept path, else the readers that
// refused it.
inline std::string CheckAll(const std::string& path) {
  std::string failed;
  std::string q = Quote(path);
  // unzip -t warns (exit 1) about the bytes in front of a payload; that is no fault.
  int unzip = system(("unzip -tqq " + q + " >/dev/null 2>&1").c_str());
  if (!(WIFEXITED(unzip) && (WEXITSTATUS(unzip) == 0 || WEXITSTATUS(unzip) == 1))) failed += "unzip ";
  std::string python =
      "python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
      "sys.exit(0 if z.testzip() is None else 1)' " + q + " >/dev/null 2>&1";
  if (system(python.c_str()) != 0) failed += "python-zipfile ";
  if (system(("7z t " + q + " >/dev/null 2>&1").c_str()) != 0) failed += "7z ";
  return failed;
}

}  // namespace foreign_readers

#endif  // _WIN32

#endif
