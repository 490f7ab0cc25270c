#include "sysinfo/wow64.h"
#include "app/dbcs.h"
#include "sysinfo/backend.h"
#include "sysinfo/ntbackend.h"
#include "sysinfo/platform.h"
#include "sysinfo/startinfo.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

enum {
    PROCESS_BASIC_INFORMATION_CLASS = 0,
    PEB64_LOADER_DATA = 0x18,        // offset of Ldr in the 64-bit environment block
    LOADER64_LOAD_ORDER_LIST = 0x10, // offset of InLoadOrderModuleList in its loader data
};

// The 64-bit layout of the native call's basic process information.
struct BasicInformation64 {
    LONG exitStatus;
    DWORD padding;
    ULONGLONG pebAddress;
    ULONGLONG affinityMask;
    LONG basePriority;
    DWORD padding2;
    ULONGLONG processId;
    ULONGLONG parentProcessId;
};
static_assert(sizeof(BasicInformation64) == 48, "the 64-bit basic information");

// The 64-bit layout of a loader entry as far as its base name.
struct LoaderEntry64 {
    ULONGLONG loadOrderLinks[2]; // next, previous
    ULONGLONG memoryOrderLinks[2];
    ULONGLONG initializationOrderLinks[2];
    ULONGLONG dllBase;
    ULONGLONG entryPoint;
    DWORD sizeOfImage;
    DWORD padding;
    RemoteString64 fullDllName;
    RemoteString64 baseDllName;
};
static_assert(offsetof(LoaderEntry64, dllBase) == 0x30 &&
                  offsetof(LoaderEntry64, fullDllName) == 0x48 && sizeof(LoaderEntry64) == 0x68,
              "the 64-bit loader entry");

int RunsInThirtyTwoBitLayer() {
    BOOL wow64 = FALSE;
    return ntApi.isWow64Process && ntApi.isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

int IsSixtyFourBitProcess(HANDLE process) {
    BOOL wow64 = FALSE;
    return RunsInThirtyTwoBitLayer() && ntApi.isWow64Process(process, &wow64) && !wow64;
}

int CanReadSixtyFourBit() {
    return ntApi.ntWow64QueryInformationProcess64 && ntApi.ntWow64ReadVirtualMemory64;
}

int Read64(HANDLE process, ULONGLONG address, void* buffer, DWORD size) {
    if (!ntApi.ntWow64ReadVirtualMemory64 || address > ~0ULL - size) {
        return 0;
    }
    ULONGLONG read = 0;
    return ntApi.ntWow64ReadVirtualMemory64(process, address, buffer, size, &read) >= 0 &&
           read == size;
}

// Whether the wide characters read so far, from `from` on, hold two zeros
// in a row: the end of an environment block.
static int HoldsBlockEnd(const char* buffer, DWORD from, DWORD to) {
    from &= ~1u;
    if (from >= 2) {
        from -= 2;
    }
    for (DWORD at = from; at + 4 <= to; at += 2) {
        if (buffer[at] == 0 && buffer[at + 1] == 0 && buffer[at + 2] == 0 && buffer[at + 3] == 0) {
            return 1;
        }
    }
    return 0;
}

char* ReadRemoteBlock64(HANDLE process, ULONGLONG address, DWORD limit, int toBlockEnd,
                        DWORD* bytes) {
    *bytes = 0;
    char* buffer = static_cast<char*>(malloc(limit + 2));
    if (!buffer) {
        return nullptr;
    }
    DWORD done = 0;
    while (done < limit) {
        ULONGLONG at = address + done;
        DWORD chunk = REMOTE_PAGE - static_cast<DWORD>(at & (REMOTE_PAGE - 1));
        if (chunk > limit - done) {
            chunk = limit - done;
        }
        if (!Read64(process, at, buffer + done, chunk)) {
            break;
        }
        done += chunk;
        if (toBlockEnd && HoldsBlockEnd(buffer, done - chunk, done)) {
            break;
        }
    }
    if (done == 0) {
        free(buffer);
        return nullptr;
    }
    buffer[done] = 0;
    buffer[done + 1] = 0;
    *bytes = done;
    return buffer;
}

ULONGLONG QueryPeb64(HANDLE process) {
    if (!CanReadSixtyFourBit()) {
        return 0;
    }
    BasicInformation64 basic;
    memset(&basic, 0, sizeof basic);
    if (ntApi.ntWow64QueryInformationProcess64(process, PROCESS_BASIC_INFORMATION_CLASS, &basic,
                                               sizeof basic, nullptr) < 0) {
        return 0;
    }
    return basic.pebAddress;
}

char* ReadRemoteString64(HANDLE process, const RemoteString64& string, ULONGLONG base) {
    // An odd length ends inside a character: that half is not read.
    DWORD length = string.length & ~1u;
    if (length == 0 || string.buffer == 0) {
        return nullptr;
    }
    WCHAR* text = static_cast<WCHAR*>(malloc(length));
    if (!text) {
        return nullptr;
    }
    char* converted = nullptr;
    if (Read64(process, string.buffer + base, text, length)) {
        converted = WideRangeToAnsi(text, text + length / sizeof(WCHAR));
    }
    free(text);
    return converted;
}

// Copies a converted string into a buffer, cut at a character boundary;
// frees it.
static void TakeText(char* buffer, DWORD size, char* text) {
    CopyText(buffer, static_cast<int>(size), text ? text : "");
    free(text);
}

static void VisitLoaderEntry(HANDLE process, const LoaderEntry64& entry, HWND window,
                             ModuleVisitor visitor, DWORD value) {
    char path[260];
    TakeText(path, sizeof path, ReadRemoteString64(process, entry.fullDllName, 0));
    NormalizePathText(path, sizeof path);
    char name[256];
    TakeText(name, sizeof name, ReadRemoteString64(process, entry.baseDllName, 0));
    if (name[0] == 0) {
        const char* slash = FindLastByte(path, '\\');
        CopyText(name, sizeof name, slash ? slash + 1 : path);
    }
    visitor(value, window, name, entry.dllBase, entry.sizeOfImage, path);
}

int ListModulesLoader64(HANDLE process, HWND window, ModuleVisitor visitor, DWORD value) {
    ULONGLONG peb = QueryPeb64(process);
    ULONGLONG loaderData = 0;
    if (peb == 0 || !Read64(process, peb + PEB64_LOADER_DATA, &loaderData, sizeof loaderData) ||
        loaderData == 0) {
        return 0;
    }
    ULONGLONG head = loaderData + LOADER64_LOAD_ORDER_LIST;
    ULONGLONG link = 0;
    if (!Read64(process, head, &link, sizeof link)) {
        return 0;
    }
    // The entries met so far: one met again is a cycle, and ends the walk.
    static ULONGLONG met[MODULE_LIMIT];
    int count = 0;
    while (link != head && link != 0 && count < MODULE_LIMIT) {
        for (int i = 0; i < count; i++) {
            if (met[i] == link) {
                return 1;
            }
        }
        LoaderEntry64 entry;
        if (!Read64(process, link, &entry, sizeof entry)) {
            break;
        }
        met[count++] = link;
        VisitLoaderEntry(process, entry, window, visitor, value);
        link = entry.loadOrderLinks[0];
    }
    return 1;
}

static void VisitImage(HANDLE process, DWORD base, DWORD end, HWND window, ModuleVisitor visitor,
                       DWORD value) {
    char path[260];
    path[0] = 0;
    if (ntApi.getMappedFileNameA) {
        // The last byte stays ours: a name that fills the buffer is cut.
        DWORD length = ntApi.getMappedFileNameA(
            process, reinterpret_cast<void*>(static_cast<DWORD_PTR>(base)), path, sizeof path - 1);
        CopyText(path, sizeof path, path,
                 static_cast<int>(length < sizeof path ? length : sizeof path - 1));
    }
    DevicePathToDrivePath(path, sizeof path);
    NormalizePathText(path, sizeof path);
    const char* slash = FindLastByte(path, '\\');
    char name[256];
    CopyText(name, sizeof name, slash ? slash + 1 : path);
    visitor(value, window, name, base, end - base, path);
}

int ListModulesByMemoryMap(HANDLE process, HWND window, ModuleVisitor visitor, DWORD value) {
    int count = 0;
    int inImage = 0;
    DWORD imageBase = 0, imageEnd = 0;
    DWORD address = 0;
    MEMORY_BASIC_INFORMATION region;
    do {
        DWORD next = 0;
        if (!QueryRegion(process, address, &region, &next)) {
            break;
        }
        DWORD base = static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(region.BaseAddress));
        DWORD end = base + static_cast<DWORD>(region.RegionSize);
        DWORD allocation = static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(region.AllocationBase));
        int image = region.State != MEM_FREE && region.Type == MEM_IMAGE;
        if (inImage && !(image && allocation == imageBase)) {
            VisitImage(process, imageBase, imageEnd, window, visitor, value);
            inImage = 0;
            count++;
        }
        if (image) {
            if (!inImage) {
                inImage = 1;
                imageBase = allocation;
            }
            imageEnd = end;
        }
        address = next;
    } while (address != 0 && count < MODULE_LIMIT);
    if (inImage && count < MODULE_LIMIT) {
        VisitImage(process, imageBase, imageEnd, window, visitor, value);
    }
    return 1;
}

int ListModules64(HANDLE process, HWND window, ModuleVisitor visitor, DWORD value) {
    if (ListModulesLoader64(process, window, visitor, value)) {
        return 1;
    }
    ListModulesByMemoryMap(process, window, visitor, value);
    return MODULES_INCOMPLETE;
}
