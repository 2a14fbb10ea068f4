// Test helper for the Wine end-to-end tests: finds a top-level window by its
// exact title and describes it and its child windows, so that a script can
// read what a window or message box says (xdotool sees only pixels).
// Usage: window_texts.exe TITLE. Prints one line per window:
//   class<TAB>1 or 0 (enabled)<TAB>text
// with line breaks in a text shown as \n and \r, and a progress bar's
// position as its text. Exit 0, or 1 when no window has that title.
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <string.h>

namespace {

const int kTextBytes = 4096;
const UINT kAnswerTimeoutMs = 2000;  // a hung window must not hang the test

void PrintWindow(HWND window) {
  char className[256] = {0};
  GetClassNameA(window, className, sizeof(className));
  char text[kTextBytes] = {0};
  DWORD_PTR answer = 0;
  if (strcmp(className, PROGRESS_CLASSA) == 0) {
    SendMessageTimeoutA(window, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &answer);
    snprintf(text, sizeof(text), "%d", (int)answer);
  } else {
    // WM_GETTEXT is marshalled across processes.
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), (LPARAM)text, SMTO_ABORTIFHUNG,
                        kAnswerTimeoutMs, &answer);
    text[kTextBytes - 1] = 0;
  }
  printf("%s\t%d\t", className, IsWindowEnabled(window) ? 1 : 0);
  for (const char* c = text; *c; ++c) {
    if (*c == '\n') fputs("\\n", stdout);
    else if (*c == '\r') fputs("\\r", stdout);
    else putchar(*c);
  }
  putchar('\n');
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
  PrintWindow(child);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: window_texts.exe TITLE\n");
    return 2;
  }
  HWND window = FindWindowA(NULL, argv[1]);
  if (window == NULL) return 1;
  PrintWindow(window);
  EnumChildWindows(window, PrintChild, 0);
  fflush(stdout);
  return 0;
}
