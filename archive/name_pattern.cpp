// The name-pattern matcher: one pass over the pattern, starting again at
// the text's beginning after each "|" once an alternative has failed.
#include "archive/name_pattern.h"

namespace {

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
