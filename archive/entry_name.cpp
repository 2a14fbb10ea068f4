// Cleaning and checking of entry names, kept apart from the reader and the
// archiver so that the rules can be tested on their own.
#include "archive/entry_name.h"

#include <string.h>

Text CleanEntryName(const Text& stored) {
  int start = 0;
  int end = stored.Length();
  while (start < end && stored.At(start) == ' ') ++start;
  while (end > start && stored.At(end - 1) == ' ') --end;
  return ReplacedBytes(stored.Middle(start, end - start), '/', '\\');
}

Text DropDrivePrefix(const Text& name) {
  char drive = name.At(0);
  int letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
  if (letter && name.At(1) == ':' && name.At(2) == '\\') return name.Middle(3, name.Length() - 3);
  return name;
}

namespace {

// A component of nothing but dots and spaces, with at least two dots, names
// the parent folder once Windows has trimmed its trailing dots and spaces.
int IsParentComponent(const Text& name, int start, int end) {
  int dots = 0;
  for (int i = start; i < end; ++i) {
    char c = name.At(i);
    if (c == '.') {
      ++dots;
    } else if (c != ' ') {
      return 0;
    }
  }
  return dots >= 2;
}

}  // namespace

// A component that Windows opens as a device instead of a file: CON, PRN,
// AUX, NUL, COM1-COM9, LPT1-LPT9, CONIN$ and CONOUT$, in any case and with
// any extension ("nul.txt" is the device too). Windows also takes the
// superscript digits 1, 2 and 3 for COM and LPT ports: bytes 0xB9, 0xB2 and
// 0xB3 in the ANSI code page, C2 B9, C2 B2 and C2 B3 in UTF-8. Writing such
// an entry would report success while the data went to the device.
int IsDeviceComponent(const Text& name, int start, int end) {
  int stem_end = start;
  while (stem_end < end && name.At(stem_end) != '.') ++stem_end;
  while (stem_end > start && name.At(stem_end - 1) == ' ') --stem_end;
  char stem[8];
  int length = stem_end - start;
  if (length < 3 || length > 7) return 0;
  for (int i = 0; i < length; ++i) {
    char c = name.At(start + i);
    stem[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  }
  stem[length] = 0;
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (strcmp(stem, device) == 0) return 1;
  }
  if (memcmp(stem, "COM", 3) != 0 && memcmp(stem, "LPT", 3) != 0) return 0;
  unsigned char digit = static_cast<unsigned char>(stem[3]);
  if (length == 5 && digit == 0xC2)
    digit = static_cast<unsigned char>(stem[4]);
  else if (length != 4)
    return 0;
  int superscript = digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
  return (length == 4 && digit >= '1' && digit <= '9') || superscript;
}

int IsSafeEntryName(const Text& name) {
  // An absolute name, or a UNC one, would ignore the destination.
  if (name.At(0) == '\\') return 0;
  int start = 0;
  for (int i = 0; i <= name.Length(); ++i) {
    char c = name.At(i);  // 0 past the end closes the last component
    // A zero byte would cut the name short into the name of another file.
    if (c == 0 && i < name.Length()) return 0;
    // A ":" left once the drive prefix is dropped is a drive or a stream name.
    if (c == ':') return 0;
    if (c == '\\' || i == name.Length()) {
      if (IsParentComponent(name, start, i)) return 0;
      if (IsDeviceComponent(name, start, i)) return 0;
      start = i + 1;
    }
  }
  return 1;
}

int IsPortableNamePart(const Text& name) {
  char last = name.Last();
  if (!name.IsEmpty() && (last == '.' || last == ' ')) return 0;
  for (int i = 0; i < name.Length(); ++i) {
    unsigned char c = static_cast<unsigned char>(name.At(i));
    if (c < 0x20 || c == 0x7F) return 0;
    if (strchr("\\:*?\"<>|", c) != nullptr) return 0;
  }
  return !IsDeviceComponent(name, 0, name.Length());
}

Text FolderPartOf(const Text& name) { return name.Middle(0, name.LastIndexOf('\\') + 1); }

Text FilePartOf(const Text& name) {
  int last = name.LastIndexOf('\\');
  return name.Middle(last + 1, name.Length() - last - 1);
}
