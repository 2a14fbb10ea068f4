// The name patterns of the Folder archiver's walk: "*", "?" and alternatives
// split by "|", with letters compared without regard to case. No state.
#ifndef VEZOVUD_ARCHIVE_NAME_PATTERN_H
#define VEZOVUD_ARCHIVE_NAME_PATTERN_H

#include "runtime/text.h"

// 1 when text matches pattern ("*", "?", alternatives split by "|"),
// letters compared without regard to case; else 0. A text equal to the
// pattern matches; any other text without a "." is matched with one added at
// its end. A "*" before a literal takes at least one character.
int MatchNamePattern(const Text& text, const Text& pattern);

// 1 when text matches pattern, a pattern of exclusions: "*" takes any run of
// characters, none too, "?" one character (a whole UTF-8 sequence), and
// alternatives are split by "|". Unlike MatchNamePattern it compares the
// bytes as given (the caller folds both sides for a comparison without
// regard to case), adds no dot, and any "*" may take any characters but,
// with crossFolders 0, a "/". 0 otherwise.
int MatchPathPattern(const Text& text, const Text& pattern, int crossFolders);

// text with the capitals A to Z and the bytes 0xC0 to 0xDE (the Latin-1
// capitals) made small, as MatchNamePattern compares letters.
Text LowerCasedText(const Text& text);

#endif
