#include "sysinfo/suspend.h"
#include "sysinfo/perfdata.h"
#include "sysinfo/platform.h"

enum { SUSPENDED_HERE_CAPACITY = 64 };

// The processes this program suspended and did not resume, for a system
// whose process table does not tell the threads' states.
struct SuspendedProcess {
    DWORD processId;
    ULONGLONG createTime;
};
static SuspendedProcess suspendedHere[SUSPENDED_HERE_CAPACITY];
static int suspendedHereCount = 0;

// Suspends or resumes each thread of the process that a thread snapshot
// lists; 1 when every one of them was reached.
static int SuspendThreadByThread(DWORD processId, int resume) {
    if (!toolhelpApi.createToolhelp32Snapshot || !toolhelpApi.thread32First ||
        !toolhelpApi.thread32Next || !perfDataApi.openThread) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    HANDLE snapshot = toolhelpApi.createToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    THREADENTRY32 thread;
    thread.dwSize = sizeof thread;
    int reached = 0, missed = 0;
    DWORD error = ERROR_SUCCESS;
    for (BOOL more = toolhelpApi.thread32First(snapshot, &thread); more;
         more = toolhelpApi.thread32Next(snapshot, &thread)) {
        if (thread.th32OwnerProcessID != processId) {
            continue;
        }
        HANDLE handle = perfDataApi.openThread(THREAD_SUSPEND_RESUME, FALSE, thread.th32ThreadID);
        DWORD count = handle ? (resume ? ResumeThread(handle) : SuspendThread(handle))
                             : static_cast<DWORD>(-1);
        if (count == static_cast<DWORD>(-1)) {
            error = GetLastError();
            missed++;
        } else {
            reached++;
        }
        if (handle) {
            CloseHandle(handle);
        }
    }
    CloseHandle(snapshot);
    if (missed || !reached) {
        SetLastError(missed ? error : ERROR_INVALID_PARAMETER);
        return 0;
    }
    return 1;
}

int SuspendProcessThreads(HANDLE process, DWORD processId, int resume) {
    LONG(WINAPI * call)(HANDLE) = resume ? ntApi.ntResumeProcess : ntApi.ntSuspendProcess;
    if (!call) {
        return SuspendThreadByThread(processId, resume);
    }
    LONG status = call(process);
    if (status < 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    return 1;
}

static int SuspendedHereIndex(DWORD processId, ULONGLONG createTime) {
    for (int i = 0; i < suspendedHereCount; i++) {
        if (suspendedHere[i].processId == processId &&
            !IsOtherProcessTime(suspendedHere[i].createTime, createTime)) {
            return i;
        }
    }
    return -1;
}

void NoteSuspendedHere(DWORD processId, ULONGLONG createTime, int suspended) {
    int index = SuspendedHereIndex(processId, createTime);
    if (!suspended && index != -1) {
        suspendedHere[index] = suspendedHere[--suspendedHereCount];
    } else if (suspended && index == -1) {
        // When full, the oldest note gives way.
        if (suspendedHereCount == SUSPENDED_HERE_CAPACITY) {
            suspendedHere[0] = suspendedHere[--suspendedHereCount];
        }
        suspendedHere[suspendedHereCount].processId = processId;
        suspendedHere[suspendedHereCount].createTime = createTime;
        suspendedHereCount++;
    }
}

int IsProcessSuspended(const ProcessEntry* entry) {
    if (entry->suspendState != SUSPEND_UNKNOWN) {
        return entry->suspendState == SUSPEND_ALL;
    }
    return entry->kind == KIND_WIN32 &&
           SuspendedHereIndex(entry->processId, entry->createTime) != -1;
}
