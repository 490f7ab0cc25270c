#include "sysinfo/processnames.h"
#include "app/dbcs.h"
#include "sysinfo/platform.h"

#include <stdlib.h>
#include <string.h>

// Converts a wide text of the given length and cuts it into the buffer at a
// character boundary.
void CopyWideText(char* buffer, DWORD size, const WCHAR* text, int length) {
    char converted[2 * MAX_PATH];
    if (length > MAX_PATH) {
        length = MAX_PATH;
    }
    // Half a surrogate pair is not converted.
    if (length > 0 && text[length - 1] >= 0xD800 && text[length - 1] < 0xDC00) {
        length--;
    }
    int bytes = length > 0 ? WideCharToMultiByte(CP_ACP, 0, text, length, converted,
                                                 sizeof converted, nullptr, nullptr)
                           : 0;
    CopyText(buffer, static_cast<int>(size), converted, bytes);
}

// The module's name, which the process itself can make as long as it
// likes. The system's wide call writes its terminating zero one character
// past what it is told when the name fills it, and its ANSI call passes its
// own buffer of exactly the given size to the wide one: the wide call is
// used where it exists, told one character less than its buffer holds.
void ReadModuleBaseName(HANDLE process, HMODULE module, char* buffer, DWORD size) {
    buffer[0] = 0;
    DWORD room = size < MAX_PATH ? size : MAX_PATH;
    if (ntApi.getModuleBaseNameW) {
        WCHAR wide[MAX_PATH + 1];
        DWORD length = ntApi.getModuleBaseNameW(process, module, wide, room);
        CopyWideText(buffer, size, wide, static_cast<int>(length < room ? length : room));
        return;
    }
    char text[MAX_PATH + 1];
    DWORD length = ntApi.getModuleBaseNameA(process, module, text, room);
    CopyText(buffer, static_cast<int>(size), text, static_cast<int>(length < room ? length : room));
}

void NormalizeModulePath(HANDLE process, HMODULE module, char* buffer, DWORD size) {
    if (size == 0) {
        return;
    }
    buffer[0] = 0;
    if (ntApi.getModuleFileNameExA) {
        // The file name comes from the process's own loader entry: the call
        // gets one byte less than the buffer holds.
        char text[MAX_PATH + 1];
        DWORD room = size < MAX_PATH ? size : MAX_PATH;
        DWORD length = ntApi.getModuleFileNameExA(process, module, text, room);
        CopyText(buffer, static_cast<int>(size), text,
                 static_cast<int>(length < room ? length : room));
    }
    NormalizePathText(buffer, size);
}

void NormalizePathText(char* buffer, DWORD size) {
    // Drive paths and network paths are ordinary already.
    if (buffer[0] != '\\' || buffer[1] == '\\') {
        return;
    }
    if (strncmp(buffer, "\\??\\", 4) == 0) {
        memmove(buffer, buffer + 4, strlen(buffer + 4) + 1);
        return;
    }
    // "\Name\rest": Name is an environment variable such as SystemRoot.
    char* copy = _strdup(buffer + 1);
    if (!copy) {
        return;
    }
    char* separator = FindByte(copy, '\\');
    if (separator && separator != copy) {
        *separator = 0;
        const char* rest = separator + 1;
        char value[260];
        DWORD valueLength = GetEnvironmentVariableA(copy, value, sizeof value);
        if (valueLength != 0 && valueLength < sizeof value &&
            strlen(rest) + valueLength + 1 < size) {
            wsprintfA(buffer, "%s\\%s", value, rest);
        }
    }
    free(copy);
}

int DevicePathToDrivePath(char* buffer, DWORD size) {
    if (size < 3 || !ntApi.queryDosDeviceA || buffer[0] != '\\') {
        return 0;
    }
    DWORD drives = GetLogicalDrives();
    for (int letter = 0; letter < 26; letter++) {
        if (!(drives & (1u << letter))) {
            continue;
        }
        char drive[3] = {static_cast<char>('A' + letter), ':', 0};
        char device[MAX_PATH + 1];
        DWORD length = ntApi.queryDosDeviceA(drive, device, MAX_PATH);
        if (length == 0 || length > MAX_PATH) {
            continue;
        }
        device[length] = 0;
        size_t deviceLength = strlen(device);
        if (deviceLength == 0 || _strnicmp(buffer, device, deviceLength) != 0 ||
            (buffer[deviceLength] != '\\' && buffer[deviceLength] != 0)) {
            continue;
        }
        // "X:" takes the device's place: the text only gets shorter.
        if (deviceLength < 2) {
            return 0;
        }
        buffer[0] = drive[0];
        buffer[1] = ':';
        memmove(buffer + 2, buffer + deviceLength, strlen(buffer + deviceLength) + 1);
        return 1;
    }
    return 0;
}

// The path of the process's executable without its module list: the
// drive path where the system gives it, else the kernel's device path with
// its device turned into the drive letter.
void ReadImagePath(HANDLE process, char* buffer, DWORD size) {
    buffer[0] = 0;
    char text[MAX_PATH + 1];
    DWORD room = size < MAX_PATH ? size : MAX_PATH;
    if (ntApi.queryFullProcessImageNameA) {
        DWORD length = room;
        if (ntApi.queryFullProcessImageNameA(process, 0, text, &length)) {
            CopyText(buffer, static_cast<int>(size), text,
                     static_cast<int>(length < room ? length : room));
            return;
        }
    }
    if (ntApi.getProcessImageFileNameA) {
        DWORD length = ntApi.getProcessImageFileNameA(process, text, room);
        CopyText(buffer, static_cast<int>(size), text,
                 static_cast<int>(length < room ? length : room));
        DevicePathToDrivePath(buffer, size);
    }
}
