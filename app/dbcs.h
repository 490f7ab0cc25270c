// Double-byte-aware scanning: every search of a text for a separator byte
// steps character by character, so that the second byte of a double-byte
// character is never taken for a separator.
#ifndef TOLVANE_APP_DBCS_H
#define TOLVANE_APP_DBCS_H

char* NextChar(const char* text);
// First or last occurrence of a single-byte character, or null.
char* FindByte(const char* text, char byte);
char* FindLastByte(const char* text, char byte);

#endif
