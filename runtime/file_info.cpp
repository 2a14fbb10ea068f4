// The portable part of the file facts: comparing identities.
#include "runtime/file_info.h"

int SameIdentity(const PathIdentity& a, const PathIdentity& b) {
  return a.volume == b.volume && a.object == b.object;
}
