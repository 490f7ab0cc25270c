// The record a back-end builds for one process (or one 16-bit task) and hands
// to the main list's merge; the list keeps its nodes in the same layout.
#ifndef TOLVANE_SYSINFO_PROCESS_ENTRY_H
#define TOLVANE_SYSINFO_PROCESS_ENTRY_H

#include <windows.h>

enum {
    KIND_WIN32 = 0,
    KIND_WIN16 = 1,
    KIND_WOW_TASK = 2,
};

enum { SUSPEND_UNKNOWN = 0, SUSPEND_RUNNING = 1, SUSPEND_ALL = 2 };

// The one flag a back-end may set; every other bit of `flags` belongs to the list.
enum { ENTRY_NO_ACCESS = 0x2 };

struct ProcessEntry {
    ProcessEntry* next;
    ProcessEntry* prev;
    DWORD flags;
    char name[260];
    DWORD processId;
    DWORD parentProcessId;
    DWORD priorityClass;
    LONG basePriority;
    DWORD threadCount;
    DWORD kind;
    WORD task16;
    DWORD_PTR affinityMask;
    DWORD markTime;
    char path[260];
    // When the process was created (the system's 100 ns units), 0 when
    // unknown. An id that comes back with another time names a new process.
    ULONGLONG createTime;
    // What the native process table tells of the process in each pass: its
    // processor time (user and kernel, in 100 ns units), working set and
    // private bytes (in bytes), its handle count, and when the table was
    // read (100 ns units of a steady clock). `figureTime` is 0 when the
    // pass had no table: the figures are then unknown.
    ULONGLONG cpuTime;
    ULONGLONG figureTime;
    ULONGLONG workingSet;
    ULONGLONG privateBytes;
    DWORD handleCount;
    // Whether every thread of the process waits suspended, as the native
    // table's thread records tell: SUSPEND_UNKNOWN where the table gives no
    // thread states (or there is no table).
    DWORD suspendState;
    // The list's own: the process's share of the machine over the last
    // period, in tenths of a percent; -1 until two passes measured it.
    LONG cpuTenths;
};

// The system's 32-bit layer hands a 32-bit program a memory figure of 4 GB
// or more as the largest value its 32-bit field holds: such a figure is
// "at least 4 GB", never a size of its own (sizes are whole pages).
const ULONGLONG FIGURE_AT_LEAST_4GB = 0xFFFFFFFF;

// A system time as one number of 100 ns units.
inline ULONGLONG FileTimeValue(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The latest creation time a process can have: the present, with a minute
// of leeway for a clock set back meanwhile.
inline ULONGLONG LatestCreationTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return FileTimeValue(now) + 600000000ULL;
}

// A creation time as the system reported it, or 0 (not known) for one still
// to come: a process that is being created can show one before the system
// has set it.
inline ULONGLONG KnownCreationTime(ULONGLONG reported, ULONGLONG latest) {
    return reported > latest ? 0 : reported;
}

// Two creation times tell two processes apart only when both are known:
// an id that comes back with another time names a new process.
inline int IsOtherProcessTime(ULONGLONG first, ULONGLONG second) {
    return first != 0 && second != 0 && first != second;
}

// Called once per module by ListModules; the strings live only during the call.
// The base address is as wide as a 64-bit process's: a 32-bit program sees
// such modules above 4 GB.
typedef int (*ModuleVisitor)(ULONG_PTR userValue, HWND window, const char* moduleName,
                             ULONGLONG baseAddress, DWORD imageSize, const char* fullPath);

#endif
