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
