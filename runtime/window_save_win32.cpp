// Win32 back end of the window layer's save-file chooser, in a file of its
// own: only a program that asks for a file name links it, and with it
// comdlg32.dll. It shares the requesters' modality with window_win32.cpp.
#include <windows.h>
#include <commdlg.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/window.h"
#include "runtime/window_modal_win32.h"

namespace {

const int kSaveFileNameBytes = 10000;
const DWORD kSaveFileFlags =
    OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;  // 0x8080C

// The save-file chooser hands over the older OPENFILENAME, which ends where
// the newer fields would begin: 76 bytes on 32-bit Windows.
const DWORD kOldOpenFileNameBytes = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
static_assert(sizeof(void*) != 4 || kOldOpenFileNameBytes == 76,
              "the older OPENFILENAME is 76 bytes on 32-bit Windows");

}  // namespace

Text AskForSaveFile(const Text& title, const Text& patterns) {
  // "Description|filter|..." becomes NUL-separated pairs ending in two NULs.
  int patternBytes = patterns.Length();
  char* filter = nullptr;
  if (patternBytes > 0) {
    filter = static_cast<char*>(malloc(static_cast<size_t>(patternBytes) + 2));
    if (filter == nullptr) return Text();
    memcpy(filter, patterns.c_str(), static_cast<size_t>(patternBytes));
    filter[patternBytes] = 0;
    filter[patternBytes + 1] = 0;
    for (int i = 0; i < patternBytes; i++) {
      if (filter[i] == '|') filter[i] = 0;
    }
  }
  char* fileName = static_cast<char*>(calloc(kSaveFileNameBytes, 1));
  if (fileName == nullptr) {
    free(filter);
    return Text();
  }

  Modality modality;
  BeginModal(&modality);
  OPENFILENAMEA dialog;
  memset(&dialog, 0, sizeof(dialog));
  dialog.lStructSize = kOldOpenFileNameBytes;
  dialog.hwndOwner = modality.owner;
  dialog.lpstrFilter = filter;
  dialog.nFilterIndex = 1;  // the first pair
  dialog.lpstrFile = fileName;
  dialog.nMaxFile = kSaveFileNameBytes;
  dialog.lpstrTitle = title.c_str();
  dialog.Flags = kSaveFileFlags;
  BOOL chosen = GetSaveFileNameA(&dialog);
  EndModal(&modality);

  Text result;
  if (chosen) {
    fileName[kSaveFileNameBytes - 1] = 0;
    result = fileName;
  }
  free(fileName);
  free(filter);
  return result;
}
