// The NT family back-end: processes and modules through the process-status
// library, parent ids through the native call, 16-bit tasks through the VDM
// debugging library.
#ifndef TOLVANE_SYSINFO_NTBACKEND_H
#define TOLVANE_SYSINFO_NTBACKEND_H

#include "sysinfo/process_entry.h"
#include "sysinfo/processhandles.h"

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
int ListModulesNt(HWND window, DWORD processId, ModuleVisitor visitor, DWORD userValue);
int ListModulesPsapi(HWND window, DWORD processId, ModuleVisitor visitor, DWORD userValue);
int ListModulesBySnapshot(HWND window, DWORD processId, ModuleVisitor visitor, DWORD userValue);
// The module's file name with the kernel's "\??\" and "\Variable\" forms
// turned into ordinary paths.
void NormalizeModulePath(HANDLE process, HMODULE module, char* buffer, DWORD size);
// The same rewriting of a file name already in the buffer.
void NormalizePathText(char* buffer, DWORD size);
// Turns a kernel device path ("\Device\HarddiskVolume1\dir\file") in the
// buffer into its drive path ("C:\dir\file"), in place; returns whether a
// drive's device began the path.
int DevicePathToDrivePath(char* buffer, DWORD size);
int TerminateWowTask(DWORD ntvdmProcessId, WORD task16);

BOOL WINAPI ProcessWowVisitor(DWORD processId, DWORD attributes, LPARAM userValue);
BOOL WINAPI WowTaskVisitor(DWORD threadId, WORD module16, WORD task16, char* moduleName,
                           char* fileName, LPARAM userValue);

#endif
