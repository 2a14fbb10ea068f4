// Modality of the Win32 window layer's requesters, shared by the files of
// that back end (window_win32.cpp, window_save_win32.cpp): while a requester
// is up, the calling thread's other windows are disabled.
#ifndef VEZOVUD_RUNTIME_WINDOW_MODAL_WIN32_H
#define VEZOVUD_RUNTIME_WINDOW_MODAL_WIN32_H

#include <windows.h>

const int kModalWindowSlots = 64;

// Windows a requester disabled, to be enabled again afterwards.
struct Modality {
  HWND owner;
  HWND foreground;
  HWND disabled[kModalWindowSlots];
  int count;
};

// Picks the requester's owner, the foreground window when it is this
// process's, and disables the calling thread's other visible, enabled
// top-level windows (at most kModalWindowSlots of them).
void BeginModal(Modality* modality);

// Enables again the windows that BeginModal disabled.
void EndModal(Modality* modality);

#endif
