// Names in the encodings archives carry them in: UTF-8 (general-purpose bit
// 11, or a Unicode Path field) and the Windows ANSI code page, most often
// Windows-1252, for names stored without the flag. Portable text work only;
// what the system does with a name is the file services' business.
#ifndef VEZOVUD_RUNTIME_NAME_ENCODING_H
#define VEZOVUD_RUNTIME_NAME_ENCODING_H

#include "runtime/text.h"

// 1 when every byte is below 0x80.
int IsAsciiText(const Text& text);

// 1 when text is well-formed UTF-8: no stray continuation bytes, no overlong
// forms, no surrogates, nothing above U+10FFFF. The empty text is.
int IsUtf8Text(const Text& text);

// The UTF-8 form of text read as Windows-1252. The five bytes that code page
// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the code points of
// the same value, as Windows itself maps them.
Text Windows1252ToUtf8(const Text& text);

// The name with its letters upper-cased the way Windows compares names: the
// ASCII letters, and in well-formed UTF-8 the letters of Latin-1, Latin
// Extended-A, Greek and Cyrillic. Other bytes stay as they are. Two names
// that Windows takes for one give the same result.
Text UpperCasedName(const Text& name);

// A name made safe to print: control bytes (below 0x20, and 0x7F), the
// bytes of the C1 controls U+0080..U+009F in UTF-8, and bytes that are no
// UTF-8 become "\xNN", so a stored name can neither forge lines of output
// nor send terminal escapes.
Text PrintableName(const Text& name);

#endif
