#include "sysinfo/wow64.h"
#include "app/dbcs.h"
#include "sysinfo/backend.h"
#include "sysinfo/ntbackend.h"
#include "sysinfo/platform.h"
#include "sysinfo/remotelayout.h"
#include "sysinfo/startinfo.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

enum {
    PROCESS_BASIC_INFORMATION_CLASS = 0,
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

int RunsInThirtyTwoBitLayer() {
    BOOL wow64 = FALSE;
    return ntApi.isWow64Process && ntApi.isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// Resolved on first use: absent before the 64-bit systems.
static BOOL(WINAPI* disableRedirection)(void** previous);
static BOOL(WINAPI* revertRedirection)(void* previous);
static int redirectionResolved;

void BeginSystemFileRead(SystemFileRead* read) {
    read->redirection = nullptr;
    read->off = 0;
    if (!redirectionResolved) {
        redirectionResolved = 1;
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        ResolveEntryPoint(kernel, "Wow64DisableWow64FsRedirection", disableRedirection);
        ResolveEntryPoint(kernel, "Wow64RevertWow64FsRedirection", revertRedirection);
    }
    if (disableRedirection && revertRedirection && RunsInThirtyTwoBitLayer()) {
        read->off = disableRedirection(&read->redirection) != FALSE;
    }
}

void EndSystemFileRead(SystemFileRead* read) {
    if (read->off) {
        revertRedirection(read->redirection);
        read->off = 0;
    }
}

const char* NativeSystemPath(const char* path, char* output, int size) {
    static char system[MAX_PATH];
    static char alias[MAX_PATH];
    static int systemLength = -1;
    if (systemLength < 0) {
        // The alias stands beside the system folder: "...\Sysnative".
        UINT length = GetSystemDirectoryA(system, sizeof system);
        char* slash = length > 0 && length < sizeof system ? FindLastByte(system, '\\') : nullptr;
        systemLength = 0;
        if (slash) {
            int parent = static_cast<int>(slash - system);
            CopyText(alias, sizeof alias, system, parent);
            lstrcatA(alias, "\\Sysnative");
            systemLength = static_cast<int>(length);
        }
    }
    int pathLength = lstrlenA(path);
    int aliasLength = lstrlenA(alias);
    if (systemLength > 0 && pathLength > systemLength && path[systemLength] == '\\' &&
        aliasLength + pathLength - systemLength < size && RunsInThirtyTwoBitLayer() &&
        CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, path, systemLength, system,
                       systemLength) == CSTR_EQUAL) {
        // The folder's name ends at a character boundary: what follows it is
        // whole characters.
        memmove(output + aliasLength, path + systemLength, pathLength - systemLength + 1);
        memcpy(output, alias, aliasLength);
        return output;
    }
    CopyText(output, size, path);
    return output;
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

// Copies a converted string into a buffer, cut at a character boundary;
// frees it.
static void TakeText(char* buffer, DWORD size, char* text) {
    CopyText(buffer, static_cast<int>(size), text ? text : "");
    free(text);
}

static void VisitLoaderEntry(const RemoteProcess& remote, const BYTE* entry, HWND window,
                             ModuleVisitor visitor, ULONG_PTR value) {
    const RemoteLayout& layout = *remote.layout;
    char path[260];
    TakeText(path, sizeof path,
             ReadRemoteString(remote, StringAt(layout, entry, layout.entryFullName), 0));
    NormalizePathText(path, sizeof path);
    char name[256];
    TakeText(name, sizeof name,
             ReadRemoteString(remote, StringAt(layout, entry, layout.entryBaseName), 0));
    if (name[0] == 0) {
        const char* slash = FindLastByte(path, '\\');
        CopyText(name, sizeof name, slash ? slash + 1 : path);
    }
    DWORD imageSize = 0;
    memcpy(&imageSize, entry + layout.entryImageSize, sizeof imageSize);
    visitor(value, window, name, PointerAt(layout, entry, layout.entryBase), imageSize, path);
}

int ListModulesLoader(const RemoteProcess& remote, HWND window, ModuleVisitor visitor,
                      ULONG_PTR value) {
    const RemoteLayout& layout = *remote.layout;
    ULONGLONG loaderData =
        remote.peb ? ReadRemotePointer(remote, remote.peb + layout.pebLoaderData) : 0;
    if (loaderData == 0) {
        return 0;
    }
    ULONGLONG head = loaderData + layout.loaderLoadOrder;
    BYTE linkBlock[8];
    if (!ReadRemote(remote, head, linkBlock, layout.pointerSize)) {
        return 0;
    }
    ULONGLONG link = PointerAt(layout, linkBlock, 0);
    // The entries met so far: one met again is a cycle, and ends the walk.
    static ULONGLONG met[MODULE_LIMIT];
    int count = 0;
    while (link != head && link != 0 && count < MODULE_LIMIT) {
        for (int i = 0; i < count; i++) {
            if (met[i] == link) {
                return 1;
            }
        }
        BYTE entry[REMOTE_BLOCK_SIZE];
        if (!ReadRemote(remote, link, entry, layout.entrySize)) {
            break;
        }
        met[count++] = link;
        VisitLoaderEntry(remote, entry, window, visitor, value);
        // The load-order links come first in an entry.
        link = PointerAt(layout, entry, 0);
    }
    return 1;
}

int ListModulesLoader64(HANDLE process, HWND window, ModuleVisitor visitor, ULONG_PTR value) {
    RemoteProcess remote = {process, &remoteLayout64, QueryPeb64(process)};
    return ListModulesLoader(remote, window, visitor, value);
}

static void VisitImage(HANDLE process, ULONG_PTR base, ULONG_PTR end, HWND window,
                       ModuleVisitor visitor, DWORD value) {
    char path[260];
    path[0] = 0;
    if (ntApi.getMappedFileNameA) {
        // The last byte stays ours: a name that fills the buffer is cut.
        DWORD length =
            ntApi.getMappedFileNameA(process, reinterpret_cast<void*>(base), path, sizeof path - 1);
        CopyText(path, sizeof path, path,
                 static_cast<int>(length < sizeof path ? length : sizeof path - 1));
    }
    DevicePathToDrivePath(path, sizeof path);
    NormalizePathText(path, sizeof path);
    const char* slash = FindLastByte(path, '\\');
    char name[256];
    CopyText(name, sizeof name, slash ? slash + 1 : path);
    visitor(value, window, name, base, static_cast<DWORD>(end - base), path);
}

int ListModulesByMemoryMap(HANDLE process, HWND window, ModuleVisitor visitor, ULONG_PTR value) {
    int count = 0;
    int inImage = 0;
    ULONG_PTR imageBase = 0, imageEnd = 0;
    ULONG_PTR address = 0;
    MEMORY_BASIC_INFORMATION region;
    do {
        ULONG_PTR next = 0;
        if (!QueryRegion(process, address, &region, &next)) {
            break;
        }
        ULONG_PTR base = reinterpret_cast<ULONG_PTR>(region.BaseAddress);
        ULONG_PTR end = base + region.RegionSize;
        ULONG_PTR allocation = reinterpret_cast<ULONG_PTR>(region.AllocationBase);
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

int ListModules64(HANDLE process, HWND window, ModuleVisitor visitor, ULONG_PTR value) {
    if (ListModulesLoader64(process, window, visitor, value)) {
        return 1;
    }
    ListModulesByMemoryMap(process, window, visitor, value);
    return MODULES_INCOMPLETE;
}
