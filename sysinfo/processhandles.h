// Process handles kept from one refresh pass to the next, by process id, so
// that a known process is asked only what may change. A process whose handle
// is open keeps its id, so an id reported again is the same process; a pass
// that no longer reports it closes the handle.
#ifndef TOLVANE_SYSINFO_PROCESSHANDLES_H
#define TOLVANE_SYSINFO_PROCESSHANDLES_H

#include "sysinfo/process_entry.h"

#include <windows.h>

// What a back-end learned of a process when it read it whole: the texts and
// parent that never change while the process runs, handed down again by
// every later pass without asking the process. Until then, a process met
// while the pass had no time left to read it waits here for a later slice,
// with what the pass already knew of it.
struct LearnedProcess {
    int complete; // read whole; 0 while it waits
    int waiting;  // queued for a slice
    DWORD kind;
    DWORD parentProcessId;
    char name[260]; // while it waits: the system's image name, if any
    char path[260];
};

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
    ULONGLONG createTime;    // of the process the handle is for; 0 when unknown
    LearnedProcess* learned; // null until the process was met by a back-end
    DWORD_PTR affinityMask;  // what the last affinity query answered
    int affinityKnown;       // 0: ask at the next pass
};

// Starts a pass: every handle not touched until EndHandlePass is closed then.
void BeginHandlePass();
// The handle kept for the id, marked as reported in this pass; null when none.
KeptProcess* TakeKeptProcess(DWORD processId);
// Keeps the handle for the id from now on. Returns null when the table is
// full; the caller then still owns the handle.
KeptProcess* KeepProcessHandle(DWORD processId, HANDLE handle);
// Closes the handle of a process that has ended; the slot is freed when
// the pass ends, unless the id is kept again before that.
void ForgetKeptProcess(KeptProcess* kept);
// Closes the handles of processes this pass did not report.
void EndHandlePass();
// The kept handle for the id, without reporting it; null when none.
KeptProcess* FindKeptProcess(DWORD processId);

// The process's record, made empty when it has none; null when out of memory.
LearnedProcess* LearnedRecord(KeptProcess* kept);
// Notes what an entry read whole says of its process.
void LearnProcess(KeptProcess* kept, const ProcessEntry* entry);
// The entry a known process gives without being asked: kind, parent, name
// and path of its record.
void FillFromLearned(const KeptProcess* kept, ProcessEntry* entry);
// Forgets every record, so that the next pass reads every process whole
// again; the handles stay.
void ForgetLearnedProcesses();

// Notes a class read through the kept handle, with the base priority the
// system's process list gave in the same pass (null without one). The class
// counts as settled once two answers in a row agree under the same base
// priority, so that a class changed between the list and the answer is
// read again.
void NoteQueriedClass(KeptProcess* kept, DWORD priorityClass, const LONG* basePriority);
// The class of a known process. The base priority in the system's process
// list moves with the class (its values differ between systems), so the
// class is asked again only when the base priority changed, while it is not
// settled, or when the pass has no base priorities.
DWORD KeptPriorityClass(KeptProcess* kept, const LONG* basePriority);

// The affinity of a known process. Nothing in the system's process table
// shows it, and asking every process in every pass costs as much as the rest
// of the pass: each pass asks a share of the known processes, so that each
// is asked once every AFFINITY_PASSES passes, and a process whose affinity
// is not known yet at once.
enum { AFFINITY_PASSES = 4 };
DWORD_PTR KeptAffinity(KeptProcess* kept);
// The next pass asks the process for its affinity (this program changed it).
void ForgetKeptAffinity(DWORD processId);

// Closes every process handle kept from earlier passes.
void ReleaseProcessHandles();
// How many process handles are kept from one pass to the next.
int KeptProcessHandleCount();

#endif
