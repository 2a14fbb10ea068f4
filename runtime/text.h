// Texts: 8-bit strings in the system code page, owned by value.
// Text compares byte for byte (case matters) and an absent text equals the
// empty one. It allocates with malloc and never throws: when memory runs out a
// text simply stays empty, so the programs need none of the C++ library.
#ifndef VEZOVUD_RUNTIME_TEXT_H
#define VEZOVUD_RUNTIME_TEXT_H

#include <stdint.h>

class Text {
 public:
  Text();
  Text(const char* s);  // NOLINT: implicit on purpose, texts mix with literals
  Text(const char* s, int length);
  Text(const Text& other);
  Text(Text&& other) noexcept;
  ~Text();
  Text& operator=(const Text& other);
  Text& operator=(Text&& other) noexcept;

  // Never null; always NUL-terminated.
  const char* c_str() const { return data_ ? data_ : ""; }
  int Length() const { return length_; }
  bool IsEmpty() const { return length_ == 0; }
  // The byte at index i, or 0 outside the text.
  char At(int i) const { return (i >= 0 && i < length_) ? data_[i] : 0; }
  char Last() const { return At(length_ - 1); }

  // Appending when memory runs out leaves the whole text empty, never a
  // shortened text that could pass for a complete one.
  Text& operator+=(const Text& other);
  Text& operator+=(const char* s);
  Text& operator+=(char c);
  Text& Append(const char* s, int length);

  // The bytes from start, at most count of them (clipped to the text).
  Text Middle(int start, int count) const;
  // Index of the last occurrence of c, or -1.
  int LastIndexOf(char c) const;

 private:
  char* data_;
  int length_;
};

Text operator+(const Text& a, const Text& b);
bool operator==(const Text& a, const Text& b);
bool operator!=(const Text& a, const Text& b);

// A malloc'd, NUL-terminated copy of text's bytes, for module state that
// must stay plain data (a variable with a constructor or destructor needs
// the C runtime's start-up, which the stub goes without). Null for the empty
// text or when memory is short; the caller frees it with free.
char* CopyToCString(const Text& text);

// text with every byte from replaced by to.
Text ReplacedBytes(const Text& text, char from, char to);

// The last n characters of text; n below 0 counts as 0, and n beyond the
// length gives the whole text.
Text RightPart(const Text& text, int n);

// The text after the last "\" or "/" of path. A leading double quote is
// skipped, and the part ends before the next double quote. A path that ends
// in a separator gives the empty text.
Text FileNamePart(const Text& path);

// Signed decimal text of value: "-" for negatives, no leading zeros, "0" for
// zero. -2147483648 gives "-2147483648".
Text DecimalText(int32_t value);

// Leading spaces and tabs are skipped, then an optional "-" or "+", then
// decimal digits up to the first other character. No digits give 0. Values
// beyond the 32-bit range wrap as a 32-bit count would.
int32_t IntegerValue(const Text& text);

#endif
