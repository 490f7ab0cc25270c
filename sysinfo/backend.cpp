#include "sysinfo/backend.h"
#include "app/settings.h"
#include "sysinfo/ntbackend.h"
#include "sysinfo/perfdata.h"
#include "sysinfo/platform.h"
#include "sysinfo/toolhelp.h"

int EnumerateProcesses(HWND list) {
    return ntFamily ? EnumerateProcessesNt(list) : EnumerateProcessesToolhelp(list);
}

int ListThreads(HWND listBox, DWORD processId) {
    return ntFamily ? ListThreadsNt(listBox, processId, hexProcessId)
                    : ListThreadsToolhelp(listBox, processId);
}

int ListModules(HWND window, DWORD processId, ModuleVisitor visitor, DWORD userValue) {
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
