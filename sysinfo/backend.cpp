#include "sysinfo/backend.h"
#include "app/settings.h"
#include "sysinfo/ntbackend.h"
#include "sysinfo/perfdata.h"
#include "sysinfo/platform.h"
#include "sysinfo/toolhelp.h"

int EnumerateProcesses(HWND list) {
    return ntFamily ? EnumerateProcessesNt(list) : EnumerateProcessesToolhelp(list);
}

// The Windows 95 family reads every new process in its pass: nothing waits.
int ReadWaitingProcesses(HWND list, int milliseconds) {
    return ntFamily ? ReadWaitingProcessesNt(list, milliseconds) : 0;
}

int ReadWaitingProcess(HWND list, DWORD processId) {
    return ntFamily ? ReadWaitingProcessNt(list, processId) : 0;
}

int ListThreads(HWND listBox, DWORD processId) {
    return ntFamily ? ListThreadsNt(listBox, processId, hexProcessId)
                    : ListThreadsToolhelp(listBox, processId);
}

int ListModules(HWND window, DWORD processId, ModuleVisitor visitor, ULONG_PTR userValue) {
    return ntFamily ? ListModulesNt(window, processId, visitor, userValue)
                    : ListModulesToolhelp(window, processId, visitor, userValue);
}

// The NT family has no heap lists: those windows stay empty there.
void ListHeaps(HWND listBox, DWORD processId) {
    if (!ntFamily) {
        ListHeapsToolhelp(listBox, processId);
    }
}

void ListHeapBlocks(HWND listBox, DWORD processId, DWORD heapId) {
    if (!ntFamily) {
        ListHeapBlocksToolhelp(listBox, processId, heapId);
    }
}

int QueryRegion(HANDLE process, ULONG_PTR address, MEMORY_BASIC_INFORMATION* region,
                ULONG_PTR* next) {
    *next = 0;
    if (VirtualQueryEx(process, reinterpret_cast<void*>(address), region, sizeof *region) !=
        sizeof *region) {
        return 0;
    }
    ULONG_PTR base = reinterpret_cast<ULONG_PTR>(region->BaseAddress);
    ULONG_PTR end = base + region->RegionSize;
    // Going on after a wrap would walk the same regions again, for ever.
    *next = end > base ? end : 0;
    return 1;
}
