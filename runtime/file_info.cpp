// The portable part of the file facts: comparing identities and states.
#include "runtime/file_info.h"

int SameIdentity(const PathIdentity& a, const PathIdentity& b) {
  return a.volume == b.volume && a.object == b.object;
}

int SameFileState(const FileState& a, const FileState& b) {
  return SameIdentity(a.identity, b.identity) && a.size == b.size && a.writeTime == b.writeTime &&
         a.changeTime == b.changeTime;
}
