// The rules for names. Stored entry names are turned into paths below a
// destination folder: cleaned as the extractor always did (spaces trimmed,
// "/" made "\", a leading drive dropped) and then checked, so that no entry
// can land outside the destination and none loses part of its path. Names
// the archiver stores must be ones Windows can hold.
#ifndef VEZOVUD_ARCHIVE_ENTRY_NAME_H
#define VEZOVUD_ARCHIVE_ENTRY_NAME_H

#include "runtime/text.h"

// The stored name with leading and trailing spaces (0x20 only) removed and
// every "/" turned into "\".
Text CleanEntryName(const Text& stored);

// Drops a drive prefix: a letter, ":" and "\" at the start of the name
// ("E:\data\a.txt" gives "data\a.txt"). Other names come back as given: a
// ":" anywhere else ("sub\C:\a.txt", "di:\a.txt", "C:a.txt") never cuts
// away what comes before it, and IsSafeEntryName refuses it.
Text DropDrivePrefix(const Text& name);

// 1 when a cleaned, prefix-free name stays below the destination: it does
// not start with "\" (absolute, or a UNC path), holds no zero byte, no ":"
// (a drive or an alternate data stream on Windows, a name Windows cannot
// hold elsewhere), and no component is made of dots
// and spaces with two or more dots ("..", and "... " or ". ." that the
// Windows path rules shorten to ".."), and no component names a Windows
// device (CON, NUL, COM1, "nul.txt" and the like). 0 otherwise. The empty name (the
// entry of the packed folder itself) is safe.
int IsSafeEntryName(const Text& name);

// 1 when the bytes from start to end (one component of a name) name a
// Windows device that no file can be: CON, PRN, AUX, NUL, COM1-COM9,
// LPT1-LPT9 (also with the superscript digits 1, 2 and 3, in the ANSI code
// page or in UTF-8), CONIN$ or CONOUT$, in any case, with or without an
// extension.
int IsDeviceComponent(const Text& name, int start, int end);

// 1 when every byte of name can stand in a Windows file name component:
// no control character and none of \ : * ? " < > |, not the name of a
// Windows device such as NUL or com1.txt, and no final dot or space (which
// Windows drops, so that "a." and "a" become one file). Separators between
// components are the caller's business.
int IsPortableNamePart(const Text& name);

// The folder part of a name: up to and including its last "\", the empty
// text when it has none.
Text FolderPartOf(const Text& name);

// The text behind the last "\" of a name; the whole name when it has none.
Text FilePartOf(const Text& name);

#endif
