#include "objectcount.h"

#include "sysinfo/platform.h"

#include <psapi.h>

#include <vector>

namespace {

const LONG infoLengthMismatch = static_cast<LONG>(0xC0000004);
const ULONG systemHandleInformation = 16;

// One row of the system's handle table, in the program's width; the rows
// follow the count, aligned as a pointer is.
struct HandleEntry {
    ULONG ownerProcessId;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    void* object;
    ULONG access;
};

typedef LONG(WINAPI* SystemQuery)(ULONG infoClass, void* buffer, ULONG size, ULONG* returned);

} // namespace

long CountHandles() {
    static SystemQuery query = nullptr;
    if (!query) {
        ResolveEntryPoint(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation", query);
    }
    if (!query) {
        return -1;
    }
    // The buffer comes from the system, not the heap, so that counting
    // leaves the heap as it found it.
    ULONG size = 1 << 20;
    for (int tries = 0; tries < 8; tries++) {
        void* buffer = VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE);
        if (!buffer) {
            return -1;
        }
        ULONG returned = 0;
        LONG status = query(systemHandleInformation, buffer, size, &returned);
        long count = -1;
        if (status >= 0) {
            ULONG entries = *static_cast<const ULONG*>(buffer);
            const ULONG header = alignof(HandleEntry);
            const HandleEntry* rows =
                reinterpret_cast<const HandleEntry*>(static_cast<const BYTE*>(buffer) + header);
            DWORD self = GetCurrentProcessId();
            count = 0;
            for (ULONG i = 0; i < entries && header + (i + 1) * sizeof(HandleEntry) <= size; i++) {
                count += rows[i].ownerProcessId == self;
            }
        }
        VirtualFree(buffer, 0, MEM_RELEASE);
        if (status != infoLengthMismatch) {
            return count;
        }
        size = returned > size ? returned + (64 << 10) : size * 2;
    }
    return -1;
}

// The table holds entries of 24 bytes with the object's type at offset 14,
// 0 for a free entry.
int CountTableObjects() {
    // The thread block's link to the environment block, and that block's
    // link to the table, lie at other offsets in a 64-bit process.
    const BYTE* peb = nullptr;
#ifdef _WIN64
    asm("movq %%gs:0x60, %0" : "=r"(peb));
    const BYTE* table = *reinterpret_cast<const BYTE* const*>(peb + 0xF8);
#else
    asm("movl %%fs:0x30, %0" : "=r"(peb));
    const BYTE* table = *reinterpret_cast<const BYTE* const*>(peb + 0x94);
#endif
    if (!table) {
        return -1;
    }
    int count = 0;
    for (int i = 0; i < 0x10000; i++) {
        count += table[i * 24 + 14] != 0;
    }
    return count;
}

int CountGuiResources() {
    return static_cast<int>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
}

int (*GdiCounter())() {
    for (int (*counter)() : {CountGuiResources, CountTableObjects}) {
        int before = counter();
        std::vector<HBRUSH> brushes;
        for (int i = 0; i < 100; i++) {
            brushes.push_back(CreateSolidBrush(RGB(i, 0, 0)));
        }
        int during = counter();
        for (HBRUSH brush : brushes) {
            DeleteObject(brush);
        }
        if (before >= 0 && during - before == 100 && counter() == before) {
            return counter;
        }
    }
    return nullptr;
}

namespace {

BOOL CALLBACK CountOwnWindow(HWND window, LPARAM count) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == GetCurrentProcessId()) {
        (*reinterpret_cast<int*>(count))++;
    }
    return TRUE;
}

// The window itself and all its descendants, when it is this process's.
int CountTree(HWND window) {
    int count = 0;
    CountOwnWindow(window, reinterpret_cast<LPARAM>(&count));
    if (count) {
        EnumChildWindows(window, CountOwnWindow, reinterpret_cast<LPARAM>(&count));
    }
    return count;
}

BOOL CALLBACK CountTopLevelTree(HWND window, LPARAM count) {
    *reinterpret_cast<int*>(count) += CountTree(window);
    return TRUE;
}

} // namespace

int CountWindows() {
    int count = 0;
    EnumWindows(CountTopLevelTree, reinterpret_cast<LPARAM>(&count));
    for (HWND window = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); window;
         window = FindWindowExA(HWND_MESSAGE, window, nullptr, nullptr)) {
        count += CountTree(window);
    }
    return count;
}

// USER handles are even numbers from 0x20 up to 0xffee in their low word; a
// handle whose high word is 0 stands for whatever object holds the entry.
int CountMenus() {
    int count = 0;
    for (DWORD value = 0x20; value <= 0xffee; value += 2) {
        count += IsMenu(reinterpret_cast<HMENU>(static_cast<DWORD_PTR>(value))) != FALSE;
    }
    return count;
}

SIZE_T PrivateBytes() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region;
    const BYTE* address = nullptr;
    while (VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            total += region.RegionSize;
        }
        const BYTE* next = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= address) {
            break;
        }
        address = next;
    }
    return total;
}

namespace {

PROCESS_MEMORY_COUNTERS_EX MemoryCounters() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(),
                              reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof counters)) {
        counters = {};
    }
    return counters;
}

} // namespace

SIZE_T PrivateUsage() {
    return MemoryCounters().PrivateUsage;
}

SIZE_T WorkingSet() {
    return MemoryCounters().WorkingSetSize;
}
