#include "sysinfo/processhandles.h"

enum {
    HANDLE_TABLE_SIZE = 8192, // a power of two
    HANDLE_TABLE_LIMIT = HANDLE_TABLE_SIZE / 2,
};

static KeptProcess keptHandles[HANDLE_TABLE_SIZE];
static int keptHandleCount = 0;
static DWORD passNumber = 0;

static KeptProcess* FindKeptSlot(DWORD processId) {
    DWORD index = (processId * 2654435761u) & (HANDLE_TABLE_SIZE - 1);
    while (keptHandles[index].processId != 0 && keptHandles[index].processId != processId) {
        index = (index + 1) & (HANDLE_TABLE_SIZE - 1);
    }
    return &keptHandles[index];
}

void BeginHandlePass() {
    passNumber++;
}

KeptProcess* TakeKeptProcess(DWORD processId) {
    if (processId == 0) {
        return nullptr;
    }
    KeptProcess* slot = FindKeptSlot(processId);
    if (slot->processId == 0) {
        return nullptr;
    }
    slot->pass = passNumber;
    return slot;
}

KeptProcess* KeepProcessHandle(DWORD processId, HANDLE handle) {
    if (processId == 0) {
        return nullptr;
    }
    KeptProcess* slot = FindKeptSlot(processId);
    if (slot->processId == 0) {
        // Half full at most, so that every probe ends at a free slot.
        if (keptHandleCount >= HANDLE_TABLE_LIMIT) {
            return nullptr;
        }
        keptHandleCount++;
    } else if (slot->handle && slot->handle != handle) {
        CloseHandle(slot->handle);
    }
    slot->processId = processId;
    slot->handle = handle;
    slot->pass = passNumber;
    slot->priorityClass = 0;
    slot->withBasePriority = 0;
    slot->basePriority = 0;
    slot->settled = 0;
    slot->createTime = 0;
    return slot;
}

void ForgetKeptProcess(KeptProcess* kept) {
    if (kept->handle) {
        CloseHandle(kept->handle);
    }
    kept->handle = nullptr;
    kept->pass = passNumber - 1;
}

// Closes the handles of unreported processes and packs the survivors into a
// fresh table, so that no probe runs over a freed slot.
void EndHandlePass() {
    static KeptProcess survivors[HANDLE_TABLE_SIZE];
    int count = 0;
    for (KeptProcess& slot : keptHandles) {
        if (slot.processId == 0) {
            continue;
        }
        if (slot.pass == passNumber) {
            survivors[count++] = slot;
        } else if (slot.handle) {
            CloseHandle(slot.handle);
        }
        slot.processId = 0;
    }
    keptHandleCount = 0;
    for (int i = 0; i < count; i++) {
        *FindKeptSlot(survivors[i].processId) = survivors[i];
        keptHandleCount++;
    }
}

void ReleaseProcessHandles() {
    passNumber++;
    EndHandlePass();
}

int KeptProcessHandleCount() {
    return keptHandleCount;
}

void NoteQueriedClass(KeptProcess* kept, DWORD priorityClass, const LONG* basePriority) {
    kept->settled = basePriority && kept->withBasePriority && kept->basePriority == *basePriority &&
                    kept->priorityClass == priorityClass;
    kept->priorityClass = priorityClass;
    kept->withBasePriority = basePriority != nullptr;
    kept->basePriority = basePriority ? *basePriority : 0;
}

DWORD KeptPriorityClass(KeptProcess* kept, const LONG* basePriority) {
    if (!basePriority || !kept->settled || kept->basePriority != *basePriority) {
        NoteQueriedClass(kept, GetPriorityClass(kept->handle), basePriority);
    }
    return kept->priorityClass;
}
