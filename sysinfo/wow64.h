// A 64-bit process seen from this 32-bit program on a 64-bit system. Where
// the system's 32-bit layer has the two native calls that reach a 64-bit
// process's memory, its own loader list and parameter block are read with the
// public 64-bit layouts; otherwise its modules are found in its memory map,
// as far as a 32-bit program's walk of it reaches.
#ifndef TOLVANE_SYSINFO_WOW64_H
#define TOLVANE_SYSINFO_WOW64_H

#include "sysinfo/process_entry.h"
#include "sysinfo/remotelayout.h"

enum {
    MODULE_LIMIT = 1024, // modules visited at most in one process
    REMOTE_PAGE = 0x1000,
};

// A counted wide string of a 64-bit process.
struct RemoteString64 {
    WORD length; // bytes
    WORD maximumLength;
    DWORD padding;
    ULONGLONG buffer;
};

// 1 when this program runs in the 32-bit layer of a 64-bit system.
int RunsInThirtyTwoBitLayer();
// 1 when this program runs in the system's 32-bit layer and the process
// does not: a 64-bit process.
int IsSixtyFourBitProcess(HANDLE process);
// A file named by the system (a process's or a module's path) is read with
// the file-system redirector of a 64-bit system's 32-bit layer off for that
// read, so that a 64-bit process's ...\System32\... opens the file the
// system named rather than its 32-bit copy (or nothing). Nothing happens
// where the system has no redirector. Only the opening of the file goes
// between the two calls: a library loaded meanwhile would be the 64-bit one
// and fail for the rest of the program's life.
struct SystemFileRead {
    void* redirection;
    int off;
};
void BeginSystemFileRead(SystemFileRead* read);
void EndSystemFileRead(SystemFileRead* read);

// A path the system named, as library code of this program may open it: in
// the 32-bit layer of a 64-bit system, a path in the system folder goes
// through the alias the layer gives that folder's native files
// ("...\Sysnative\..."), so that the file is the one the system named with
// the redirector left on: code that may load a library (version reading,
// icon extraction) must never run with it off. Any other path, and a path
// whose alias would not fit, is copied as it is. Returns `output`.
const char* NativeSystemPath(const char* path, char* output, int size);

// 1 when the two native calls that reach a 64-bit process's memory exist.
int CanReadSixtyFourBit();
// Exactly `size` bytes at a 64-bit address; 1 on success.
int Read64(HANDLE process, ULONGLONG address, void* buffer, DWORD size);
// The address of the process's 64-bit environment block, 0 when unknown.
ULONGLONG QueryPeb64(HANDLE process);
// The process's loader list, in load order, in the process's own width; 0
// when it could not be reached.
int ListModulesLoader(const RemoteProcess& remote, HWND window, ModuleVisitor visitor,
                      ULONG_PTR value);
// The same for a 64-bit process seen from this program as a 32-bit one.
int ListModulesLoader64(HANDLE process, HWND window, ModuleVisitor visitor, ULONG_PTR value);
// One module per image allocation of the memory map, as far as the walk
// reaches; always 1.
int ListModulesByMemoryMap(HANDLE process, HWND window, ModuleVisitor visitor, ULONG_PTR value);
// The loader list where it can be read, else the memory map: 1, or
// MODULES_INCOMPLETE when only the memory map could be used.
int ListModules64(HANDLE process, HWND window, ModuleVisitor visitor, ULONG_PTR value);

#endif
