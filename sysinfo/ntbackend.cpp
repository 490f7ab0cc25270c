#include "sysinfo/ntbackend.h"
#include "app/dbcs.h"
#include "app/startup.h"
#include "res/resource.h"
#include "sysinfo/chosenprocess.h"
#include "sysinfo/platform.h"
#include "sysinfo/privileges.h"
#include "sysinfo/processhandles.h"
#include "sysinfo/processnames.h"
#include "sysinfo/remotelayout.h"
#include "views/processlist.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

enum {
    PROCESS_ID_CAPACITY = 2048,
    MODULE_HANDLE_CAPACITY = 1024,
    QUERY_AND_READ_ACCESS = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ,
    SYSTEM_PROCESS_INFORMATION_CLASS = 5,
    FIRST_PROCESS_TABLE_SIZE = 0x10000,
    // How long a pass reads new processes before it leaves the rest to
    // slices of the same length, so that the window keeps answering.
    NEW_PROCESS_MILLISECONDS = 30,
};
static const LONG STATUS_INFO_LENGTH_MISMATCH_CODE = static_cast<LONG>(0xC0000004);

static char unknownProcessName[260];
static char noAccessProcessName[260];
static int processNamesLoaded = 0;
static DWORD processIds[PROCESS_ID_CAPACITY];
static LONG basePriorities[PROCESS_ID_CAPACITY];
// Of each id the native table reported: its creation time and where its
// record lies in the table (read for the image name and the figures only
// when needed).
static ULONGLONG createTimes[PROCESS_ID_CAPACITY];
static ULONG recordOffsets[PROCESS_ID_CAPACITY];
// When the native table was read: the time its processor times are of.
static ULONGLONG tableTime;

// The head of one record of the native process table, in this program's
// width: the ids are pointer-sized, and the name's address aligned to one.
struct NativeProcessRecord {
    ULONG nextEntryOffset;
    ULONG threadCount;
    BYTE countersAndTimes[0x30]; // the creation time lies at CREATE_TIME_OFFSET
    USHORT imageNameLength;      // in bytes
    USHORT imageNameMaximum;
    WCHAR* imageName;
    LONG basePriority;
    ULONG_PTR processId;
    ULONG_PTR parentProcessId;
    ULONG handleCount;
    ULONG sessionId;
    ULONG_PTR processKey;
    SIZE_T peakVirtualSize;
    SIZE_T virtualSize;
    ULONG pageFaultCount;
    SIZE_T peakWorkingSetSize;
    SIZE_T workingSetSize;
    SIZE_T poolUsages[4]; // peak and current, paged and non-paged
    SIZE_T pagefileUsage; // the private bytes
};
static_assert(sizeof(void*) != 4 || (offsetof(NativeProcessRecord, basePriority) == 0x40 &&
                                     offsetof(NativeProcessRecord, handleCount) == 0x4C &&
                                     offsetof(NativeProcessRecord, workingSetSize) == 0x68 &&
                                     offsetof(NativeProcessRecord, pagefileUsage) == 0x7C),
              "the native record's 32-bit layout");
static_assert(sizeof(void*) != 8 || (offsetof(NativeProcessRecord, basePriority) == 0x48 &&
                                     offsetof(NativeProcessRecord, processId) == 0x50 &&
                                     offsetof(NativeProcessRecord, handleCount) == 0x60 &&
                                     offsetof(NativeProcessRecord, workingSetSize) == 0x90 &&
                                     offsetof(NativeProcessRecord, pagefileUsage) == 0xB8),
              "the native record's 64-bit layout");
enum { CREATE_TIME_OFFSET = 0x18, USER_TIME_OFFSET = 0x20, KERNEL_TIME_OFFSET = 0x28 };

// The thread records that follow each process record, and where they start.
struct NativeThreadRecord {
    LARGE_INTEGER times[3];
    ULONG waitTime;
    void* startAddress;
    ULONG_PTR clientId[2];
    LONG priority;
    LONG basePriority;
    ULONG contextSwitches;
    ULONG threadState;
    ULONG waitReason;
};
enum {
    THREAD_RECORDS_OFFSET = sizeof(void*) == 8 ? 0x100 : 0xB8,
    THREAD_STATE_WAITING = 5,
    WAIT_REASON_SUSPENDED = 5,
};
static_assert(sizeof(NativeThreadRecord) == (sizeof(void*) == 8 ? 0x50 : 0x40),
              "the native thread record's layout");

// The native table's buffer keeps the size that sufficed last time, so one
// call usually answers a pass.
static BYTE* processTable = nullptr;
static ULONG processTableSize = FIRST_PROCESS_TABLE_SIZE;

// A steady clock in the 100 ns units of the processor times.
static ULONGLONG SteadyTime() {
    LARGE_INTEGER now, frequency;
    if (!QueryPerformanceCounter(&now) || !QueryPerformanceFrequency(&frequency) ||
        frequency.QuadPart <= 0) {
        return 0;
    }
    ULONGLONG ticks = static_cast<ULONGLONG>(now.QuadPart);
    ULONGLONG perSecond = static_cast<ULONGLONG>(frequency.QuadPart);
    return ticks / perSecond * 10000000 + ticks % perSecond * 10000000 / perSecond;
}

// The record of id `index` in this pass's native table.
static const NativeProcessRecord* TableRecord(int index) {
    return reinterpret_cast<const NativeProcessRecord*>(processTable + recordOffsets[index]);
}

static DWORD TableSuspendState(int index);

// Hands the entry what the native table of this pass told of record
// `index`; nothing without a table (index -1).
static void FillTableFigures(ProcessEntry* entry, int index) {
    if (index < 0 || tableTime == 0) {
        return;
    }
    const NativeProcessRecord* record = TableRecord(index);
    ULONGLONG user, kernel;
    memcpy(&user, record->countersAndTimes + USER_TIME_OFFSET, sizeof user);
    memcpy(&kernel, record->countersAndTimes + KERNEL_TIME_OFFSET, sizeof kernel);
    entry->cpuTime = user + kernel;
    entry->figureTime = tableTime;
    entry->workingSet = record->workingSetSize;
    entry->privateBytes = record->pagefileUsage;
    entry->handleCount = record->handleCount;
    entry->suspendState = TableSuspendState(index);
}

// Whether every thread of record `index` waits suspended. A table whose
// records give every thread state and reason 0 (initialised, waiting for
// nothing) tells no states at all: that is not known.
static DWORD TableSuspendState(int index) {
    const NativeProcessRecord* record = TableRecord(index);
    ULONG offset = recordOffsets[index];
    ULONG end = record->nextEntryOffset ? offset + record->nextEntryOffset : processTableSize;
    if (end > processTableSize || end - offset < THREAD_RECORDS_OFFSET ||
        record->threadCount == 0 ||
        record->threadCount > (end - offset - THREAD_RECORDS_OFFSET) / sizeof(NativeThreadRecord)) {
        return SUSPEND_UNKNOWN;
    }
    const NativeThreadRecord* threads =
        reinterpret_cast<const NativeThreadRecord*>(processTable + offset + THREAD_RECORDS_OFFSET);
    int suspended = 0, told = 0;
    for (ULONG i = 0; i < record->threadCount; i++) {
        told |= threads[i].threadState != 0 || threads[i].waitReason != 0;
        suspended += threads[i].threadState == THREAD_STATE_WAITING &&
                     threads[i].waitReason == WAIT_REASON_SUSPENDED;
    }
    if (!told) {
        return SUSPEND_UNKNOWN;
    }
    return static_cast<ULONG>(suspended) == record->threadCount ? SUSPEND_ALL : SUSPEND_RUNNING;
}

// The entry carries no figures of the table: they were another process's.
static void ForgetTableFigures(ProcessEntry* entry) {
    entry->cpuTime = entry->figureTime = entry->workingSet = entry->privateBytes = 0;
    entry->handleCount = 0;
    entry->suspendState = SUSPEND_UNKNOWN;
}

// Reads the native process table into its buffer: 0, or -1 when the call
// failed.
static int QueryNativeProcessTable() {
    for (int attempt = 0; attempt < 8; attempt++) {
        if (!processTable) {
            processTable = static_cast<BYTE*>(malloc(processTableSize));
            if (!processTable) {
                return -1;
            }
        }
        ULONG needed = 0;
        LONG status = ntApi.ntQuerySystemInformation(SYSTEM_PROCESS_INFORMATION_CLASS, processTable,
                                                     processTableSize, &needed);
        if (status >= 0) {
            break;
        }
        if (status != STATUS_INFO_LENGTH_MISMATCH_CODE) {
            return -1;
        }
        // The table grows while it is read: ask for some room beyond it.
        free(processTable);
        processTable = nullptr;
        ULONG larger = processTableSize * 2;
        if (needed > processTableSize && needed + needed / 4 > larger) {
            larger = needed + needed / 4;
        }
        processTableSize = larger;
    }
    return processTable ? 0 : -1;
}

// The offset of the record after the one at `offset` within the table read
// last; 0 when there is none (the last, or one that leads outside).
static ULONG NextRecordOffset(ULONG offset) {
    const NativeProcessRecord* record =
        reinterpret_cast<const NativeProcessRecord*>(processTable + offset);
    if (record->nextEntryOffset == 0 || record->nextEntryOffset > processTableSize - offset ||
        offset + record->nextEntryOffset > processTableSize - sizeof(NativeProcessRecord)) {
        return 0;
    }
    return offset + record->nextEntryOffset;
}

// A record's creation time, 0 when not known; `latest` is read once per
// reading of the table.
static ULONGLONG RecordCreateTime(const NativeProcessRecord* record, ULONGLONG latest) {
    ULONGLONG created;
    memcpy(&created, record->countersAndTimes + CREATE_TIME_OFFSET, sizeof created);
    return KnownCreationTime(created, latest);
}

int FindInProcessTable(DWORD processId, ULONGLONG* createTime) {
    *createTime = 0;
    if (!ntApi.ntQuerySystemInformation || QueryNativeProcessTable() < 0 ||
        processTableSize < sizeof(NativeProcessRecord)) {
        return -1;
    }
    for (ULONG offset = 0;;) {
        const NativeProcessRecord* record =
            reinterpret_cast<const NativeProcessRecord*>(processTable + offset);
        if (record->processId == processId) {
            *createTime = RecordCreateTime(record, LatestCreationTime());
            return 1;
        }
        offset = NextRecordOffset(offset);
        if (offset == 0) {
            return 0;
        }
    }
}

// Fills the id and base-priority arrays from the native process table;
// returns the number of ids, or -1 when the call failed.
static int ReadNativeProcessTable() {
    if (QueryNativeProcessTable() < 0) {
        return -1;
    }
    tableTime = SteadyTime();
    const ULONGLONG latest = LatestCreationTime();
    int count = 0;
    ULONG offset = 0;
    while (count < PROCESS_ID_CAPACITY && processTableSize >= sizeof(NativeProcessRecord)) {
        const NativeProcessRecord* record =
            reinterpret_cast<const NativeProcessRecord*>(processTable + offset);
        processIds[count] = static_cast<DWORD>(record->processId);
        basePriorities[count] = record->basePriority;
        createTimes[count] = RecordCreateTime(record, latest);
        recordOffsets[count] = offset;
        count++;
        offset = NextRecordOffset(offset);
        if (offset == 0) {
            break;
        }
    }
    return count;
}

// The ids of this pass, from the native table where the call exists, else
// from EnumProcesses; -1 when neither answered. `withTable` tells whether
// the native table answered, so that basePriorities, createTimes and
// recordOffsets hold what it gave of each process.
static int ListProcessIds(bool* withTable) {
    *withTable = false;
    if (ntApi.ntQuerySystemInformation) {
        int count = ReadNativeProcessTable();
        if (count >= 0) {
            *withTable = true;
            return count;
        }
    }
    DWORD returned = 0;
    if (!ntApi.enumProcesses || !ntApi.enumProcesses(processIds, sizeof processIds, &returned)) {
        return -1;
    }
    DWORD count = returned / sizeof processIds[0];
    return count > PROCESS_ID_CAPACITY ? PROCESS_ID_CAPACITY : static_cast<int>(count);
}

// Where a process's image name comes from when its module list does not
// name it: its record in this pass's native table, or the copy taken when
// the process was put aside for a later slice (null: none).
struct ImageName {
    int tableIndex;
    const char* text;
};

// The image name the native table gives the process of record `index`,
// copied by its reported length; empty without a table or a name inside it.
static void ReadTableImageName(int index, char* buffer, DWORD size) {
    buffer[0] = 0;
    const NativeProcessRecord* record = TableRecord(index);
    const BYTE* name = reinterpret_cast<const BYTE*>(record->imageName);
    const BYTE* end = processTable + processTableSize;
    if (!name || name < processTable || name > end ||
        static_cast<size_t>(end - name) < record->imageNameLength) {
        return;
    }
    WCHAR wide[MAX_PATH];
    int length = record->imageNameLength / 2;
    length = length < MAX_PATH ? length : MAX_PATH;
    memcpy(wide, name, length * sizeof(WCHAR));
    CopyWideText(buffer, size, wide, length);
}

// A process whose first module cannot be read or has no name (one of
// another word size, one still loading, one that rewrote its loader
// entries): its name is the native table's image name, else the last part
// of its image path. Returns whether both name and path were found: a
// process without its path is read again later, not shown without it.
static int ReadProcessImage(HANDLE process, const ImageName& imageName, ProcessEntry* entry) {
    if (imageName.tableIndex >= 0) {
        ReadTableImageName(imageName.tableIndex, entry->name, sizeof entry->name);
    } else if (imageName.text) {
        CopyText(entry->name, sizeof entry->name, imageName.text);
    }
    ReadImagePath(process, entry->path, sizeof entry->path);
    if (entry->name[0] == 0) {
        const char* slash = FindLastByte(entry->path, '\\');
        CopyText(entry->name, sizeof entry->name, slash ? slash + 1 : entry->path);
    }
    return entry->name[0] != 0 && entry->path[0] != 0;
}

// A process met for the first time: everything the list shows of it.
static void ReadNewProcess(HANDLE process, const ImageName& imageName, ProcessEntry* entry) {
    BasicInformation basic;
    if (QueryBasicInformation(process, &basic)) {
        entry->parentProcessId = static_cast<DWORD>(basic.parentProcessId);
    }
    HMODULE firstModule = nullptr;
    DWORD needed = 0;
    if (ntApi.enumProcessModules(process, &firstModule, sizeof firstModule, &needed)) {
        ReadModuleBaseName(process, firstModule, entry->name, sizeof entry->name);
    }
    if (entry->name[0] != 0) {
        NormalizeModulePath(process, firstModule, entry->path, sizeof entry->path);
    } else if (!ReadProcessImage(process, imageName, entry)) {
        // Nothing names it yet (a process that has only begun to load): it
        // is read again on a later pass rather than shown without a name.
        lstrcpynA(entry->name, unknownProcessName, sizeof entry->name);
        entry->path[0] = 0;
        return;
    }
    entry->priorityClass = GetPriorityClass(process);
    entry->threadCount = 0;
    entry->flags &= ~ENTRY_NO_ACCESS;
    entry->affinityMask = QueryProcessAffinity(process, nullptr);
}

static HANDLE OpenForReading(DWORD processId) {
    HANDLE process = OpenProcess(QUERY_AND_READ_ACCESS | SYNCHRONIZE, FALSE, processId);
    if (!process && GetLastError() == ERROR_ACCESS_DENIED) {
        process = OpenProcess(QUERY_AND_READ_ACCESS, FALSE, processId);
    }
    return process;
}

static void LoadProcessNames() {
    if (!processNamesLoaded) {
        processNamesLoaded = 1;
        LoadStringA(appInstance, IDS_UNKNOWN_PROCESS, unknownProcessName,
                    sizeof unknownProcessName);
        LoadStringA(appInstance, IDS_NO_ACCESS_PROCESS, noAccessProcessName,
                    sizeof noAccessProcessName);
    }
}

// Processes a pass met but had no time left to read, by id, in the order
// the pass met them; each waits in its kept record.
static DWORD waitingIds[PROCESS_ID_CAPACITY];
static int waitingFirst = 0;
static int waitingCount = 0;

static LONGLONG Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

static int SpentMilliseconds(LONGLONG since) {
    static LONGLONG frequency = 0;
    if (frequency == 0) {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        frequency = value.QuadPart > 0 ? value.QuadPart : 1;
    }
    return static_cast<int>((Ticks() - since) * 1000 / frequency);
}

// Puts a new process aside for a slice: its handle is kept and what the
// table told of it is noted. Returns 0 when it cannot wait (no room in the
// handle table or the queue, no memory): the pass then reads it at once.
static int PutAside(KeptProcess* kept, int tableIndex) {
    LearnedProcess* learned = LearnedRecord(kept);
    if (!learned) {
        return 0;
    }
    if (learned->waiting) {
        return 1;
    }
    if (waitingFirst > 0 && waitingCount == PROCESS_ID_CAPACITY) {
        memmove(waitingIds, waitingIds + waitingFirst,
                (waitingCount - waitingFirst) * sizeof waitingIds[0]);
        waitingCount -= waitingFirst;
        waitingFirst = 0;
    }
    if (waitingCount == PROCESS_ID_CAPACITY) {
        return 0;
    }
    learned->complete = 0;
    learned->waiting = 1;
    learned->name[0] = 0;
    if (tableIndex >= 0) {
        ReadTableImageName(tableIndex, learned->name, sizeof learned->name);
    }
    waitingIds[waitingCount++] = kept->processId;
    return 1;
}

// Reads a process whole through its kept handle and hands its entry to the
// merge; a process read whole is learned, so later passes take its texts
// from the record.
static void ReadAndMerge(HWND list, KeptProcess* kept, const ImageName& imageName,
                         const LONG* basePriority, ProcessEntry* entry) {
    ReadNewProcess(kept->handle, imageName, entry);
    kept->createTime = entry->createTime;
    kept->affinityMask = entry->affinityMask;
    kept->affinityKnown = !(entry->flags & ENTRY_NO_ACCESS);
    NoteQueriedClass(kept, entry->priorityClass, basePriority);
    if (!(entry->flags & ENTRY_NO_ACCESS)) {
        LearnProcess(kept, entry);
    }
    MergeEntry(list, entry);
}

static void BeginEntry(ProcessEntry* entry, DWORD processId, ULONGLONG createTime) {
    memset(entry, 0, sizeof *entry);
    entry->flags = ENTRY_NO_ACCESS;
    entry->processId = processId;
    entry->kind = KIND_WIN32;
    entry->createTime = createTime;
}

// One id of a pass's list, with what the native table told of it.
struct ListedProcess {
    DWORD processId;
    ULONGLONG createTime;     // 0 without the table
    const LONG* basePriority; // null without the table
    int tableIndex;           // -1 without the table
};

// The handle kept for a listed id, unless its process has ended: then the
// handle is let go, and the id, which the table may show taken by a new
// process, is met anew. Without the table a process ends by being
// signalled, and its id stays its own until the handle goes: it is left
// out of the pass (`*leaveOut`).
static KeptProcess* TakeRunningProcess(const ListedProcess& listed, int* leaveOut) {
    *leaveOut = 0;
    KeptProcess* kept = TakeKeptProcess(listed.processId);
    if (!kept) {
        return nullptr;
    }
    int withTable = listed.tableIndex >= 0;
    if (withTable ? IsOtherProcessTime(kept->createTime, listed.createTime)
                  : ProcessHandleEnded(kept->handle)) {
        ForgetKeptProcess(kept);
        *leaveOut = !withTable;
        return nullptr;
    }
    return kept;
}

static int IsLearned(const KeptProcess* kept) {
    return kept->learned && kept->learned->complete;
}

static int IsWaiting(const KeptProcess* kept) {
    return kept->learned && kept->learned->waiting;
}

// A known process is never asked for its name, path or parent again: only
// what may change is read, through the handle kept from the pass that met it.
static void MergeKnownProcess(HWND list, KeptProcess* kept, const ListedProcess& listed,
                              ProcessEntry* entry) {
    entry->flags = 0;
    FillFromLearned(kept, entry);
    if (!entry->createTime) {
        entry->createTime = kept->createTime;
    }
    entry->priorityClass = KeptPriorityClass(kept, listed.basePriority);
    entry->affinityMask = KeptAffinity(kept);
    MergeEntry(list, entry);
}

// Opens a process met for the first time. The table was read before: the
// handle's own creation time says which process it is, so that one that
// took the id of a listed process that ended since is recorded as itself.
// Null when it cannot be opened (`*leaveOut` when it has ended already).
static HANDLE OpenNewProcess(const ListedProcess& listed, ProcessEntry* entry, int* leaveOut) {
    *leaveOut = 0;
    HANDLE process = OpenForReading(listed.processId);
    if (!process) {
        return nullptr;
    }
    if (listed.tableIndex < 0 && ProcessHandleEnded(process)) {
        CloseHandle(process);
        *leaveOut = 1;
        return nullptr;
    }
    ULONGLONG created = ProcessCreationTime(process);
    if (created) {
        entry->createTime = created;
    }
    return process;
}

// Reads a process that has no learned record (met for the first time, not
// readable so far, or an id that a new process took over), unless the pass
// has spent its time: then it waits for a slice.
static void ReportUnlearnedProcess(HWND list, KeptProcess* kept, const ListedProcess& table,
                                   int late, ProcessEntry* entry) {
    if (kept && IsWaiting(kept) && late) {
        return;
    }
    ListedProcess listed = table;
    if (!kept) {
        int leaveOut = 0;
        HANDLE process = OpenNewProcess(listed, entry, &leaveOut);
        if (!process) {
            if (!leaveOut) {
                // Without a row, its figures still count: under the name the
                // table gives it.
                entry->name[0] = 0;
                if (listed.tableIndex >= 0) {
                    ReadTableImageName(listed.tableIndex, entry->name, sizeof entry->name);
                }
                if (entry->name[0] == 0) {
                    lstrcpynA(entry->name, noAccessProcessName, sizeof entry->name);
                }
                MergeEntry(list, entry);
            }
            return;
        }
        if (IsOtherProcessTime(entry->createTime, listed.createTime)) {
            // The id went to a new process between the table's reading and
            // the opening: what the table told is the old one's.
            listed.tableIndex = -1;
            listed.basePriority = nullptr;
            ForgetTableFigures(entry);
        }
        kept = KeepProcessHandle(listed.processId, process);
        if (!kept) {
            // No room to keep it: read now, and again on every pass.
            ImageName imageName = {listed.tableIndex, nullptr};
            ReadNewProcess(process, imageName, entry);
            CloseHandle(process);
            MergeEntry(list, entry);
            return;
        }
        kept->createTime = entry->createTime;
    } else if (!entry->createTime) {
        entry->createTime = kept->createTime;
    }
    if (late && PutAside(kept, listed.tableIndex)) {
        return;
    }
    if (kept->learned) {
        kept->learned->waiting = 0;
    }
    ImageName imageName = {listed.tableIndex, nullptr};
    ReadAndMerge(list, kept, imageName, listed.basePriority, entry);
}

// A pass: the ids of the native table (or of EnumProcesses), each merged
// as a known process from its record, or read as a new one while the pass
// has time, then the 16-bit tasks.
int EnumerateProcessesNt(HWND list) {
    LoadProcessNames();
    bool withTable = false;
    int count = ListProcessIds(&withTable);
    if (count < 0) {
        return 0;
    }
    LONGLONG passStart = Ticks();
    BeginHandlePass();
    ProcessEntry entry;
    for (int i = 0; i < count; i++) {
        ListedProcess listed = {processIds[i], withTable ? createTimes[i] : 0,
                                withTable ? &basePriorities[i] : nullptr, withTable ? i : -1};
        BeginEntry(&entry, listed.processId, listed.createTime);
        FillTableFigures(&entry, listed.tableIndex);
        int leaveOut = 0;
        KeptProcess* kept = TakeRunningProcess(listed, &leaveOut);
        if (leaveOut) {
            continue;
        }
        if (kept && IsLearned(kept)) {
            MergeKnownProcess(list, kept, listed, &entry);
        } else {
            int late = SpentMilliseconds(passStart) >= NEW_PROCESS_MILLISECONDS;
            ReportUnlearnedProcess(list, kept, listed, late, &entry);
        }
    }
    EndHandlePass();

    if (ntApi.vdmEnumProcessWow) {
        ntApi.vdmEnumProcessWow(ProcessWowVisitor, reinterpret_cast<LPARAM>(list));
    }
    return 0;
}

// Reads one process that waits, unless it ended meanwhile (it is then not
// listed, as a pass would not list it) or a pass has read it since.
static void ReadWaiting(HWND list, KeptProcess* kept) {
    LearnedProcess* learned = kept->learned;
    learned->waiting = 0;
    if (!kept->handle || ProcessHandleEnded(kept->handle)) {
        return;
    }
    ProcessEntry entry;
    BeginEntry(&entry, kept->processId, kept->createTime);
    // The name noted while it waited is read before the record learns anew.
    ImageName imageName = {-1, learned->name};
    ReadAndMerge(list, kept, imageName, nullptr, &entry);
}

static KeptProcess* WaitingProcess(DWORD processId) {
    KeptProcess* kept = FindKeptProcess(processId);
    return kept && kept->learned && kept->learned->waiting ? kept : nullptr;
}

int ReadWaitingProcessesNt(HWND list, int milliseconds) {
    LoadProcessNames();
    LONGLONG start = Ticks();
    // Ids that no longer wait (read by a pass since, or forgotten) go first.
    while (waitingFirst < waitingCount && !WaitingProcess(waitingIds[waitingFirst])) {
        waitingFirst++;
    }
    while (waitingFirst < waitingCount) {
        if (milliseconds >= 0 && SpentMilliseconds(start) >= milliseconds) {
            break;
        }
        KeptProcess* kept = WaitingProcess(waitingIds[waitingFirst++]);
        if (kept) {
            ReadWaiting(list, kept);
        }
    }
    if (waitingFirst == waitingCount) {
        waitingFirst = waitingCount = 0;
    }
    return waitingCount - waitingFirst;
}

int ReadWaitingProcessNt(HWND list, DWORD processId) {
    KeptProcess* kept = WaitingProcess(processId);
    if (!kept) {
        return 0;
    }
    ReadWaiting(list, kept);
    return 1;
}

struct WowContext {
    HWND list;
    DWORD ntvdmProcessId;
    DWORD attributes;
};

BOOL WINAPI ProcessWowVisitor(DWORD processId, DWORD attributes, LPARAM userValue) {
    WowContext context = {reinterpret_cast<HWND>(userValue), processId, attributes};
    if (ntApi.vdmEnumTaskWowEx) {
        ntApi.vdmEnumTaskWowEx(processId, WowTaskVisitor, reinterpret_cast<LPARAM>(&context));
    }
    return FALSE;
}

BOOL WINAPI WowTaskVisitor(DWORD threadId, WORD, WORD task16, char* moduleName, char* fileName,
                           LPARAM userValue) {
    const WowContext* context = reinterpret_cast<const WowContext*>(userValue);
    ProcessEntry entry;
    memset(&entry, 0, sizeof entry);
    entry.processId = threadId;
    entry.parentProcessId = context->ntvdmProcessId;
    entry.task16 = task16;
    entry.kind = KIND_WOW_TASK;
    const char* file = fileName ? fileName : "";
    const char* slash = FindLastByte(file, '\\');
    const char* shown = slash ? slash + 1 : (moduleName ? moduleName : "");
    entry.name[0] = entry.name[1] = ' ';
    CopyText(entry.name + 2, sizeof entry.name - 2, shown);
    CopyText(entry.path, sizeof entry.path, file);
    MergeEntry(context->list, &entry);
    return FALSE;
}

int ListModulesPsapi(HWND window, DWORD processId, ModuleVisitor visitor, ULONG_PTR userValue) {
    HANDLE process = OpenProcess(QUERY_AND_READ_ACCESS, FALSE, processId);
    if (!process) {
        return 1;
    }
    static HMODULE modules[MODULE_HANDLE_CAPACITY];
    DWORD returned = 0;
    if (!ntApi.enumProcessModules(process, modules, sizeof modules, &returned)) {
        CloseHandle(process);
        return 1;
    }
    DWORD count = returned / sizeof modules[0];
    if (count > MODULE_HANDLE_CAPACITY) {
        count = MODULE_HANDLE_CAPACITY;
    }
    for (DWORD i = 0; i < count; i++) {
        char name[256];
        ReadModuleBaseName(process, modules[i], name, sizeof name);
        char path[260];
        NormalizeModulePath(process, modules[i], path, sizeof path);
        MODULEINFO info = {nullptr, 0, nullptr};
        ntApi.getModuleInformation(process, modules[i], &info, sizeof info);
        visitor(userValue, window, name, reinterpret_cast<ULONG_PTR>(info.lpBaseOfDll),
                info.SizeOfImage, path);
    }
    CloseHandle(process);
    return 1;
}

int TerminateWowTask(DWORD ntvdmProcessId, WORD task16) {
    if (!ntApi.vdmTerminateTaskWow) {
        return 0;
    }
    return ntApi.vdmTerminateTaskWow(ntvdmProcessId, task16) ? 1 : 0;
}
