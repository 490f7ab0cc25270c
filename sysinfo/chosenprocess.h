// The process the user chose for an action or a detail window. Ids are
// reused: the chosen process is its id with its creation time, read through
// a handle with the least rights the system offers or, where the process
// cannot be opened at all, from the native process table; where no time
// tells it apart (the Windows 95 family), a handle held from the moment of
// choice keeps the id from going to another process. Every action and every
// read checks it first, so that none ever reaches a process that took the
// id; one that cannot tell acts on nothing and says why.
// A 16-bit task is told apart by the process that runs it, chosen the same
// way, and by its own thread id and task handle within that process.
#ifndef TOLVANE_SYSINFO_CHOSENPROCESS_H
#define TOLVANE_SYSINFO_CHOSENPROCESS_H

#include "sysinfo/process_entry.h"

#include <windows.h>

// What is known of the chosen process: it runs (it is that process), it
// has ended (its id may name another process now), or neither can be told.
enum { CHOSEN_RUNNING = 0, CHOSEN_ENDED = 1, CHOSEN_UNKNOWN = 2 };

struct ChosenProcess {
    DWORD processId; // 0: none chosen
    DWORD kind;      // a 16-bit task's id is a thread's
    // The process whose creation time and held handle these are: the
    // chosen one, or the one that runs the chosen 16-bit task.
    DWORD hostProcessId;
    ULONGLONG createTime;
    HANDLE handle; // held only where the time cannot tell
    WORD task16;   // a 16-bit task's handle within its process
    int ended;     // CHOSEN_ENDED once found ended: it stays so
};

// What the actions and detail windows act on: one is open at a time.
extern ChosenProcess chosenProcess;

// Makes the entry's process the chosen one (null: none), letting go of the
// one chosen before.
void ChooseProcess(ChosenProcess* chosen, const ProcessEntry* entry);
void ReleaseChosenProcess(ChosenProcess* chosen);
// Opens the chosen process with the access. Null when it cannot: `*state`
// then says why: CHOSEN_RUNNING (the access was refused), CHOSEN_ENDED or
// CHOSEN_UNKNOWN. A 16-bit task's id is a thread's, never opened as a
// process: always null, with the task's state.
HANDLE OpenChosenProcess(ChosenProcess* chosen, DWORD access, int* state);
// The chosen process's state: CHOSEN_RUNNING (0) only when it is known to
// run still.
int ChosenProcessEnded(ChosenProcess* chosen);
// A handle that keeps the chosen process's id while something outside this
// program acts on it by its id (a debugger attaching): null, with the state
// that says why, when there is none.
HANDLE HoldChosenProcess(ChosenProcess* chosen, int* state);

// The creation time of the process of a handle (the system's 100 ns
// units), 0 when the system does not tell it.
ULONGLONG ProcessCreationTime(HANDLE process);
// Whether the process of the handle has ended, by its signal or, for a
// handle without the right to wait, its exit code.
int ProcessHandleEnded(HANDLE process);

#endif
