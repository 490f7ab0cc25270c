#include "app/dbcs.h"

#include <windows.h>

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
