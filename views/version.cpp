#include "views/version.h"
#include "app/dbcs.h"
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/wow64.h"
#include "views/processlist.h"

#include <stdlib.h>
#include <string.h>

const VersionKey versionDialogKeys[] = {
    {IDC_VER_FILE_VERSION, "FileVersion", nullptr},
    {IDC_VER_COMPANY, "CompanyName", nullptr},
    {IDC_VER_INTERNAL_NAME, "InternalName", nullptr},
    {IDC_VER_PRODUCT_VERSION, "ProductVersion", nullptr},
    {IDC_VER_PRODUCT_NAME, "ProductName", nullptr},
    {IDC_VER_DESCRIPTION, "FileDescription", nullptr},
    {IDC_VER_ORIGINAL_NAME, "OriginalFilename", nullptr},
    {0, nullptr, nullptr},
};

// Description, or failing that the product name, or the original file name;
// then the product version and the copyright.
const VersionKey versionSummaryKeys[] = {
    {0, "FileDescription", "%s "},  {-1, "ProductName", "%s "},  {-1, "OriginalFilename", "%s "},
    {0, "ProductVersion", "%s.  "}, {0, "LegalCopyRight", "%s"}, {0, nullptr, nullptr},
};

enum {
    LONGEST_SUMMARY_VALUE = 259,
    NODE_HEADER_SIZE = 6,
    ANSI_NODE_HEADER_SIZE = 4,
    STRING_DEPTH = 3,
};

static DWORD BlockWord(const BYTE* block, DWORD offset) {
    return block[offset] | (block[offset + 1] << 8);
}

static DWORD AlignNode(DWORD offset) {
    return (offset + 3) & ~3u;
}

// The nodes of a block from `start` to `end`, and below them down to the
// strings: each lies within its parent, its key ends inside it and its
// value inside the block, so a query reads nothing outside the block. A
// wide node has a type after its value length, a key of wide characters and
// a text value counted in characters; a node of the 16-bit layout has no
// type and a key of bytes.
static bool NodesFit(const BYTE* block, DWORD start, DWORD end, DWORD blockEnd, int depth,
                     bool wide) {
    DWORD headerSize = wide ? NODE_HEADER_SIZE : ANSI_NODE_HEADER_SIZE;
    DWORD charSize = wide ? 2 : 1;
    for (DWORD node = start; node < end;) {
        if (end - node < headerSize) {
            return false;
        }
        DWORD length = BlockWord(block, node);
        if (length < headerSize || length > end - node) {
            return false;
        }
        DWORD nodeEnd = node + length;
        DWORD key = node + headerSize;
        while (key + charSize <= nodeEnd && (wide ? BlockWord(block, key) : block[key]) != 0) {
            key += charSize;
        }
        if (key + charSize > nodeEnd) {
            return false;
        }
        DWORD value = AlignNode(key + charSize);
        DWORD valueBytes = BlockWord(block, node + 2);
        if (wide && BlockWord(block, node + 4) == 1) {
            valueBytes *= 2;
        }
        if (value > blockEnd || valueBytes > blockEnd - value) {
            return false;
        }
        DWORD children = AlignNode(value + valueBytes);
        if (depth < STRING_DEPTH && children < nodeEnd &&
            !NodesFit(block, children, nodeEnd, blockEnd, depth + 1, wide)) {
            return false;
        }
        node = AlignNode(nodeEnd);
    }
    return true;
}

// Whether a block can be queried: its declared length fits the size the
// system reported for it, and its nodes fit in it. A wide block (the type
// where a 16-bit block has its key) also needs room after it for the ANSI
// copies the system makes of its texts, as much again and four bytes.
static bool VersionBlockFits(const BYTE* block, DWORD size) {
    if (size < NODE_HEADER_SIZE) {
        return false;
    }
    DWORD rootLength = BlockWord(block, 0);
    bool wide = block[4] < ' ';
    return (wide ? rootLength * 2 + 4 : rootLength) <= size &&
           NodesFit(block, 0, rootLength, rootLength, 0, wide);
}

// A value's text, copied by the length the system reported: the value need
// not end in a zero, and its text ends at a zero inside it. Null when the
// value is missing or empty; free() the copy.
static char* QueryText(void* block, const char* query, int* textLength) {
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block, query, reinterpret_cast<void**>(&value), &length) || length == 0 ||
        !value) {
        return nullptr;
    }
    char* text = static_cast<char*>(malloc(length + 1));
    if (!text) {
        return nullptr;
    }
    *textLength = CopyText(text, static_cast<int>(length + 1), value, static_cast<int>(length));
    if (*textLength == 0) {
        free(text);
        return nullptr;
    }
    return text;
}

static void WalkKeyTable(void* block, const char* prefix, HWND dialog, const VersionKey* keys,
                         char* output, int size) {
    int previousMissing = 0;
    int remaining = size;
    for (const VersionKey* row = keys; row->key; row++) {
        // The rest of a fallback chain is skipped once a key produced a value.
        if (row->control < 0 && !previousMissing) {
            continue;
        }
        previousMissing = 1;
        char query[300];
        wsprintfA(query, "%s\\%s", prefix, row->key);
        int length = 0;
        char* value = QueryText(block, query, &length);
        if (!value) {
            continue;
        }
        if (dialog) {
            HWND control = GetDlgItem(dialog, row->control);
            if (control) {
                SetWindowTextA(control, value);
            }
            previousMissing = 0;
        } else if (output && length <= LONGEST_SUMMARY_VALUE) {
            char piece[600];
            int pieceLength = wsprintfA(piece, row->format ? row->format : "%s\t", value);
            // Once a piece did not fit, no later piece is appended either.
            remaining -= pieceLength;
            if (remaining > 0) {
                strcat(output, piece);
                previousMissing = 0;
            }
        }
        free(value);
    }
}

// The file's version resource (free() it), or null; the file is the one the
// system named.
static void* ReadVersionBlock(const char* path) {
    char native[MAX_PATH];
    NativeSystemPath(path, native, sizeof native);
    DWORD handle = 0;
    DWORD blockSize = GetFileVersionInfoSizeA(native, &handle);
    void* block = blockSize ? malloc(blockSize) : nullptr;
    if (block && (!GetFileVersionInfoA(native, handle, blockSize, block) ||
                  !VersionBlockFits(static_cast<const BYTE*>(block), blockSize))) {
        free(block);
        block = nullptr;
    }
    return block;
}

void ReadVersionStrings(const char* path, HWND dialog, const VersionKey* keys, char* output,
                        int size) {
    if (output && size != 0) {
        output[0] = 0;
    }
    void* block = ReadVersionBlock(path);
    if (!block) {
        return;
    }
    WORD* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block, "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                        &length) ||
        !translation || length < 4) {
        free(block);
        return;
    }
    char prefix[64];
    wsprintfA(prefix, "\\StringFileInfo\\%04x%04x", translation[0], translation[1]);
    if (dialog) {
        HWND languageControl = GetDlgItem(dialog, IDC_VER_LANGUAGE);
        if (languageControl) {
            char language[261];
            language[0] = 0;
            VerLanguageNameA(translation[0], language, 260);
            SetWindowTextA(languageControl, language);
        }
    }
    WalkKeyTable(block, prefix, dialog, keys, dialog ? nullptr : output, size);
    free(block);
}

void GetVersionSummary(const char* path, const char* fallbackName, char* output, int size) {
    if (!output || size == 0) {
        return;
    }
    output[0] = 0;
    if (path) {
        ReadVersionStrings(path, nullptr, versionSummaryKeys, output, size);
    }
    if (output[0] == 0 && fallbackName) {
        CopyText(output, size, fallbackName);
    }
}

int ReadFileTime(const char* path, FILETIME* time, int which) {
    memset(time, 0, sizeof *time);
    SystemFileRead redirection;
    BeginSystemFileRead(&redirection);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EndSystemFileRead(&redirection);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    BOOL read = which == 0 ? GetFileTime(file, time, nullptr, nullptr)
                           : GetFileTime(file, nullptr, nullptr, time);
    CloseHandle(file);
    if (!read) {
        memset(time, 0, sizeof *time);
        return 0;
    }
    return 1;
}

int FormatFileTime(const FILETIME* time, char* buffer, int size, const char* separator) {
    if (time->dwLowDateTime == 0 && time->dwHighDateTime == 0) {
        return 0;
    }
    FILETIME local;
    SYSTEMTIME system;
    if (!FileTimeToLocalFileTime(time, &local) || !FileTimeToSystemTime(&local, &system)) {
        return 0;
    }
    if (!GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &system, nullptr, buffer, size)) {
        return 0;
    }
    int length = static_cast<int>(strlen(buffer) + strlen(separator));
    if (length < size) {
        strcat(buffer, separator);
    } else {
        length = static_cast<int>(strlen(buffer));
    }
    if (GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &system, nullptr, buffer + length,
                       size - length)) {
        return 1;
    }
    if (length + 3 < size) {
        strcat(buffer, "---");
    }
    return 0;
}

int GetFileTimeText(const char* path, char* buffer, int size, const char* separator, int which) {
    FILETIME time;
    ReadFileTime(path, &time, which);
    return FormatFileTime(&time, buffer, size, separator);
}

INT_PTR CALLBACK VersionDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        ApplyDialogFont(dialog);
        char text[64];
        text[0] = 0;
        if (GetDlgItem(dialog, IDC_VER_CREATED)) {
            GetFileTimeText(detailText, text, sizeof text, " ", 0);
            SetDlgItemTextA(dialog, IDC_VER_CREATED, text);
        }
        if (GetDlgItem(dialog, IDC_VER_MODIFIED)) {
            GetFileTimeText(detailText, text, sizeof text, " ", 1);
            SetDlgItemTextA(dialog, IDC_VER_MODIFIED, text);
        }
        ReadVersionStrings(detailText, dialog, versionDialogKeys, nullptr, 0);
        return TRUE;
    }
    default:
        return EndDetailDialog(dialog, message, wParam);
    }
}

LRESULT OpenVersionWindow(HWND, WPARAM, WPARAM, LPARAM) {
    DWORD processId = GetSelectedProcess(listWindow, detailText, 260);
    if (processId == 0) {
        return 0;
    }
    selectedProcessId = processId;
    DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_VERSION), mainWindow, VersionDialog, 0);
    return 0;
}
