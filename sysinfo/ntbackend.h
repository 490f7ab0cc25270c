// The NT family back-end: processes and modules through the process-status
// library, parent ids through the native call, 16-bit tasks through the VDM
// debugging library.
#ifndef TOLVANE_SYSINFO_NTBACKEND_H
#define TOLVANE_SYSINFO_NTBACKEND_H

#include "sysinfo/process_entry.h"
#include "sysinfo/processhandles.h"
#include "sysinfo/processnames.h"

// One refresh pass of the main list; always returns 0. New processes are
// read for about NEW_PROCESS_MILLISECONDS; those met later wait, their
// handles kept, for ReadWaitingProcessesNt.
int EnumerateProcessesNt(HWND list);
// Reads waiting processes for about `milliseconds` (all of them when it is
// negative) and merges their entries; returns how many still wait.
int ReadWaitingProcessesNt(HWND list, int milliseconds);
// Reads the process at once if it waits; returns whether it did.
int ReadWaitingProcessNt(HWND list, DWORD processId);
// Visits every module of the process; returns 1, or MODULES_INCOMPLETE for
// a 64-bit process listed from its memory map. One Toolhelp module snapshot
// where kernel32 has Toolhelp, the process-status library otherwise.
int ListModulesNt(HWND window, DWORD processId, ModuleVisitor visitor, ULONG_PTR userValue);
int ListModulesPsapi(HWND window, DWORD processId, ModuleVisitor visitor, ULONG_PTR userValue);
int ListModulesBySnapshot(HWND window, DWORD processId, ModuleVisitor visitor, ULONG_PTR userValue);
int TerminateWowTask(DWORD ntvdmProcessId, WORD task16);
// Looks the id up in a fresh reading of the native process table: 1 when it
// is listed (`*createTime` its creation time, 0 when the table gives none),
// 0 when it is not, -1 without the table.
int FindInProcessTable(DWORD processId, ULONGLONG* createTime);

BOOL WINAPI ProcessWowVisitor(DWORD processId, DWORD attributes, LPARAM userValue);
BOOL WINAPI WowTaskVisitor(DWORD threadId, WORD module16, WORD task16, char* moduleName,
                           char* fileName, LPARAM userValue);

#endif
