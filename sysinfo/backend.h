// Every back-end operation, routed to the implementation of the Windows
// family Tolvane runs on.
#ifndef TOLVANE_SYSINFO_BACKEND_H
#define TOLVANE_SYSINFO_BACKEND_H

#include "sysinfo/process_entry.h"

// One refresh pass: hands every process to the main list's merge.
int EnumerateProcesses(HWND list);
int ListThreads(HWND listBox, DWORD processId);
// Visits every module of the process; MODULES_INCOMPLETE when only part of
// them could be found (a 64-bit process seen through its memory map).
enum { MODULES_INCOMPLETE = 2 };
int ListModules(HWND window, DWORD processId, ModuleVisitor visitor, DWORD userValue);
void ListHeaps(HWND listBox, DWORD processId);
void ListHeapBlocks(HWND listBox, DWORD processId, DWORD heapId);

#endif
