// POSIX back end of the failure reasons: errno and strerror_r.
#include "runtime/system_error.h"

#include <errno.h>
#include <string.h>

namespace {

const int kReasonCapacity = 256;

}  // namespace

int32_t LastSystemError() { return errno; }

Text SystemErrorText(int32_t code) {
  if (code == 0) return Text();
  char buffer[kReasonCapacity] = "";
  // The GNU form, which C++ gets: the text may lie elsewhere than in buffer.
  return Text(strerror_r(code, buffer, sizeof buffer));
}

int IsOutOfOpenFiles(int32_t code) { return code == EMFILE || code == ENFILE ? 1 : 0; }
