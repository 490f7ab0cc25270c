// Process handles kept from one refresh pass to the next, by process id, so
// that a known process is asked only what may change. A process whose handle
// is open keeps its id, so an id reported again is the same process; a pass
// that no longer reports it closes the handle.
#ifndef TOLVANE_SYSINFO_PROCESSHANDLES_H
#define TOLVANE_SYSINFO_PROCESSHANDLES_H

#include <windows.h>

struct KeptProcess {
    DWORD processId; // 0: free slot
    HANDLE handle;
    DWORD pass;          // the last pass that reported the process
    DWORD priorityClass; // what GetPriorityClass last answered through the handle
    // The base priority the system's process table gave in the pass of that
    // answer, if the pass had the table, and whether the two last answers
    // agreed under the same base priority.
    int withBasePriority;
    LONG basePriority;
    int settled;
};

// Starts a pass: every handle not touched until EndHandlePass is closed then.
void BeginHandlePass();
// The handle kept for the id, marked as reported in this pass; null when none.
KeptProcess* TakeKeptProcess(DWORD processId);
// Keeps the handle for the id from now on. Returns null when the table is
// full; the caller then still owns the handle.
KeptProcess* KeepProcessHandle(DWORD processId, HANDLE handle);
// Closes the handles of processes this pass did not report.
void EndHandlePass();

// Closes every process handle kept from earlier passes.
void ReleaseProcessHandles();
// How many process handles are kept from one pass to the next.
int KeptProcessHandleCount();

#endif
