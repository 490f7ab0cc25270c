// The process the user chose for an action or a detail window. Ids are
// reused: the chosen process is its id with its creation time, and where
// no time tells it apart (the Windows 95 family, a process whose times
// cannot be read), a handle held from the moment of choice, which keeps
// the id from going to another process. Every action and every read
// checks it first, so that none ever reaches a process that took the id.
// A 16-bit task is told apart by the process that runs it, chosen the same
// way, and by its own thread id and task handle within that process.
#ifndef TOLVANE_SYSINFO_CHOSENPROCESS_H
#define TOLVANE_SYSINFO_CHOSENPROCESS_H

#include "sysinfo/process_entry.h"

#include <windows.h>

struct ChosenProcess {
    DWORD processId; // 0: none chosen
    DWORD kind;      // a 16-bit task's id is a thread's
    // The process whose creation time and held handle these are: the
    // chosen one, or the one that runs the chosen 16-bit task.
    DWORD hostProcessId;
    ULONGLONG createTime;
    HANDLE handle; // held only where the time cannot tell
    WORD task16;   // a 16-bit task's handle within its process
    int ended;     // found ended: it stays so
};

// What the actions and detail windows act on: one is open at a time.
extern ChosenProcess chosenProcess;

// Makes the entry's process the chosen one (null: none), letting go of the
// one chosen before.
void ChooseProcess(ChosenProcess* chosen, const ProcessEntry* entry);
void ReleaseChosenProcess(ChosenProcess* chosen);
// Opens the chosen process with the access. Null when it cannot: `*ended`
// then tells whether that is because it has ended (its id may name another
// process now) rather than access. A 16-bit task's id is a thread's, never
// opened as a process: always null, with `*ended` set once it has ended.
HANDLE OpenChosenProcess(ChosenProcess* chosen, DWORD access, int* ended);
// Whether the chosen process, or 16-bit task, has ended; a process that
// cannot be asked counts as running.
int ChosenProcessEnded(ChosenProcess* chosen);

// The creation time of the process of a handle (the system's 100 ns
// units), 0 when the system does not tell it.
ULONGLONG ProcessCreationTime(HANDLE process);
// Whether the process of the handle has ended, by its signal or, for a
// handle without the right to wait, its exit code.
int ProcessHandleEnded(HANDLE process);

#endif
