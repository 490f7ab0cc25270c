// Suspending and resuming a whole process, and what is known of whether a
// process is suspended.
#ifndef TOLVANE_SYSINFO_SUSPEND_H
#define TOLVANE_SYSINFO_SUSPEND_H

#include "sysinfo/process_entry.h"

#include <windows.h>

// Suspends (or resumes) every thread of the process of the handle, which
// has the right to suspend and resume: through the system's process-wide
// call where it has one, else thread by thread. 1 on success; 0 with the
// last error set.
int SuspendProcessThreads(HANDLE process, DWORD processId, int resume);
// Notes that this program suspended (or resumed) the process.
void NoteSuspendedHere(DWORD processId, ULONGLONG createTime, int suspended);
// Whether the process is suspended: as the native table's thread states
// tell, or, where the table tells none, as this program left it.
int IsProcessSuspended(const ProcessEntry* entry);

#endif
