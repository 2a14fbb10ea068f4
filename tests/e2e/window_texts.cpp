// window_texts.exe TITLE, for the Wine tests (xdotool sees only pixels): a line for the window
// titled TITLE (id 0, client rectangle), then one per control (rectangle in client coordinates):
//   class<TAB>enabled 1/0<TAB>id<TAB>left<TAB>top<TAB>right<TAB>bottom<TAB>text  (\n, \r escaped)
// Exit 0; 1: no such window; 2: usage.
#include <windows.h>

#include <stdio.h>

namespace {

const int kTextBytes = 4096;
const UINT kAnswerTimeoutMs = 2000;  // a hung window must not hang the test

void PrintWindow(HWND window, int id, const RECT& place) {
  char className[256] = {0};
  char text[kTextBytes] = {0};
  DWORD_PTR answer = 0;
  GetClassNameA(window, className, sizeof(className));
  // WM_GETTEXT is marshalled across processes.
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text) - 1, (LPARAM)text, SMTO_ABORTIFHUNG,
                      kAnswerTimeoutMs, &answer);
  printf("%s\t%d\t%d\t%ld\t%ld\t%ld\t%ld\t", className, IsWindowEnabled(window) ? 1 : 0, id,
         place.left, place.top, place.right, place.bottom);
  for (const char* c = text; *c; ++c) {
    if (*c == '\n' || *c == '\r')
      printf("\\%c", *c == '\n' ? 'n' : 'r');
    else
      putchar(*c);
  }
  putchar('\n');
}

BOOL CALLBACK PrintChild(HWND child, LPARAM top) {
  RECT place;
  GetWindowRect(child, &place);
  MapWindowPoints(NULL, (HWND)top, (POINT*)&place, 2);
  PrintWindow(child, GetDlgCtrlID(child), place);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  HWND window = argc == 2 ? FindWindowA(NULL, argv[1]) : NULL;
  if (window == NULL) return argc == 2 ? 1 : 2;
  RECT client;
  GetClientRect(window, &client);
  PrintWindow(window, 0, client);
  EnumChildWindows(window, PrintChild, (LPARAM)window);
  return 0;
}
