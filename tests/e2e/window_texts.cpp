// Test helper for the Wine end-to-end tests (xdotool sees only pixels):
// window_texts.exe TITLE prints "class<TAB>enabled 1/0<TAB>text" for the
// top-level window titled TITLE and each child, line breaks shown as \n and
// \r. Exit 0; 1: no such window; 2: usage.
#include <windows.h>

#include <stdio.h>

namespace {

const int kTextBytes = 4096;
const UINT kAnswerTimeoutMs = 2000;  // a hung window must not hang the test

BOOL CALLBACK PrintWindow(HWND window, LPARAM) {
  char className[256] = {0};
  char text[kTextBytes] = {0};
  DWORD_PTR answer = 0;
  GetClassNameA(window, className, sizeof(className));
  // WM_GETTEXT is marshalled across processes.
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text) - 1, (LPARAM)text, SMTO_ABORTIFHUNG,
                      kAnswerTimeoutMs, &answer);
  printf("%s\t%d\t", className, IsWindowEnabled(window) ? 1 : 0);
  for (const char* c = text; *c; ++c) {
    if (*c == '\n' || *c == '\r') printf("\\%c", *c == '\n' ? 'n' : 'r');
    else putchar(*c);
  }
  putchar('\n');
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  HWND window = argc == 2 ? FindWindowA(NULL, argv[1]) : NULL;
  if (window == NULL) return argc == 2 ? 1 : 2;
  PrintWindow(window, 0);
  EnumChildWindows(window, PrintWindow, 0);
  return 0;
}
