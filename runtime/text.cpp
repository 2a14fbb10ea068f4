// Texts owned by value over malloc/realloc/free, and the small text
// operations the programs use (RightPart, FileNamePart, DecimalText,
// IntegerValue). Nothing here throws; a failed allocation leaves an empty text.
#include "runtime/text.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Longest decimal text of a 32-bit integer: "-2147483648".
const int kDecimalTextBytes = 11;

// A fresh NUL-terminated copy of length bytes of s, or null when memory is
// short (or length is 0: an empty text owns no memory).
char* CopyBytes(const char* s, int length) {
  if (s == nullptr || length <= 0) return nullptr;
  char* data = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
  if (data == nullptr) return nullptr;
  memcpy(data, s, static_cast<size_t>(length));
  data[length] = 0;
  return data;
}

int ByteLength(const char* s) {
  if (s == nullptr) return 0;
  size_t length = strlen(s);
  // Texts count in 32-bit ints; anything longer cannot be held.
  return length > 0x7FFFFFF0u ? -1 : static_cast<int>(length);
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

Text::Text() : data_(nullptr), length_(0) {}

Text::Text(const char* s) : data_(nullptr), length_(0) {
  int length = ByteLength(s);
  data_ = CopyBytes(s, length);
  if (data_ != nullptr) length_ = length;
}

Text::Text(const char* s, int length) : data_(CopyBytes(s, length)), length_(0) {
  if (data_ != nullptr) length_ = length;
}

Text::Text(const Text& other) : data_(CopyBytes(other.data_, other.length_)), length_(0) {
  if (data_ != nullptr) length_ = other.length_;
}

Text::Text(Text&& other) noexcept : data_(other.data_), length_(other.length_) {
  other.data_ = nullptr;
  other.length_ = 0;
}

Text::~Text() { free(data_); }

Text& Text::operator=(const Text& other) {
  if (this == &other) return *this;
  char* copy = CopyBytes(other.data_, other.length_);
  free(data_);
  data_ = copy;
  length_ = copy != nullptr ? other.length_ : 0;
  return *this;
}

Text& Text::operator=(Text&& other) noexcept {
  if (this == &other) return *this;
  free(data_);
  data_ = other.data_;
  length_ = other.length_;
  other.data_ = nullptr;
  other.length_ = 0;
  return *this;
}

Text& Text::Append(const char* s, int length) {
  if (s == nullptr || length <= 0) return *this;
  // Appending to itself: s points into data_, which realloc may move.
  if (data_ != nullptr && s >= data_ && s < data_ + length_) {
    Text copy(s, length);
    if (copy.IsEmpty()) {
      *this = Text();
      return *this;
    }
    return Append(copy.data_, copy.length_);
  }
  // A text that cannot grow becomes empty rather than silently shortened: a
  // path missing its last part must not stand for the whole one.
  if (length > 0x7FFFFFF0 - length_) {
    *this = Text();
    return *this;
  }
  int total = length_ + length;
  char* grown = static_cast<char*>(realloc(data_, static_cast<size_t>(total) + 1));
  if (grown == nullptr) {
    *this = Text();
    return *this;
  }
  memcpy(grown + length_, s, static_cast<size_t>(length));
  grown[total] = 0;
  data_ = grown;
  length_ = total;
  return *this;
}

Text& Text::operator+=(const Text& other) { return Append(other.data_, other.length_); }

Text& Text::operator+=(const char* s) {
  int length = ByteLength(s);
  if (length < 0) {
    *this = Text();
    return *this;
  }
  return Append(s, length);
}

Text& Text::operator+=(char c) { return Append(&c, 1); }

Text Text::Middle(int start, int count) const {
  if (start < 0) start = 0;
  if (start >= length_ || count <= 0) return Text();
  if (count > length_ - start) count = length_ - start;
  return Text(data_ + start, count);
}

int Text::LastIndexOf(char c) const {
  for (int i = length_ - 1; i >= 0; i--) {
    if (data_[i] == c) return i;
  }
  return -1;
}

Text operator+(const Text& a, const Text& b) {
  Text sum(a);
  sum += b;
  return sum;
}

bool operator==(const Text& a, const Text& b) {
  if (a.Length() != b.Length()) return false;
  return memcmp(a.c_str(), b.c_str(), static_cast<size_t>(a.Length())) == 0;
}

bool operator!=(const Text& a, const Text& b) { return !(a == b); }

char* CopyToCString(const Text& text) { return CopyBytes(text.c_str(), text.Length()); }

Text RightPart(const Text& text, int n) {
  if (n <= 0) return Text();
  if (n >= text.Length()) return text;
  return text.Middle(text.Length() - n, n);
}

Text FileNamePart(const Text& path) {
  const char* s = path.c_str();
  int start = 0;
  int end = path.Length();
  // A quoted path ("C:\x\a b.txt" rest) ends at its closing quote, so text
  // after it (which may hold slashes of its own) does not count.
  if (path.At(0) == '"') start = 1;
  for (int i = start; i < end; i++) {
    if (s[i] == '"') {
      end = i;
      break;
    }
  }
  int nameStart = start;
  for (int i = end - 1; i >= start; i--) {
    if (IsSeparator(s[i])) {
      nameStart = i + 1;
      break;
    }
  }
  return path.Middle(nameStart, end - nameStart);
}

Text DecimalText(int32_t value) {
  char digits[kDecimalTextBytes + 1];
  int at = kDecimalTextBytes;
  digits[at] = 0;
  // Work on the magnitude as unsigned so -2147483648 needs no special case.
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    digits[--at] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits[--at] = '-';
  return Text(digits + at, kDecimalTextBytes - at);
}

int32_t IntegerValue(const Text& text) {
  const char* s = text.c_str();
  while (*s == ' ' || *s == '\t') s++;
  bool negative = false;
  if (*s == '-' || *s == '+') {
    negative = *s == '-';
    s++;
  }
  // Unsigned arithmetic wraps like a 32-bit count and never overflows.
  uint32_t value = 0;
  while (*s >= '0' && *s <= '9') {
    value = value * 10u + static_cast<uint32_t>(*s - '0');
    s++;
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

Text ReplacedBytes(const Text& text, char from, char to) {
  char* bytes = CopyBytes(text.c_str(), text.Length());
  if (bytes == nullptr) return Text();
  for (int i = 0; i < text.Length(); ++i) {
    if (bytes[i] == from) bytes[i] = to;
  }
  Text replaced(bytes, text.Length());
  free(bytes);
  return replaced;
}
