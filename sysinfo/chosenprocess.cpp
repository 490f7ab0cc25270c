#include "sysinfo/chosenprocess.h"
#include "sysinfo/ntbackend.h"
#include "sysinfo/platform.h"

ChosenProcess chosenProcess;

// The least rights a process can be opened with, where the system has them
// (it does from the NT 6 family on): enough for its times and exit code.
enum { QUERY_LIMITED_ACCESS = 0x1000 };

ULONGLONG ProcessCreationTime(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return 0;
    }
    return KnownCreationTime(FileTimeValue(created), LatestCreationTime());
}

int ProcessHandleEnded(HANDLE process) {
    DWORD waited = WaitForSingleObject(process, 0);
    if (waited != WAIT_FAILED) {
        return waited == WAIT_OBJECT_0;
    }
    DWORD code = 0;
    return GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
}

void ReleaseChosenProcess(ChosenProcess* chosen) {
    if (chosen->handle) {
        CloseHandle(chosen->handle);
    }
    chosen->handle = nullptr;
    chosen->processId = chosen->hostProcessId = 0;
    chosen->createTime = 0;
    chosen->task16 = 0;
    chosen->ended = 0;
}

// Every opening of the chosen process by its id goes through the entry
// table, where it is found.
static HANDLE OpenById(DWORD access, DWORD processId) {
    return ntApi.openProcess ? ntApi.openProcess(access, FALSE, processId)
                             : OpenProcess(access, FALSE, processId);
}

// Opens the process by its id with the access and the least rights that read
// its times and wait on it: where the system has none lesser, the full
// query right.
static HANDLE OpenForCheck(DWORD access, DWORD processId) {
    HANDLE process = OpenById(access | QUERY_LIMITED_ACCESS | SYNCHRONIZE, processId);
    return process ? process
                   : OpenById(access | PROCESS_QUERY_INFORMATION | SYNCHRONIZE, processId);
}

// A handle that keeps the id from going to another process, for one whose
// time cannot tell it apart.
static HANDLE OpenPin(DWORD processId) {
    HANDLE process = OpenForCheck(0, processId);
    return process ? process : OpenById(SYNCHRONIZE, processId);
}

// What the native process table says of a process that cannot be opened:
// running when it lists the id with the chosen time, ended when it lists the
// id with another time or not at all; unknown without the table or a time.
static int TableState(DWORD processId, ULONGLONG createTime) {
    ULONGLONG listed = 0;
    int found = FindInProcessTable(processId, &listed);
    if (found < 0) {
        return CHOSEN_UNKNOWN;
    }
    if (found == 0) {
        return CHOSEN_ENDED;
    }
    if (createTime == 0 || listed == 0) {
        return CHOSEN_UNKNOWN;
    }
    return listed == createTime ? CHOSEN_RUNNING : CHOSEN_ENDED;
}

// What a search of a process's 16-bit tasks looks for, and whether it met it.
struct TaskSearch {
    DWORD threadId;
    WORD task16;
    int found;
};

static BOOL WINAPI MatchTask(DWORD threadId, WORD, WORD task16, char*, char*, LPARAM value) {
    TaskSearch* search = reinterpret_cast<TaskSearch*>(value);
    search->found = threadId == search->threadId && task16 == search->task16;
    return search->found;
}

// Whether the 16-bit task still runs in its process, as that process's task
// list names it (by its thread id and its task handle).
static int TaskListed(const ChosenProcess* chosen) {
    if (!ntApi.vdmEnumTaskWowEx) {
        return 1;
    }
    TaskSearch search = {chosen->processId, chosen->task16, 0};
    ntApi.vdmEnumTaskWowEx(chosen->hostProcessId, MatchTask, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Checks at the moment of choice that the row's process is still the one
// its id names (its time, or the process table where it cannot be opened);
// where no time tells it apart, a handle is held from now.
static void PinChosenHost(ChosenProcess* chosen) {
    HANDLE process = OpenForCheck(0, chosen->hostProcessId);
    ULONGLONG created = process ? ProcessCreationTime(process) : 0;
    if (chosen->createTime == 0) {
        // Without the row's time (the Windows 95 family, a 16-bit task's
        // process) the process the id names now is taken: by its time where
        // the system tells it, else by a handle held from now.
        chosen->createTime = ntFamily ? created : 0;
        if (chosen->createTime == 0) {
            chosen->handle = process ? process : OpenPin(chosen->hostProcessId);
            return;
        }
    } else {
        int state = created ? (created == chosen->createTime ? CHOSEN_RUNNING : CHOSEN_ENDED)
                            : TableState(chosen->hostProcessId, chosen->createTime);
        if (state == CHOSEN_ENDED) {
            // The row's process has ended already and the id went on.
            chosen->ended = CHOSEN_ENDED;
        } else if (state == CHOSEN_UNKNOWN) {
            chosen->handle = process ? process : OpenPin(chosen->hostProcessId);
            return;
        }
    }
    if (process) {
        CloseHandle(process);
    }
}

void ChooseProcess(ChosenProcess* chosen, const ProcessEntry* entry) {
    ReleaseChosenProcess(chosen);
    if (!entry) {
        return;
    }
    chosen->processId = entry->processId;
    chosen->kind = entry->kind;
    chosen->hostProcessId = entry->processId;
    // The Windows 95 family's times are when this program first saw the
    // process, not the system's: there the held handle tells.
    chosen->createTime = ntFamily ? entry->createTime : 0;
    if (entry->kind == KIND_WOW_TASK) {
        // The task's row carries no time: its process is held from now, and
        // the task must still be listed in that process.
        chosen->hostProcessId = entry->parentProcessId;
        chosen->task16 = entry->task16;
        chosen->createTime = 0;
    }
    PinChosenHost(chosen);
    if (entry->kind == KIND_WOW_TASK && !chosen->ended && !TaskListed(chosen)) {
        chosen->ended = CHOSEN_ENDED;
    }
}

// Opens the process the chosen identity belongs to (the chosen one, or the
// one running the chosen task) with the access, never another that took its
// id. Null when it cannot: `*state` then says whether it runs (the access
// was refused), has ended, or cannot be told apart. An access of 0 only
// answers the state.
static HANDLE OpenChosenHost(ChosenProcess* chosen, DWORD access, int* state) {
    *state = CHOSEN_RUNNING;
    DWORD processId = chosen->hostProcessId;
    if (chosen->ended == CHOSEN_ENDED || (chosen->handle && ProcessHandleEnded(chosen->handle))) {
        *state = chosen->ended = CHOSEN_ENDED;
        return nullptr;
    }
    if (chosen->handle) {
        // The held handle keeps the id: it names the chosen process still.
        return access ? OpenById(access, processId) : nullptr;
    }
    HANDLE process = OpenForCheck(access, processId);
    if (!process) {
        // An id that names no process: the chosen one has ended. Refused:
        // the process table tells whether the id is still the chosen one's.
        *state = GetLastError() == ERROR_INVALID_PARAMETER
                     ? CHOSEN_ENDED
                     : TableState(processId, chosen->createTime);
        if (*state == CHOSEN_RUNNING && access) {
            // Opened with the access alone, the handle keeps the id: the
            // table, read again, says whose it is.
            process = OpenById(access, processId);
            *state = process ? TableState(processId, chosen->createTime) : CHOSEN_RUNNING;
            if (process && *state != CHOSEN_RUNNING) {
                CloseHandle(process);
                process = nullptr;
            }
        }
        if (*state == CHOSEN_ENDED) {
            chosen->ended = CHOSEN_ENDED;
        }
        return process;
    }
    if (IsOtherProcessTime(ProcessCreationTime(process), chosen->createTime) ||
        ProcessHandleEnded(process)) {
        CloseHandle(process);
        *state = chosen->ended = CHOSEN_ENDED;
        return nullptr;
    }
    if (!access) {
        CloseHandle(process);
        return nullptr;
    }
    return process;
}

HANDLE OpenChosenProcess(ChosenProcess* chosen, DWORD access, int* state) {
    if (chosen->kind != KIND_WOW_TASK) {
        return OpenChosenHost(chosen, access, state);
    }
    // A task has ended with its process, or when its process lists it no
    // more; its thread id may name another process by now, and is never
    // opened as one.
    OpenChosenHost(chosen, 0, state);
    if (*state == CHOSEN_RUNNING && !TaskListed(chosen)) {
        *state = chosen->ended = CHOSEN_ENDED;
    }
    return nullptr;
}

int ChosenProcessEnded(ChosenProcess* chosen) {
    if (chosen->processId == 0) {
        return CHOSEN_RUNNING;
    }
    int state = CHOSEN_RUNNING;
    OpenChosenProcess(chosen, 0, &state);
    return state;
}

HANDLE HoldChosenProcess(ChosenProcess* chosen, int* state) {
    HANDLE process = nullptr;
    if (chosen->kind == KIND_WOW_TASK) {
        *state = ChosenProcessEnded(chosen);
    } else if (chosen->handle) {
        *state = ChosenProcessEnded(chosen);
        if (*state == CHOSEN_RUNNING) {
            DuplicateHandle(GetCurrentProcess(), chosen->handle, GetCurrentProcess(), &process, 0,
                            FALSE, DUPLICATE_SAME_ACCESS);
        }
    } else {
        process = OpenChosenProcess(chosen, SYNCHRONIZE, state);
    }
    return process;
}
