// Name encodings: a strict UTF-8 check, Windows-1252 decoding and the
// upper-casing by which Windows matches names. No state.
#include "runtime/name_encoding.h"

#include <stdint.h>
#include <stdlib.h>

namespace {

// Windows-1252 bytes 0x80..0x9F; the rest of the upper half is Latin-1.
const uint16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Puts the UTF-8 bytes of code at out; returns how many (1 to 4).
int PutUtf8(char* out, uint32_t code) {
  if (code < 0x80) {
    out[0] = static_cast<char>(code);
    return 1;
  }
  if (code < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code >> 6));
    out[1] = static_cast<char>(0x80 | (code & 0x3F));
    return 2;
  }
  if (code < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (code >> 12));
    out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (code >> 18));
  out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (code & 0x3F));
  return 4;
}

// A buffer for a text made from one of length bytes: at most four bytes
// for each (a code point of the input takes at least one byte, and four at
// most in the output). Null when memory is short.
char* OutputBuffer(int length) {
  if (length > 0x7FFFFFF0 / 4) return nullptr;
  return static_cast<char*>(malloc(static_cast<size_t>(length) * 4 + 1));
}

// The text of buffer's first length bytes, buffer freed.
Text TakeBuffer(char* buffer, int length) {
  if (buffer == nullptr) return Text();
  Text text(buffer, length);
  free(buffer);
  return text;
}

// Decodes the sequence at text[at]: its code point and length in *bytes, or
// 0 bytes when it is not well-formed UTF-8.
uint32_t DecodeAt(const Text& text, int at, int* bytes) {
  unsigned char lead = static_cast<unsigned char>(text.At(at));
  *bytes = 0;
  int length;
  uint32_t code;
  uint32_t least;
  if (lead < 0x80) {
    *bytes = 1;
    return lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
    least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
    least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
    least = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.Length()) return 0;
  for (int i = 1; i < length; ++i) {
    unsigned char next = static_cast<unsigned char>(text.At(at + i));
    if ((next & 0xC0) != 0x80) return 0;
    code = code << 6 | (next & 0x3F);
  }
  // Overlong forms, surrogates and code points past Unicode are no UTF-8.
  if (code < least || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  *bytes = length;
  return code;
}

uint32_t UpperCase(uint32_t c) {
  if (c >= 'a' && c <= 'z') return c - 0x20;
  if (c < 0xE0) return c;
  if (c <= 0xFE) return c == 0xF7 ? c : c - 0x20;  // Latin-1, but the division sign
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A: pairs of capital and small letter, the capital even
    // in two runs and odd in the two others.
    bool evenCapitals = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
    bool oddCapitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (evenCapitals && (c & 1)) return c - 1;
    if (oddCapitals && !(c & 1)) return c - 1;
    return c;
  }
  if (c >= 0x3B1 && c <= 0x3CB) return c == 0x3C2 ? 0x3A3 : c - 0x20;  // Greek
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;  // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

}  // namespace

int IsAsciiText(const Text& text) {
  for (int i = 0; i < text.Length(); ++i) {
    if (static_cast<unsigned char>(text.At(i)) >= 0x80) return 0;
  }
  return 1;
}

int IsUtf8Text(const Text& text) {
  for (int i = 0; i < text.Length();) {
    int bytes;
    DecodeAt(text, i, &bytes);
    if (bytes == 0) return 0;
    i += bytes;
  }
  return 1;
}

Text Windows1252ToUtf8(const Text& text) {
  int ascii = 1;
  for (int i = 0; i < text.Length() && ascii; ++i) ascii = (text.At(i) & 0x80) == 0;
  if (ascii) return text;  // the same bytes either way
  char* out = OutputBuffer(text.Length());
  int length = 0;
  for (int i = 0; out != nullptr && i < text.Length(); ++i) {
    unsigned char c = static_cast<unsigned char>(text.At(i));
    length += PutUtf8(out + length, c >= 0x80 && c < 0xA0 ? kWindows1252High[c - 0x80] : c);
  }
  return TakeBuffer(out, length);
}

Text UpperCasedName(const Text& name) {
  char* out = OutputBuffer(name.Length());
  int length = 0;
  for (int i = 0; out != nullptr && i < name.Length();) {
    int bytes;
    uint32_t code = DecodeAt(name, i, &bytes);
    if (bytes == 0) {
      out[length++] = name.At(i);  // not UTF-8: the byte as it is
      i += 1;
      continue;
    }
    length += PutUtf8(out + length, UpperCase(code));
    i += bytes;
  }
  return TakeBuffer(out, length);
}

Text PrintableName(const Text& name) {
  static const char kHex[] = "0123456789abcdef";
  Text printable;
  for (int i = 0; i < name.Length();) {
    int bytes;
    uint32_t code = DecodeAt(name, i, &bytes);
    // The C1 controls (U+0080..U+009F) start terminal escapes as the C0 ones
    // do; a byte that is no UTF-8 could be one to a terminal of 8-bit
    // characters. Each is escaped byte by byte.
    int control = bytes == 0 || code < 0x20 || (code >= 0x7F && code < 0xA0);
    if (bytes == 0) bytes = 1;
    for (int end = i + bytes; i < end; ++i) {
      unsigned char c = static_cast<unsigned char>(name.At(i));
      if (control) {
        printable += "\\x";
        printable += kHex[c >> 4];
        printable += kHex[c & 15];
      } else {
        printable += static_cast<char>(c);
      }
    }
  }
  return printable;
}
