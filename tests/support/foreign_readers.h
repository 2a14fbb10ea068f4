// Runs unzip -t, Python's zipfile.testzip() and "7z t" over a file; a reader that is not
// installed counts as a refusal, so a missing tool cannot hide a broken file.
#ifndef VEZOVUD_TESTS_SUPPORT_FOREIGN_READERS_H
#define VEZOVUD_TESTS_SUPPORT_FOREIGN_READERS_H

#include <stdlib.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <string>

namespace foreign_readers {

// "" when all three readers accept path (always under Wine), else the readers that refused it.
inline std::string CheckAll(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return "";
#else
  std::string q = "'";
  for (char c : path) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  q += "' >/dev/null 2>&1";
  std::string failed;
  // unzip exits 1 (a warning) for the bytes in front of a payload: no fault.
  int unzip = system(("unzip -tqq " + q).c_str());
  if (!WIFEXITED(unzip) || WEXITSTATUS(unzip) > 1) failed += "unzip ";
  if (system(("python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
              "sys.exit(z.testzip() is not None)' " +
              q)
                 .c_str()) != 0)
    failed += "python-zipfile ";
  if (system(("7z t " + q).c_str()) != 0) failed += "7z ";
  return failed;
#endif
}

}  // namespace foreign_readers

#endif
