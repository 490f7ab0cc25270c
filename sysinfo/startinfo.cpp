#include "sysinfo/startinfo.h"
#include "app/dbcs.h"
#include "app/startup.h"
#include "res/resource.h"
#include "sysinfo/platform.h"
#include "sysinfo/remotelayout.h"
#include "sysinfo/wow64.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static const DWORD SHARED_ARENA_START = 0x80000000;
static const DWORD SHARED_ARENA_END = 0xC0000000;

enum {
    QUERY_AND_READ = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, // 0x410
    DATABASE_ENVIRONMENT_RECORD = 0x40, // offset in a Windows 95 process database
    OWN_THREAD_DATABASE = 0x30,         // offset in the thread information block
};

const WCHAR* startupEnvironmentAddress;
const WCHAR* startupDirectoryAddress;
int startupCalibrated;

static const void* AddressOf(DWORD value) {
    return reinterpret_cast<const void*>(static_cast<DWORD_PTR>(value));
}

static ULONG_PTR ValueOf(const void* address) {
    return reinterpret_cast<ULONG_PTR>(address);
}

char* ReadRemoteBlock(HANDLE process, const void* address, DWORD limit, DWORD* bytes) {
    *bytes = 0;
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQueryEx(process, address, &region, sizeof region) != sizeof region ||
        region.State != MEM_COMMIT) {
        return nullptr;
    }
    ULONG_PTR regionEnd = ValueOf(region.BaseAddress) + region.RegionSize;
    ULONG_PTR left = regionEnd - ValueOf(address);
    DWORD size = left > limit ? limit : static_cast<DWORD>(left);
    if (size == 0) {
        return nullptr;
    }
    char* buffer = static_cast<char*>(malloc(size + 2));
    SIZE_T read = 0;
    if (!buffer || !ReadProcessMemory(process, address, buffer, size, &read)) {
        free(buffer);
        return nullptr;
    }
    // Not a terminator to rely on: the reader goes by the count.
    buffer[read] = 0;
    buffer[read + 1] = 0;
    *bytes = static_cast<DWORD>(read);
    return buffer;
}

WCHAR* ReadRemoteWide(HANDLE process, const void* address, DWORD* count) {
    DWORD bytes = 0;
    *count = 0;
    WCHAR* block =
        reinterpret_cast<WCHAR*>(ReadRemoteBlock(process, address, REMOTE_READ_LIMIT, &bytes));
    if (!block) {
        return nullptr;
    }
    if (bytes < sizeof(WCHAR) || block[0] == 0) {
        free(block);
        return nullptr;
    }
    *count = bytes / sizeof(WCHAR);
    return block;
}

char* WideRangeToAnsi(const WCHAR* first, const WCHAR* last) {
    if (!first || first >= last) {
        return nullptr;
    }
    int count = static_cast<int>(last - first);
    int length = WideCharToMultiByte(CP_ACP, 0, first, count, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return nullptr;
    }
    char* text = static_cast<char*>(malloc(length + 1));
    if (!text) {
        return nullptr;
    }
    if (WideCharToMultiByte(CP_ACP, 0, first, count, text, length, nullptr, nullptr) != length) {
        free(text);
        return nullptr;
    }
    text[length] = 0;
    return text;
}

static int SetConvertedText(HWND control, const WCHAR* first, const WCHAR* last) {
    char* text = WideRangeToAnsi(first, last);
    if (!text) {
        return 0;
    }
    SetWindowTextA(control, text);
    free(text);
    return 1;
}

static const WCHAR* SkipChars(const WCHAR* p, const WCHAR* end, int zeros) {
    while (p < end && (*p == 0) == (zeros != 0)) {
        p++;
    }
    return p;
}

// Adds an environment row; the last string of a block that the read limit
// cut says so, as the row may hold only part of it and rows may be missing.
static void AddEnvironmentRow(HWND list, const char* text, int cut) {
    if (!cut) {
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        return;
    }
    char marker[260];
    marker[0] = 0;
    LoadStringA(appInstance, IDS_ENVIRONMENT_CUT, marker, sizeof marker);
    size_t length = strlen(text);
    char* row = static_cast<char*>(malloc(length + strlen(marker) + 1));
    if (row) {
        memcpy(row, text, length);
        strcpy(row + length, marker);
    }
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row ? row : text));
    free(row);
}

// Adds the zero-separated strings of a wide environment block, up to the
// first empty one or the block's end. `cutByLimit`: the block is as long as
// one read may be, so what it does not end is cut. 1 when any string was
// converted.
static int AddWideEnvironment(HWND list, const WCHAR* block, DWORD count, int leaveOutDrives,
                              int cutByLimit) {
    int result = 0;
    const WCHAR* end = block + count;
    for (const WCHAR* p = block; p < end && *p != 0;) {
        const WCHAR* stringEnd = SkipChars(p, end, 0);
        char* text = WideRangeToAnsi(p, stringEnd);
        if (text) {
            result = 1;
            // "=C:=C:\WORK" and the like: per-drive directories, not variables.
            if (!(leaveOutDrives && text[0] == '=')) {
                AddEnvironmentRow(list, text, cutByLimit && stringEnd + 1 >= end);
            }
            free(text);
        }
        p = stringEnd + 1;
    }
    return result;
}

static int ReadWideEnvironment(HANDLE process, const void* address, HWND list, int leaveOutDrives) {
    DWORD count = 0;
    WCHAR* block = ReadRemoteWide(process, address, &count);
    if (!block) {
        return 0;
    }
    int result = AddWideEnvironment(list, block, count, leaveOutDrives,
                                    count * sizeof(WCHAR) >= REMOTE_READ_LIMIT);
    free(block);
    return result;
}

const WCHAR* FindDirectoryArea(const WCHAR* commandLine) {
    HANDLE self = OpenProcess(QUERY_AND_READ, FALSE, GetCurrentProcessId());
    if (!self) {
        return nullptr;
    }
    const WCHAR* found = nullptr;
    MEMORY_BASIC_INFORMATION region;
    if (commandLine && VirtualQueryEx(self, commandLine, &region, sizeof region) == sizeof region &&
        region.State == MEM_COMMIT && commandLine >= region.BaseAddress) {
        const WCHAR* base = static_cast<const WCHAR*>(region.BaseAddress);
        const WCHAR* p = commandLine;
        int inside = 1;
        for (int run = 0; run < 5 && inside; run++) {
            int overText = run % 2 == 0;
            while ((*p != 0) == (overText != 0)) {
                if (p == base) {
                    inside = 0;
                    break;
                }
                p--;
            }
        }
        if (inside) {
            found = p - (STARTUP_DIRECTORY_CHARS - 1);
        }
    }
    CloseHandle(self);
    return found;
}

int CalibrateStartupAddresses() {
    if (!startupCalibrated) {
        const WCHAR* commandLine = GetCommandLineW();
        // Kept for the life of the program: its address is what counts.
        startupEnvironmentAddress = GetEnvironmentStringsW();
        startupDirectoryAddress = FindDirectoryArea(commandLine);
        startupCalibrated = 1;
    }
    return startupDirectoryAddress || startupEnvironmentAddress;
}

static int ImagePathMatches(HANDLE process, const WCHAR* first, const WCHAR* last) {
    HMODULE module = nullptr;
    DWORD needed = 0;
    if (!ntApi.enumProcessModules || !ntApi.getModuleFileNameExW ||
        !ntApi.enumProcessModules(process, &module, sizeof module, &needed)) {
        return 0;
    }
    // The name comes from the process's own loader entry: the call gets one
    // character less than the buffer holds.
    WCHAR fileName[MAX_PATH];
    DWORD length = ntApi.getModuleFileNameExW(process, module, fileName, MAX_PATH - 1);
    if (length >= MAX_PATH) {
        length = MAX_PATH - 1;
    }
    fileName[length] = 0;
    size_t compared = static_cast<size_t>(last - first);
    if (compared > MAX_PATH) {
        compared = MAX_PATH;
    }
    return wcsncmp(first, fileName, compared) == 0;
}

// The directory area, DLL search path, image path and command line at the
// address learnt from Tolvane's own process; nothing unless the image path
// there is the process's own.
static int ReadAtDirectoryAddress(HANDLE process, HWND commandLine, HWND directory) {
    DWORD count = 0;
    WCHAR* block = ReadRemoteWide(process, startupDirectoryAddress, &count);
    if (!block) {
        return 0;
    }
    int result = 0;
    const WCHAR* end = block + count;
    const WCHAR* imagePath = block + STARTUP_DIRECTORY_CHARS;
    if (count > STARTUP_DIRECTORY_CHARS && *imagePath != 0) {
        imagePath = SkipChars(SkipChars(imagePath, end, 0), end, 1);
        const WCHAR* imageEnd = SkipChars(imagePath, end, 0);
        if (imagePath < end && imagePath != imageEnd &&
            ImagePathMatches(process, imagePath, imageEnd)) {
            const WCHAR* line = SkipChars(imageEnd, end, 1);
            result |= SetConvertedText(commandLine, line, SkipChars(line, end, 0));
            result |= SetConvertedText(directory, block, block + STARTUP_DIRECTORY_CHARS);
        }
    }
    free(block);
    return result;
}

static int SetRemoteString(const RemoteProcess& remote, HWND control, const RemoteString& string,
                           ULONGLONG base) {
    char* text = ReadRemoteString(remote, string, base);
    if (!text) {
        return 0;
    }
    SetWindowTextA(control, text);
    free(text);
    return 1;
}

// The process's own parameter block, in the process's own width, and its
// address; 0 when the process or a read cannot be reached.
static int ReadParameterBlock(HANDLE process, RemoteProcess* remote, BYTE* block,
                              ULONGLONG* address) {
    if (!FindRemoteProcess(process, remote)) {
        return 0;
    }
    const RemoteLayout& layout = *remote->layout;
    *address = ReadRemotePointer(*remote, remote->peb + layout.pebParameters);
    return *address != 0 && ReadRemote(*remote, *address, block, layout.parametersSize);
}

int ReadOwnParameterBlock(HANDLE process, HWND commandLine, HWND environment, HWND directory,
                          int leaveOutDrives) {
    RemoteProcess remote;
    BYTE block[REMOTE_BLOCK_SIZE];
    ULONGLONG address = 0;
    if (!ReadParameterBlock(process, &remote, block, &address)) {
        return 0;
    }
    const RemoteLayout& layout = *remote.layout;
    DWORD flags = 0;
    memcpy(&flags, block + layout.parametersFlags, sizeof flags);
    // A block not yet normalised holds offsets from its own start.
    ULONGLONG base = (flags & PARAMETERS_NORMALIZED) ? 0 : address;
    int result = SetRemoteString(remote, commandLine,
                                 StringAt(layout, block, layout.parametersCommandLine), base);
    result |= SetRemoteString(remote, directory,
                              StringAt(layout, block, layout.parametersDirectory), base);
    ULONGLONG environmentAddress = PointerAt(layout, block, layout.parametersEnvironment);
    if (result && environment && environmentAddress) {
        DWORD bytes = 0;
        WCHAR* wide = reinterpret_cast<WCHAR*>(
            ReadRemoteBlockPaged(remote, environmentAddress, REMOTE_READ_LIMIT, 1, &bytes));
        if (wide) {
            AddWideEnvironment(environment, wide, bytes / sizeof(WCHAR), leaveOutDrives,
                               bytes >= REMOTE_READ_LIMIT);
            free(wide);
        }
    }
    return result;
}

// Where the process keeps its environment: the address its own parameter
// block names. Tolvane's own environment address holds only where the
// system gives every process its block at the same place, not where
// GetEnvironmentStringsW answers with a copy.
static const void* EnvironmentAddressOf(HANDLE process) {
    RemoteProcess remote;
    BYTE block[REMOTE_BLOCK_SIZE];
    ULONGLONG address = 0;
    if (!ReadParameterBlock(process, &remote, block, &address)) {
        return startupEnvironmentAddress;
    }
    return reinterpret_cast<const void*>(static_cast<ULONG_PTR>(
        PointerAt(*remote.layout, block, remote.layout->parametersEnvironment)));
}

// A 64-bit process: its own parameter block where the system's 32-bit layer
// reaches it; otherwise one line that says it cannot be read, rather than
// empty controls that look like a process without start-up information.
static int ReadSixtyFourBitStartupInfo(HANDLE process, HWND commandLine, HWND environment,
                                       HWND directory) {
    if (CanReadSixtyFourBit()) {
        return ReadOwnParameterBlock(process, commandLine, environment, directory, 1);
    }
    if (!environment) {
        return 0;
    }
    char line[260];
    line[0] = 0;
    LoadStringA(appInstance, IDS_STARTUP_UNREADABLE_64, line, sizeof line);
    SendMessageA(environment, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    return 1;
}

int ReadStartupInfoNt(DWORD processId, HWND commandLine, HWND environment, HWND directory) {
    if (!CalibrateStartupAddresses()) {
        return 0;
    }
    HANDLE process = OpenProcess(QUERY_AND_READ, FALSE, processId);
    if (!process) {
        return 0;
    }
    int result = 0;
    if (IsSixtyFourBitProcess(process)) {
        result = ReadSixtyFourBitStartupInfo(process, commandLine, environment, directory);
    } else if (startupDirectoryAddress && ReadAtDirectoryAddress(process, commandLine, directory)) {
        result = 1;
        const void* environmentAddress = EnvironmentAddressOf(process);
        if (environmentAddress && environment) {
            ReadWideEnvironment(process, environmentAddress, environment, 1);
        }
    } else {
        // The process's parameters lie elsewhere than Tolvane's own (address
        // randomisation, or a system that places them per process): ask the
        // process where they are.
        result = ReadOwnParameterBlock(process, commandLine, environment, directory, 1);
    }
    CloseHandle(process);
    return result;
}

DWORD ProcessDatabaseOf(DWORD processId) {
#ifdef _WIN64
    // No such records exist for a 64-bit program.
    (void)processId;
    return 0;
#else
    // The thread information block is always there: its field is read directly.
    DWORD own;
    __asm__("movl %%fs:0x30, %0" : "=r"(own));
    // A process id is its database's address XOR a constant of the system.
    DWORD database = own ^ GetCurrentProcessId() ^ processId;
    // The system keeps every process database in the shared arena. Outside
    // it the thread block does not lead to one (a system of the NT kind that
    // calls itself a 95-family one), and what lies there is no record.
    return database >= SHARED_ARENA_START && database < SHARED_ARENA_END ? database : 0;
#endif
}

// An ANSI string of Tolvane's own address space (where the system keeps
// these records), cut at a character boundary when the readable memory
// ends inside it.
static char* ReadOwnAnsi(DWORD address) {
    DWORD bytes = 0;
    char* text =
        ReadRemoteBlock(GetCurrentProcess(), AddressOf(address), REMOTE_READ_LIMIT, &bytes);
    if (text) {
        CopyText(text, static_cast<int>(bytes) + 1, text, static_cast<int>(bytes));
    }
    return text;
}

static int SetOwnAnsi(HWND control, DWORD address) {
    char* text = ReadOwnAnsi(address);
    if (!text) {
        return 0;
    }
    SetWindowTextA(control, text);
    free(text);
    return 1;
}

static int AddAnsiEnvironment(HWND list, DWORD address) {
    DWORD bytes = 0;
    char* block =
        ReadRemoteBlock(GetCurrentProcess(), AddressOf(address), REMOTE_READ_LIMIT, &bytes);
    if (!block) {
        return 0;
    }
    for (DWORD at = 0; at < bytes && block[at] != 0;) {
        char* entry = block + at;
        DWORD length = static_cast<DWORD>(strnlen(entry, bytes - at));
        // The last string may run to the end of the readable memory.
        CopyText(entry, static_cast<int>(length) + 1, entry, static_cast<int>(length));
        AddEnvironmentRow(list, entry, bytes >= REMOTE_READ_LIMIT && at + length + 1 >= bytes);
        at += length + 1;
    }
    free(block);
    return 1;
}

int ReadEnvironmentRecord(DWORD database, HWND commandLine, HWND environment, HWND directory) {
    DWORD bytes = 0;
    DWORD* recordAddress = reinterpret_cast<DWORD*>(ReadRemoteBlock(
        GetCurrentProcess(), AddressOf(database + DATABASE_ENVIRONMENT_RECORD), 4, &bytes));
    if (!recordAddress) {
        return 0;
    }
    DWORD address = bytes == 4 ? *recordAddress : 0;
    free(recordAddress);
    // Offset 0: the environment block; 8: the command line; 12: the directory.
    DWORD* record = reinterpret_cast<DWORD*>(
        ReadRemoteBlock(GetCurrentProcess(), AddressOf(address), 16, &bytes));
    if (!record) {
        return 0;
    }
    int result = bytes == 16 && SetOwnAnsi(commandLine, record[2]) &&
                 SetOwnAnsi(directory, record[3]) &&
                 (!environment || AddAnsiEnvironment(environment, record[0]));
    free(record);
    return result;
}

int ReadStartupInfo95(DWORD processId, HWND commandLine, HWND environment, HWND directory) {
    int result =
        ReadEnvironmentRecord(ProcessDatabaseOf(processId), commandLine, environment, directory);
    if (result) {
        return 1;
    }
    // A system of the NT kind under a 95-family face has no such records,
    // but answers the native process query.
    static int nativeQueryLooked = 0;
    if (!nativeQueryLooked) {
        nativeQueryLooked = 1;
        if (!ntApi.ntQueryInformationProcess) {
            ResolveEntryPoint(GetModuleHandleA("NTDLL.DLL"), "NtQueryInformationProcess",
                              ntApi.ntQueryInformationProcess);
        }
    }
    if (!ntApi.ntQueryInformationProcess) {
        return 0;
    }
    HANDLE process = OpenProcess(QUERY_AND_READ, FALSE, processId);
    if (!process) {
        return 0;
    }
    result = ReadOwnParameterBlock(process, commandLine, environment, directory, 0);
    CloseHandle(process);
    return result;
}

int ReadStartupInfo(DWORD processId, HWND commandLine, HWND environment, HWND directory) {
    return ntFamily ? ReadStartupInfoNt(processId, commandLine, environment, directory)
                    : ReadStartupInfo95(processId, commandLine, environment, directory);
}
