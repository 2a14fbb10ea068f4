// Win32 back end of the lean program start: the process entry point,
// ProgramEntry, named to the linker with -e (it never returns, so the
// system's argument to it does not matter). It walks the static constructor
// table that GNU ld lays out (__CTOR_LIST__: -1, the constructors, 0) from
// its end, as GCC's own start-up does, then runs the program and ends the
// process with ExitProcess, which lets every DLL see the end.
#include <windows.h>

#include "runtime/program_entry.h"

extern "C" {
typedef void (*StaticConstructor)();
extern StaticConstructor __CTOR_LIST__[];

void ProgramEntry();
}

namespace {

void RunStaticConstructors() {
  int count = 0;
  while (__CTOR_LIST__[count + 1] != nullptr) count++;
  for (int i = count; i >= 1; i--) __CTOR_LIST__[i]();
}

}  // namespace

void ProgramEntry() {
  RunStaticConstructors();
  ExitProcess(static_cast<UINT>(ProgramMain()));
}
