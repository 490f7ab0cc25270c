#include "sysinfo/chosenprocess.h"
#include "sysinfo/platform.h"

ChosenProcess chosenProcess;

ULONGLONG ProcessCreationTime(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return 0;
    }
    return FileTimeValue(created);
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

// A handle that keeps the id, for a process whose time cannot be read now.
static HANDLE OpenPin(DWORD processId) {
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (!process) {
        process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    }
    return process;
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
        // The task's row carries no time: its process's is read now, and
        // the task must still be listed in that process.
        chosen->hostProcessId = entry->parentProcessId;
        chosen->task16 = entry->task16;
        HANDLE host = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, chosen->hostProcessId);
        chosen->createTime = host && ntFamily ? ProcessCreationTime(host) : 0;
        if (host) {
            CloseHandle(host);
        }
        if (chosen->createTime == 0) {
            chosen->handle = OpenPin(chosen->hostProcessId);
        }
        chosen->ended = !TaskListed(chosen);
        return;
    }
    if (chosen->createTime == 0) {
        chosen->handle = OpenPin(entry->processId);
        return;
    }
    // The time tells the process apart only where it can be read.
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry->processId);
    ULONGLONG created = process ? ProcessCreationTime(process) : 0;
    if (IsOtherProcessTime(created, chosen->createTime)) {
        // The row's process has ended already and the id went on.
        chosen->ended = 1;
    } else if (created == 0) {
        chosen->handle = OpenPin(entry->processId);
    }
    if (process) {
        CloseHandle(process);
    }
}

// Opens the process the chosen identity belongs to (the chosen one, or the
// one running the chosen task), checked against its time or held handle.
static HANDLE OpenChosenHost(ChosenProcess* chosen, DWORD access, int* ended) {
    if (chosen->ended || (chosen->handle && ProcessHandleEnded(chosen->handle))) {
        *ended = chosen->ended = 1;
        return nullptr;
    }
    DWORD processId = chosen->hostProcessId;
    HANDLE process =
        OpenProcess(access | PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, processId);
    if (!process && GetLastError() == ERROR_ACCESS_DENIED && chosen->handle) {
        // The held handle keeps the id: it names the chosen process still.
        process = OpenProcess(access, FALSE, processId);
    }
    if (!process) {
        // An id that names no process: the chosen one has ended.
        *ended = chosen->ended = GetLastError() == ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    if (IsOtherProcessTime(ProcessCreationTime(process), chosen->createTime) ||
        (!chosen->handle && ProcessHandleEnded(process))) {
        CloseHandle(process);
        *ended = chosen->ended = 1;
        return nullptr;
    }
    return process;
}

HANDLE OpenChosenProcess(ChosenProcess* chosen, DWORD access, int* ended) {
    *ended = 0;
    if (chosen->kind != KIND_WOW_TASK) {
        return OpenChosenHost(chosen, access, ended);
    }
    // A task has ended with its process, or when its process lists it no
    // more; its thread id may name another process by now, and is never
    // opened as one.
    HANDLE host = OpenChosenHost(chosen, 0, ended);
    if (host) {
        CloseHandle(host);
    }
    if (!*ended && !TaskListed(chosen)) {
        *ended = chosen->ended = 1;
    }
    return nullptr;
}

int ChosenProcessEnded(ChosenProcess* chosen) {
    if (chosen->processId == 0) {
        return 0;
    }
    int ended = 0;
    HANDLE process = OpenChosenProcess(chosen, 0, &ended);
    if (process) {
        CloseHandle(process);
    }
    return ended;
}
