// Double-byte-aware scanning: every search of a text for a separator byte
// steps character by character, so that the second byte of a double-byte
// character is never taken for a separator.
#ifndef TOLVANE_APP_DBCS_H
#define TOLVANE_APP_DBCS_H

char* NextChar(const char* text);
// First or last occurrence of a single-byte character, or null.
char* FindByte(const char* text, char byte);
char* FindLastByte(const char* text, char byte);

// The first place at a character boundary of `text` where `sought` begins,
// the letters A to Z in either case; null when there is none. An empty
// `sought` is found at the start.
const char* FindTextNoCase(const char* text, const char* sought);

// Copies `text` into `buffer` of `size` bytes: at most `length` bytes of it,
// never past its terminating zero, and never more than fits before the
// zero that always ends the copy. The copy ends at a character boundary: a
// double-byte character that does not fit whole, or whose second byte is
// missing from the text, is left out. `buffer` may be `text` itself (a text
// cut in place). Returns the length of the copy.
int CopyText(char* buffer, int size, const char* text, int length = 0x7FFFFFFF);

#endif
