// The Windows 95 family back-end: everything from the kernel's Toolhelp
// snapshots, called through the Toolhelp entry-point table.
#ifndef TOLVANE_SYSINFO_TOOLHELP_H
#define TOLVANE_SYSINFO_TOOLHELP_H

#include "sysinfo/process_entry.h"
#include <tlhelp32.h>

int EnumerateProcessesToolhelp(HWND list);
int ListThreadsToolhelp(HWND listBox, DWORD processId);
int ListModulesToolhelp(HWND window, DWORD processId, ModuleVisitor visitor, ULONG_PTR userValue);
void ListHeapsToolhelp(HWND listBox, DWORD processId);
void ListHeapBlocksToolhelp(HWND listBox, DWORD processId, DWORD heapId);
int FindProcessModule(DWORD processId, DWORD moduleId, MODULEENTRY32* module, DWORD size);
int ReadNeModuleName(const char* path, char* buffer, WORD size);

#endif
