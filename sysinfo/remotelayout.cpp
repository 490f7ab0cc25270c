#include "sysinfo/remotelayout.h"
#include "sysinfo/platform.h"
#include "sysinfo/startinfo.h"
#include "sysinfo/wow64.h"

#include <stdlib.h>
#include <string.h>

enum {
    PROCESS_BASIC_INFORMATION_CLASS = 0,
    PROCESS_WOW64_INFORMATION_CLASS = 26, // the 32-bit environment block of a 32-bit process
};

// The public layouts: the environment block, the loader data, a loader entry
// and the process parameters.
const RemoteLayout remoteLayout32 = {4,    0x0C, 0x10, 0x0C, 0x0C, 0x18, 0x20, 0x24,
                                     0x2C, 0x34, 0x08, 0x24, 0x40, 0x48, 0x4C};
const RemoteLayout remoteLayout64 = {8,    0x18, 0x20, 0x10, 0x10, 0x30, 0x40, 0x48,
                                     0x58, 0x68, 0x08, 0x38, 0x70, 0x80, 0x88};

static_assert(sizeof(BasicInformation) == 6 * sizeof(void*), "the native basic information");

int QueryBasicInformation(HANDLE process, BasicInformation* basic) {
    memset(basic, 0, sizeof *basic);
    return ntApi.ntQueryInformationProcess &&
           ntApi.ntQueryInformationProcess(process, PROCESS_BASIC_INFORMATION_CLASS, basic,
                                           sizeof *basic, nullptr) >= 0;
}

#ifdef _WIN64
// Where the native call only says that the process belongs to the 32-bit
// layer (an answer below the lowest address a process can use), its 32-bit
// environment block is the one the layer keeps a page after the 64-bit
// one, when it names the same executable image; 0 otherwise.
static ULONGLONG FindThirtyTwoBitBlock(HANDLE process) {
    enum { IMAGE_BASE_64 = 0x10, IMAGE_BASE_32 = 0x08, LAYER_BLOCK_DISTANCE = 0x1000 };
    BasicInformation basic;
    if (!QueryBasicInformation(process, &basic) || basic.pebAddress == 0) {
        return 0;
    }
    RemoteProcess native = {process, &remoteLayout64, basic.pebAddress};
    ULONGLONG image = ReadRemotePointer(native, basic.pebAddress + IMAGE_BASE_64);
    ULONGLONG block = basic.pebAddress + LAYER_BLOCK_DISTANCE;
    RemoteProcess layer = {process, &remoteLayout32, block};
    return image != 0 && ReadRemotePointer(layer, block + IMAGE_BASE_32) == image ? block : 0;
}
#endif

int FindRemoteProcess(HANDLE process, RemoteProcess* remote) {
    remote->handle = process;
    remote->peb = 0;
#ifdef _WIN64
    // A process of the system's 32-bit layer has an environment block of its
    // own width, which the native call names.
    enum { LOWEST_ADDRESS = 0x10000 };
    ULONG_PTR peb32 = 0;
    if (ntApi.ntQueryInformationProcess &&
        ntApi.ntQueryInformationProcess(process, PROCESS_WOW64_INFORMATION_CLASS, &peb32,
                                        sizeof peb32, nullptr) >= 0 &&
        peb32 != 0) {
        remote->layout = &remoteLayout32;
        remote->peb = peb32 >= LOWEST_ADDRESS ? peb32 : FindThirtyTwoBitBlock(process);
        return remote->peb != 0;
    }
    remote->layout = &remoteLayout64;
#else
    if (IsSixtyFourBitProcess(process)) {
        remote->layout = &remoteLayout64;
        remote->peb = QueryPeb64(process);
        return remote->peb != 0;
    }
    remote->layout = &remoteLayout32;
#endif
    BasicInformation basic;
    if (!QueryBasicInformation(process, &basic)) {
        return 0;
    }
    remote->peb = basic.pebAddress;
    return remote->peb != 0;
}

int ReadRemote(const RemoteProcess& remote, ULONGLONG address, void* buffer, DWORD size) {
    if (sizeof(void*) == 4 && remote.layout == &remoteLayout64) {
        return Read64(remote.handle, address, buffer, size);
    }
    // An address this program's pointers cannot hold is none of the process's.
    if (address > static_cast<ULONG_PTR>(-1) - size) {
        return 0;
    }
    SIZE_T read = 0;
    return ReadProcessMemory(remote.handle,
                             reinterpret_cast<void*>(static_cast<ULONG_PTR>(address)), buffer, size,
                             &read) &&
           read == size;
}

ULONGLONG PointerAt(const RemoteLayout& layout, const BYTE* block, DWORD offset) {
    ULONGLONG value = 0;
    memcpy(&value, block + offset, layout.pointerSize);
    return value;
}

ULONGLONG ReadRemotePointer(const RemoteProcess& remote, ULONGLONG address) {
    BYTE block[8];
    if (!ReadRemote(remote, address, block, remote.layout->pointerSize)) {
        return 0;
    }
    return PointerAt(*remote.layout, block, 0);
}

RemoteString StringAt(const RemoteLayout& layout, const BYTE* block, DWORD offset) {
    RemoteString string;
    WORD length = 0;
    memcpy(&length, block + offset, sizeof length);
    string.length = length;
    // The characters' address follows the two lengths, aligned to a pointer.
    string.buffer = PointerAt(layout, block, offset + layout.pointerSize);
    return string;
}

char* ReadRemoteString(const RemoteProcess& remote, const RemoteString& string, ULONGLONG base) {
    // An odd length ends inside a character: that half is not read.
    DWORD length = string.length & ~1u;
    if (length == 0 || string.buffer == 0) {
        return nullptr;
    }
    // A length that claims more than the memory holds gives what is there.
    DWORD bytes = 0;
    WCHAR* text = reinterpret_cast<WCHAR*>(
        ReadRemoteBlockPaged(remote, string.buffer + base, length, 0, &bytes));
    if (!text) {
        return nullptr;
    }
    char* converted = WideRangeToAnsi(text, text + bytes / sizeof(WCHAR));
    free(text);
    return converted;
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

char* ReadRemoteBlockPaged(const RemoteProcess& remote, ULONGLONG address, DWORD limit,
                           int toBlockEnd, DWORD* bytes) {
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
        if (!ReadRemote(remote, at, buffer + done, chunk)) {
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
