// Every back-end operation, routed to the implementation of the Windows
// family Tolvane runs on.
#ifndef TOLVANE_SYSINFO_BACKEND_H
#define TOLVANE_SYSINFO_BACKEND_H

#include "sysinfo/process_entry.h"

// One refresh pass: hands every process to the main list's merge. A pass
// that meets more new processes than it can read in a few tens of
// milliseconds leaves the rest waiting for ReadWaitingProcesses.
int EnumerateProcesses(HWND list);
// Reads waiting processes for about `milliseconds` (all when negative) and
// hands them to the merge; returns how many still wait.
int ReadWaitingProcesses(HWND list, int milliseconds);
// Reads one waiting process at once; returns whether it was waiting.
int ReadWaitingProcess(HWND list, DWORD processId);
int ListThreads(HWND listBox, DWORD processId);
// One step of a walk of a process's address space: the region at `address`
// and, in `next`, where the walk goes on; 0 when it is over (past the top of
// the program's address space, also where, for the 32-bit program, a 64-bit
// process's region reaches beyond 4 GB and the next address would wrap). 0
// when there is no region.
int QueryRegion(HANDLE process, ULONG_PTR address, MEMORY_BASIC_INFORMATION* region,
                ULONG_PTR* next);
// Visits every module of the process; MODULES_INCOMPLETE when only part of
// them could be found (a 64-bit process seen through its memory map).
enum { MODULES_INCOMPLETE = 2 };
int ListModules(HWND window, DWORD processId, ModuleVisitor visitor, ULONG_PTR userValue);
void ListHeaps(HWND listBox, DWORD processId);
void ListHeapBlocks(HWND listBox, DWORD processId, DWORD heapId);

#endif
