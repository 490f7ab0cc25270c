// The few structures of another process that Tolvane reads (its environment
// block, its process parameters, its loader's module list) in both widths,
// and the one read of another process's memory that every reader uses.
// A 32-bit program meets 64-bit processes on a 64-bit system; the 64-bit
// program meets 32-bit ones: each reads a process in that process's width.
#ifndef TOLVANE_SYSINFO_REMOTELAYOUT_H
#define TOLVANE_SYSINFO_REMOTELAYOUT_H

#include <windows.h>

// Offsets of one width's structures, as far as Tolvane reads them.
struct RemoteLayout {
    DWORD pointerSize;
    DWORD pebLoaderData;   // environment block: the loader's data
    DWORD pebParameters;   // environment block: the process parameters
    DWORD loaderLoadOrder; // loader data: the load-order list's head
    DWORD loaderListHeads; // loader data: the three lists' heads (six links)
    DWORD entryBase;       // loader entry: the module's base
    DWORD entryImageSize;
    DWORD entryFullName;
    DWORD entryBaseName;
    DWORD entrySize; // a loader entry, as far as its base name
    DWORD parametersFlags;
    DWORD parametersDirectory;
    DWORD parametersCommandLine;
    DWORD parametersEnvironment;
    DWORD parametersSize; // the process parameters, as far as the environment
};
extern const RemoteLayout remoteLayout32;
extern const RemoteLayout remoteLayout64;

enum {
    REMOTE_BLOCK_SIZE = 0x90,  // holds the largest structure of either layout
    PARAMETERS_NORMALIZED = 1, // the parameters' strings hold addresses, not offsets
};

// The native call's basic information about a process, in this program's width.
struct BasicInformation {
    LONG_PTR exitStatus;
    ULONG_PTR pebAddress;
    ULONG_PTR affinityMask;
    LONG_PTR basePriority;
    ULONG_PTR processId;
    ULONG_PTR parentProcessId;
};
// 1 when the native call answered.
int QueryBasicInformation(HANDLE process, BasicInformation* basic);

// A process as its readers see it: its handle, the width of its structures
// and where its environment block lies.
struct RemoteProcess {
    HANDLE handle;
    const RemoteLayout* layout;
    ULONGLONG peb;
};
// Finds the process's environment block and its width: 1, or 0 when it
// cannot be reached from this program.
int FindRemoteProcess(HANDLE process, RemoteProcess* remote);

// Exactly `size` bytes at `address`, through the transport the two widths
// need: the 64-bit read of a 64-bit system's 32-bit layer from this program
// as a 32-bit one into a 64-bit process, ReadProcessMemory otherwise. 1 on
// success.
int ReadRemote(const RemoteProcess& remote, ULONGLONG address, void* buffer, DWORD size);
// A pointer of the layout's width inside a block read from the process.
ULONGLONG PointerAt(const RemoteLayout& layout, const BYTE* block, DWORD offset);
// A pointer of the layout's width at `address` in the process; 0 when it
// cannot be read.
ULONGLONG ReadRemotePointer(const RemoteProcess& remote, ULONGLONG address);

// A counted wide string of the process: its length in bytes and the
// address of its characters.
struct RemoteString {
    DWORD length;
    ULONGLONG buffer;
};
RemoteString StringAt(const RemoteLayout& layout, const BYTE* block, DWORD offset);
// A new ANSI copy of the string whose characters lie at `base` plus its
// address (free() it), or null when it is empty or cannot be read.
char* ReadRemoteString(const RemoteProcess& remote, const RemoteString& string, ULONGLONG base);
// Up to `limit` bytes from `address`, page by page, ending at the first page
// that cannot be read, or once a wide block's end (two zero characters) has
// been read when `toBlockEnd`: a new buffer with two zero bytes after what
// was read (free() it), or null. `bytes` gets the count read.
char* ReadRemoteBlockPaged(const RemoteProcess& remote, ULONGLONG address, DWORD limit,
                           int toBlockEnd, DWORD* bytes);

#endif
