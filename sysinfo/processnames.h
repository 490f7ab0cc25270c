// The names and paths of a process and its modules as the NT family's
// process-status calls give them: read by the length the system reports,
// cut between characters, never letting a call write past the buffer.
#ifndef TOLVANE_SYSINFO_PROCESSNAMES_H
#define TOLVANE_SYSINFO_PROCESSNAMES_H

#include <windows.h>

// Converts a wide text of the given length and cuts it into the buffer at a
// character boundary.
void CopyWideText(char* buffer, DWORD size, const WCHAR* text, int length);
// The base name of a module of the process.
void ReadModuleBaseName(HANDLE process, HMODULE module, char* buffer, DWORD size);
// The module's file name with the kernel's "\??\" and "\Variable\" forms
// turned into ordinary paths.
void NormalizeModulePath(HANDLE process, HMODULE module, char* buffer, DWORD size);
// The same rewriting of a file name already in the buffer.
void NormalizePathText(char* buffer, DWORD size);
// Turns a kernel device path ("\Device\HarddiskVolume1\dir\file") in the
// buffer into its drive path ("C:\dir\file"), in place; returns whether a
// drive's device began the path.
int DevicePathToDrivePath(char* buffer, DWORD size);
// The path of the process's executable without its module list.
void ReadImagePath(HANDLE process, char* buffer, DWORD size);

#endif
