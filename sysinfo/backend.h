// Every back-end operation, routed to the implementation of the Windows
// family Tolvane runs on.
#ifndef TOLVANE_SYSINFO_BACKEND_H
#define TOLVANE_SYSINFO_BACKEND_H

#include "sysinfo/process_entry.h"

// One refresh pass: hands every process to the main list's merge.
int EnumerateProcesses(HWND list);
int ListThreads(HWND listBox, DWORD processId);
int ListModules(HWND window, DWORD processId, ModuleVisitor visitor, DWORD userValue);
void ListHeaps(HWND listBox, DWORD processId);
void ListHeapBlocks(HWND listBox, DWORD processId, DWORD heapId);

#endif
