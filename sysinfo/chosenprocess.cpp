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
    chosen->processId = 0;
    chosen->createTime = 0;
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

void ChooseProcess(ChosenProcess* chosen, const ProcessEntry* entry) {
    ReleaseChosenProcess(chosen);
    if (!entry) {
        return;
    }
    chosen->processId = entry->processId;
    chosen->kind = entry->kind;
    // The Windows 95 family's times are when this program first saw the
    // process, not the system's: there the held handle tells.
    chosen->createTime = ntFamily ? entry->createTime : 0;
    if (entry->kind == KIND_WOW_TASK) {
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

HANDLE OpenChosenProcess(ChosenProcess* chosen, DWORD access, int* ended) {
    *ended = 0;
    if (chosen->kind == KIND_WOW_TASK) {
        return OpenProcess(access, FALSE, chosen->processId);
    }
    if (chosen->ended || (chosen->handle && ProcessHandleEnded(chosen->handle))) {
        *ended = chosen->ended = 1;
        return nullptr;
    }
    HANDLE process =
        OpenProcess(access | PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, chosen->processId);
    if (!process && GetLastError() == ERROR_ACCESS_DENIED && chosen->handle) {
        // The held handle keeps the id: it names the chosen process still.
        process = OpenProcess(access, FALSE, chosen->processId);
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

int ChosenProcessEnded(ChosenProcess* chosen) {
    if (chosen->processId == 0 || chosen->kind == KIND_WOW_TASK) {
        return 0;
    }
    int ended = 0;
    HANDLE process = OpenChosenProcess(chosen, 0, &ended);
    if (process) {
        CloseHandle(process);
    }
    return ended;
}
