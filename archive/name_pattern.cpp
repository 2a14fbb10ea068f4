// The name-pattern matcher: one pass over the pattern, starting again at
// the text's beginning after each "|" once an alternative has failed.
#include "archive/name_pattern.h"

#include <stdlib.h>
#include <string.h>

namespace {

// The bytes of the character that starts at index of text: a whole UTF-8
// sequence, or one byte of anything else.
int CharacterBytes(const Text& text, int index) {
  unsigned char lead = static_cast<unsigned char>(text.At(index));
  int bytes = lead >= 0xF0 && lead <= 0xF7 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (lead >= 0xF8) bytes = 1;
  int left = text.Length() - index;
  return bytes < left ? bytes : left;
}

// One alternative, pattern[from .. to), against the whole text: a row of
// marks per character of text, mark j saying that the text so far matches
// the pattern's first j bytes. Pattern literals are compared byte by byte;
// "?" takes a whole character.
int MatchAlternative(const Text& text, const Text& pattern, int from, int to, int crossFolders) {
  int width = to - from + 1;
  unsigned char* row = static_cast<unsigned char*>(malloc(static_cast<size_t>(width) * 2));
  if (row == nullptr) return 0;
  unsigned char* next = row + width;
  memset(row, 0, static_cast<size_t>(width));
  row[0] = 1;
  for (int j = 1; j < width; ++j) row[j] = row[j - 1] && pattern.At(from + j - 1) == '*';
  int i = 0;
  while (i < text.Length()) {
    int bytes = CharacterBytes(text, i);
    int slash = text.At(i) == '/';
    memset(next, 0, static_cast<size_t>(width));
    // Literals of several bytes are followed byte by byte: a mark only
    // moves on while the pattern's next bytes equal the character's.
    for (int j = 1; j < width; ++j) {
      char x = pattern.At(from + j - 1);
      if (x == '*') {
        next[j] = next[j - 1] || (row[j] && (crossFolders || !slash));
      } else if (x == '?') {
        next[j] = row[j - 1] && (crossFolders || !slash);
      } else if (row[j - 1] && j - 1 + bytes < width) {
        int same = 1;
        for (int k = 0; k < bytes && same; ++k) same = pattern.At(from + j - 1 + k) == text.At(i + k);
        if (same) next[j - 1 + bytes] = 1;
      }
    }
    unsigned char* swap = row;
    row = next;
    next = swap;
    i += bytes;
  }
  int matched = row[width - 1];
  free(row < next ? row : next);
  return matched;
}

char LowerCasedByte(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE)) u = static_cast<unsigned char>(u + 32);
  return static_cast<char>(u);
}

}  // namespace

Text LowerCasedText(const Text& text) {
  Text result;
  for (int i = 0; i < text.Length(); ++i) result += LowerCasedByte(text.At(i));
  return result;
}

int MatchPathPattern(const Text& text, const Text& pattern, int crossFolders) {
  int from = 0;
  for (int i = 0; i <= pattern.Length(); ++i) {
    if (i < pattern.Length() && pattern.At(i) != '|') continue;
    if (i > from && MatchAlternative(text, pattern, from, i, crossFolders)) return 1;
    from = i + 1;
  }
  return 0;
}

int MatchNamePattern(const Text& textIn, const Text& patternIn) {
  Text text = LowerCasedText(textIn);
  Text pattern = LowerCasedText(patternIn);
  if (text == pattern) return 1;
  if (text.LastIndexOf('.') < 0) text += '.';
  const int textLength = text.Length();
  const int patternLength = pattern.Length();
  // t and p count from 1: t is the next character of text to match, p the
  // pattern character just taken; past the text's end there is no character.
  int t = 1;
  int p = 0;
  int failed = 0;
  int star = 0;
  int matched = 0;
  while (p < patternLength && !matched) {
    ++p;
    char x = pattern.At(p - 1);
    if (x == '*') {
      if (p == patternLength)
        matched = 1;
      else
        star = 1;
    } else if (x == '|') {
      if (t == textLength + 1) matched = 1;
    } else if (x == '?') {
      if (t <= textLength)
        ++t;
      else
        failed = 1;
    } else {
      if (star) {
        star = 0;
        // A "*" before a literal takes at least one character.
        do {
          ++t;
        } while (t <= textLength && text.At(t - 1) != x);
      }
      if (t <= textLength && text.At(t - 1) == x)
        ++t;
      else
        failed = 1;
    }
    if (matched) break;
    if (!failed && t == textLength + 1 && p == patternLength) {
      matched = 1;
    } else if (failed) {
      int next = -1;
      for (int i = p + 1; i <= patternLength; ++i) {
        if (pattern.At(i - 1) == '|') {
          next = i;
          break;
        }
      }
      if (next < 0) break;
      p = next;
      failed = 0;
      star = 0;
      t = 1;
    }
  }
  return matched;
}
