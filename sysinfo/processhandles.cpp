#include "sysinfo/processhandles.h"
#include "sysinfo/privileges.h"

#include <stdlib.h>
#include <string.h>

enum {
    HANDLE_TABLE_SIZE = 8192, // a power of two
    HANDLE_TABLE_LIMIT = HANDLE_TABLE_SIZE / 2,
};

static KeptProcess keptHandles[HANDLE_TABLE_SIZE];
static int keptHandleCount = 0;
static DWORD passNumber = 0;
// How many kept slots the current pass has reported so far.
static int reportedCount = 0;

// Marks the slot as reported in this pass, counting it once.
static void MarkReported(KeptProcess* slot) {
    if (slot->pass != passNumber) {
        slot->pass = passNumber;
        reportedCount++;
    }
}

static KeptProcess* FindKeptSlot(DWORD processId) {
    DWORD index = (processId * 2654435761u) & (HANDLE_TABLE_SIZE - 1);
    while (keptHandles[index].processId != 0 && keptHandles[index].processId != processId) {
        index = (index + 1) & (HANDLE_TABLE_SIZE - 1);
    }
    return &keptHandles[index];
}

static void FreeLearned(KeptProcess* slot) {
    free(slot->learned);
    slot->learned = nullptr;
}

KeptProcess* FindKeptProcess(DWORD processId) {
    if (processId == 0) {
        return nullptr;
    }
    KeptProcess* slot = FindKeptSlot(processId);
    return slot->processId == 0 ? nullptr : slot;
}

LearnedProcess* LearnedRecord(KeptProcess* kept) {
    if (!kept->learned) {
        kept->learned = static_cast<LearnedProcess*>(calloc(1, sizeof(LearnedProcess)));
    }
    return kept->learned;
}

void LearnProcess(KeptProcess* kept, const ProcessEntry* entry) {
    LearnedProcess* learned = LearnedRecord(kept);
    if (!learned) {
        return;
    }
    learned->complete = 1;
    learned->kind = entry->kind;
    learned->parentProcessId = entry->parentProcessId;
    memcpy(learned->name, entry->name, sizeof learned->name);
    memcpy(learned->path, entry->path, sizeof learned->path);
}

void FillFromLearned(const KeptProcess* kept, ProcessEntry* entry) {
    const LearnedProcess* learned = kept->learned;
    entry->kind = learned->kind;
    entry->parentProcessId = learned->parentProcessId;
    memcpy(entry->name, learned->name, sizeof entry->name);
    memcpy(entry->path, learned->path, sizeof entry->path);
}

void ForgetLearnedProcesses() {
    for (KeptProcess& slot : keptHandles) {
        FreeLearned(&slot);
    }
}

void BeginHandlePass() {
    passNumber++;
    reportedCount = 0;
}

KeptProcess* TakeKeptProcess(DWORD processId) {
    if (processId == 0) {
        return nullptr;
    }
    KeptProcess* slot = FindKeptSlot(processId);
    if (slot->processId == 0) {
        return nullptr;
    }
    MarkReported(slot);
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
        slot->pass = passNumber - 1;
    } else if (slot->handle && slot->handle != handle) {
        CloseHandle(slot->handle);
    }
    // Another handle is another process: what was learned is not its own.
    if (slot->handle != handle) {
        FreeLearned(slot);
    }
    slot->processId = processId;
    slot->handle = handle;
    MarkReported(slot);
    slot->priorityClass = 0;
    slot->withBasePriority = 0;
    slot->basePriority = 0;
    slot->settled = 0;
    slot->createTime = 0;
    slot->affinityMask = 0;
    slot->affinityKnown = 0;
    return slot;
}

void ForgetKeptProcess(KeptProcess* kept) {
    if (kept->handle) {
        CloseHandle(kept->handle);
    }
    kept->handle = nullptr;
    FreeLearned(kept);
    if (kept->pass == passNumber) {
        reportedCount--;
    }
    kept->pass = passNumber - 1;
}

// Closes the handles of unreported processes and packs the survivors into a
// fresh table, so that no probe runs over a freed slot. A pass that reported
// every kept process, as an unchanged one does, leaves the table as it is.
void EndHandlePass() {
    if (reportedCount == keptHandleCount) {
        return;
    }
    static KeptProcess survivors[HANDLE_TABLE_SIZE];
    int count = 0;
    for (KeptProcess& slot : keptHandles) {
        if (slot.processId == 0) {
            continue;
        }
        if (slot.pass == passNumber) {
            survivors[count++] = slot;
        } else {
            if (slot.handle) {
                CloseHandle(slot.handle);
            }
            free(slot.learned);
        }
        slot.processId = 0;
        slot.learned = nullptr;
    }
    keptHandleCount = 0;
    for (int i = 0; i < count; i++) {
        *FindKeptSlot(survivors[i].processId) = survivors[i];
        keptHandleCount++;
    }
}

void ReleaseProcessHandles() {
    BeginHandlePass();
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

DWORD_PTR KeptAffinity(KeptProcess* kept) {
    // Ids are multiples of four: their turns spread over the passes.
    if (!kept->affinityKnown || (passNumber + kept->processId / 4) % AFFINITY_PASSES == 0) {
        kept->affinityMask = QueryProcessAffinity(kept->handle, nullptr);
        kept->affinityKnown = 1;
    }
    return kept->affinityMask;
}

void ForgetKeptAffinity(DWORD processId) {
    KeptProcess* kept = FindKeptProcess(processId);
    if (kept) {
        kept->affinityKnown = 0;
    }
}

DWORD KeptPriorityClass(KeptProcess* kept, const LONG* basePriority) {
    if (!basePriority || !kept->settled || kept->basePriority != *basePriority) {
        NoteQueriedClass(kept, GetPriorityClass(kept->handle), basePriority);
    }
    return kept->priorityClass;
}
