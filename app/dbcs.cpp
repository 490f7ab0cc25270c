#include "app/dbcs.h"

#include <windows.h>

#include <string.h>

char* NextChar(const char* text) {
    return CharNextExA(CP_ACP, text, 0);
}

char* FindByte(const char* text, char byte) {
    for (const char* p = text; *p; p = NextChar(p)) {
        if (*p == byte) {
            return const_cast<char*>(p);
        }
    }
    return nullptr;
}

char* FindLastByte(const char* text, char byte) {
    const char* last = nullptr;
    for (const char* p = text; *p; p = NextChar(p)) {
        if (*p == byte) {
            last = p;
        }
    }
    return const_cast<char*>(last);
}

static BYTE FoldLetter(BYTE byte) {
    return byte >= 'A' && byte <= 'Z' ? static_cast<BYTE>(byte + ('a' - 'A')) : byte;
}

// Whether `text` begins with `sought`: double-byte characters compared
// whole, single bytes without regard to the case of a letter.
static int BeginsWithNoCase(const BYTE* text, const BYTE* sought) {
    while (*sought) {
        if (IsDBCSLeadByte(*sought)) {
            if (!sought[1] || text[0] != sought[0] || text[1] != sought[1]) {
                return 0;
            }
            text += 2;
            sought += 2;
        } else if (FoldLetter(*text++) != FoldLetter(*sought++)) {
            return 0;
        }
    }
    return 1;
}

const char* FindTextNoCase(const char* text, const char* sought) {
    const BYTE* wanted = reinterpret_cast<const BYTE*>(sought);
    for (const char* p = text;; p = NextChar(p)) {
        if (BeginsWithNoCase(reinterpret_cast<const BYTE*>(p), wanted)) {
            return p;
        }
        if (!*p) {
            return nullptr;
        }
    }
}

int CopyText(char* buffer, int size, const char* text, int length) {
    if (!buffer || size <= 0) {
        return 0;
    }
    int limit = size - 1 < length ? size - 1 : length;
    int end = 0;
    while (text && end < limit && text[end] != 0) {
        if (!IsDBCSLeadByte(static_cast<BYTE>(text[end]))) {
            end++;
        } else if (end + 1 < limit && text[end + 1] != 0) {
            end += 2;
        } else {
            break;
        }
    }
    if (end > 0) {
        memmove(buffer, text, end);
    }
    buffer[end] = 0;
    return end;
}
