#include "sysinfo/perfdata.h"
#include "app/startup.h"
#include "sysinfo/platform.h"

#include <winperf.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

PerfDataApi perfDataApi = {RegQueryValueExA, nullptr};
PerfTitleIndexes perfTitleIndexes;

enum {
    SNAPSHOT_STEP = 0x4000,
    FIRST_PRIORITY_TEXT = 416, // "(最低)" .. "(空闲)", seven texts
    PRIORITY_TEXT_COUNT = 7,
};

static int titleIndexesLoaded = 0;
static char priorityTexts[PRIORITY_TEXT_COUNT][260];
static int priorityTextsLoaded = 0;

PerfTitles ReadPerfTitles() {
    PerfTitles titles = {nullptr, 0};
    DWORD size = 0;
    DWORD type = 0;
    if (perfDataApi.queryValue(HKEY_PERFORMANCE_DATA, "Counter 009", nullptr, &type, nullptr,
                               &size) != ERROR_SUCCESS ||
        size > PERF_SNAPSHOT_LIMIT) {
        return titles;
    }
    titles.text = static_cast<char*>(malloc(size + 2));
    if (!titles.text) {
        return titles;
    }
    DWORD read = size;
    if (perfDataApi.queryValue(HKEY_PERFORMANCE_DATA, "Counter 009", nullptr, &type,
                               reinterpret_cast<BYTE*>(titles.text), &read) != ERROR_SUCCESS) {
        read = 0;
    }
    titles.size = read < size ? read : size;
    titles.text[titles.size] = 0;
    titles.text[titles.size + 1] = 0;
    return titles;
}

void FreePerfTitles(PerfTitles* titles) {
    free(titles->text);
    titles->text = nullptr;
    titles->size = 0;
}

DWORD FindTitleIndex(const PerfTitles* titles, const char* name) {
    if (!titles || !titles->text || !name || IsBadStringPtrA(name, static_cast<UINT_PTR>(-1))) {
        return 0;
    }
    // The two zeros after the data end every string, also a cut one.
    DWORD position = 0;
    while (position < titles->size && titles->text[position] != 0) {
        const char* index = titles->text + position;
        DWORD namePosition = position + static_cast<DWORD>(strlen(index)) + 1;
        const char* title = titles->text + namePosition;
        if (lstrcmpiA(title, name) == 0) {
            return strtoul(index, nullptr, 10);
        }
        position = namePosition + static_cast<DWORD>(strlen(title)) + 1;
    }
    return 0;
}

int LoadPerfTitleIndexes() {
    titleIndexesLoaded = 1;
    PerfTitles titles = ReadPerfTitles();
    PerfTitleIndexes& indexes = perfTitleIndexes;
    indexes.threadObject = FindTitleIndex(&titles, "Thread");
    indexes.processObject = FindTitleIndex(&titles, "Process");
    indexes.idProcess = FindTitleIndex(&titles, "ID Process");
    indexes.idThread = FindTitleIndex(&titles, "ID Thread");
    indexes.priorityCurrent = FindTitleIndex(&titles, "Priority Current");
    indexes.priorityBase = FindTitleIndex(&titles, "Priority Base");
    int read = titles.text != nullptr;
    FreePerfTitles(&titles);
    return read;
}

PerfSnapshot* TakePerfSnapshot(DWORD objectIndex) {
    char valueName[16];
    wsprintfA(valueName, "%u", objectIndex);
    BYTE* data = nullptr;
    DWORD capacity = 0;
    for (;;) {
        // What an answer of ERROR_MORE_DATA left in the buffer is of no use:
        // a new buffer spares copying it.
        free(data);
        capacity += SNAPSHOT_STEP;
        data = capacity <= PERF_SNAPSHOT_LIMIT ? static_cast<BYTE*>(malloc(capacity)) : nullptr;
        if (!data) {
            return nullptr;
        }
        DWORD size = capacity;
        DWORD type = 0;
        LONG result =
            perfDataApi.queryValue(HKEY_PERFORMANCE_DATA, valueName, nullptr, &type, data, &size);
        if (result == ERROR_MORE_DATA) {
            continue;
        }
        if (size > capacity) {
            size = capacity;
        }
        PerfSnapshot* snapshot =
            result == ERROR_SUCCESS && size >= 8 && memcmp(data, L"PERF", 8) == 0
                ? static_cast<PerfSnapshot*>(malloc(sizeof(PerfSnapshot)))
                : nullptr;
        if (!snapshot) {
            free(data);
            return nullptr;
        }
        snapshot->data = data;
        snapshot->size = size;
        snapshot->corrupt = 0;
        return snapshot;
    }
}

void FreePerfSnapshot(PerfSnapshot* snapshot) {
    if (snapshot) {
        free(snapshot->data);
        free(snapshot);
    }
}

// Reads the 32-bit value at `offset`, which must lie wholly before `limit`
// (itself never beyond the data returned); else marks the block corrupt.
static int ReadPerfValue(PerfSnapshot* snapshot, DWORD limit, DWORD offset, DWORD* value) {
    if (limit > snapshot->size || offset > limit || limit - offset < sizeof(DWORD)) {
        snapshot->corrupt = 1;
        return 0;
    }
    memcpy(value, snapshot->data + offset, sizeof(DWORD));
    return 1;
}

// A length that must be at least `least` and leave the region it starts in.
static int FitsIn(PerfSnapshot* snapshot, DWORD start, DWORD length, DWORD least, DWORD limit) {
    if (length < least || start > limit || length > limit - start) {
        snapshot->corrupt = 1;
        return 0;
    }
    return 1;
}

static int EnterObject(PerfObjectCursor* cursor) {
    PerfSnapshot* snapshot = cursor->snapshot;
    DWORD length;
    if (cursor->count >= cursor->numObjects ||
        !ReadPerfValue(snapshot, snapshot->size,
                       cursor->position + offsetof(PERF_OBJECT_TYPE, TotalByteLength), &length) ||
        !FitsIn(snapshot, cursor->position, length, sizeof(PERF_OBJECT_TYPE), snapshot->size)) {
        return 0;
    }
    cursor->end = cursor->position + length;
    return 1;
}

int FirstPerfObject(PerfObjectCursor* cursor, PerfSnapshot* snapshot) {
    memset(cursor, 0, sizeof *cursor);
    cursor->snapshot = snapshot;
    if (!ReadPerfValue(snapshot, snapshot->size, offsetof(PERF_DATA_BLOCK, HeaderLength),
                       &cursor->position) ||
        !ReadPerfValue(snapshot, snapshot->size, offsetof(PERF_DATA_BLOCK, NumObjectTypes),
                       &cursor->numObjects)) {
        return 0;
    }
    return EnterObject(cursor);
}

int NextPerfObject(PerfObjectCursor* cursor) {
    cursor->count++;
    cursor->position = cursor->end;
    return EnterObject(cursor);
}

DWORD PerfObjectTitleIndex(const PerfObjectCursor* cursor) {
    DWORD index = 0;
    memcpy(&index,
           cursor->snapshot->data + cursor->position +
               offsetof(PERF_OBJECT_TYPE, ObjectNameTitleIndex),
           sizeof index);
    return index;
}

static int EnterCounterBlock(PerfInstanceCursor* cursor) {
    DWORD length;
    if (!ReadPerfValue(cursor->snapshot, cursor->objectEnd, cursor->counterBlock, &length) ||
        !FitsIn(cursor->snapshot, cursor->counterBlock, length, sizeof(DWORD), cursor->objectEnd)) {
        return 0;
    }
    cursor->blockEnd = cursor->counterBlock + length;
    return 1;
}

static int EnterInstance(PerfInstanceCursor* cursor) {
    if (cursor->noInstances) {
        cursor->counterBlock = cursor->position;
        return cursor->count == 0 && EnterCounterBlock(cursor);
    }
    DWORD length;
    if (static_cast<LONG>(cursor->count) >= cursor->numInstances ||
        !ReadPerfValue(cursor->snapshot, cursor->objectEnd, cursor->position, &length) ||
        !FitsIn(cursor->snapshot, cursor->position, length, sizeof(PERF_INSTANCE_DEFINITION),
                cursor->objectEnd)) {
        return 0;
    }
    cursor->counterBlock = cursor->position + length;
    return EnterCounterBlock(cursor);
}

int FirstPerfInstance(PerfInstanceCursor* cursor, const PerfObjectCursor* object) {
    memset(cursor, 0, sizeof *cursor);
    PerfSnapshot* snapshot = object->snapshot;
    cursor->snapshot = snapshot;
    cursor->objectEnd = object->end;
    // The whole object header lies inside the object (checked on entering it).
    const BYTE* header = snapshot->data + object->position;
    DWORD definitionLength, headerLength;
    memcpy(&definitionLength, header + offsetof(PERF_OBJECT_TYPE, DefinitionLength), 4);
    memcpy(&headerLength, header + offsetof(PERF_OBJECT_TYPE, HeaderLength), 4);
    memcpy(&cursor->numCounters, header + offsetof(PERF_OBJECT_TYPE, NumCounters), 4);
    memcpy(&cursor->numInstances, header + offsetof(PERF_OBJECT_TYPE, NumInstances), 4);
    if (!FitsIn(snapshot, object->position, definitionLength, 0, object->end) ||
        !FitsIn(snapshot, object->position, headerLength, 0, object->end)) {
        return 0;
    }
    cursor->firstCounter = object->position + headerLength;
    cursor->position = object->position + definitionLength;
    cursor->noInstances = cursor->numInstances == PERF_NO_INSTANCES;
    if (!cursor->noInstances && cursor->numInstances <= 0) {
        return 0;
    }
    return EnterInstance(cursor);
}

int NextPerfInstance(PerfInstanceCursor* cursor) {
    cursor->count++;
    cursor->position = cursor->blockEnd;
    return EnterInstance(cursor);
}

static int EnterCounter(PerfCounterCursor* cursor, PerfCounterValue* value) {
    const PerfInstanceCursor* instance = cursor->instance;
    PerfSnapshot* snapshot = instance->snapshot;
    DWORD length, offset;
    if (cursor->count > instance->numCounters ||
        !ReadPerfValue(snapshot, instance->objectEnd,
                       cursor->position + offsetof(PERF_COUNTER_DEFINITION, ByteLength), &length) ||
        length == 0) {
        return 0;
    }
    if (!FitsIn(snapshot, cursor->position, sizeof(PERF_COUNTER_DEFINITION),
                sizeof(PERF_COUNTER_DEFINITION), instance->objectEnd) ||
        !ReadPerfValue(snapshot, instance->objectEnd,
                       cursor->position + offsetof(PERF_COUNTER_DEFINITION, CounterNameTitleIndex),
                       &value->titleIndex) ||
        !ReadPerfValue(snapshot, instance->objectEnd,
                       cursor->position + offsetof(PERF_COUNTER_DEFINITION, CounterOffset),
                       &offset)) {
        return 0;
    }
    // Only the first 32 bits of a counter are read, and they lie in its block.
    if (offset > instance->blockEnd - instance->counterBlock) {
        snapshot->corrupt = 1;
        return 0;
    }
    return ReadPerfValue(snapshot, instance->blockEnd, instance->counterBlock + offset,
                         &value->value);
}

int FirstPerfCounter(PerfCounterCursor* cursor, const PerfInstanceCursor* instance,
                     PerfCounterValue* value) {
    cursor->instance = instance;
    cursor->position = instance->firstCounter;
    cursor->count = 1;
    return EnterCounter(cursor, value);
}

int NextPerfCounter(PerfCounterCursor* cursor, PerfCounterValue* value) {
    const PerfInstanceCursor* instance = cursor->instance;
    // The current definition lies wholly inside the object (checked on
    // entering it), and the next one must start inside the object too.
    DWORD length;
    memcpy(&length,
           instance->snapshot->data + cursor->position +
               offsetof(PERF_COUNTER_DEFINITION, ByteLength),
           sizeof length);
    if (length > instance->objectEnd - cursor->position) {
        instance->snapshot->corrupt = 1;
        return 0;
    }
    cursor->position += length;
    cursor->count++;
    return EnterCounter(cursor, value);
}

static void LoadPriorityTexts() {
    if (priorityTextsLoaded) {
        return;
    }
    priorityTextsLoaded = 1;
    for (int i = 0; i < PRIORITY_TEXT_COUNT; i++) {
        priorityTexts[i][0] = 0;
        LoadStringA(appInstance, FIRST_PRIORITY_TEXT + i, priorityTexts[i], 260);
    }
}

const char* ThreadPriorityText(LONG current, LONG base) {
    LoadPriorityTexts();
    if (current == 31 || current == 15) {
        return priorityTexts[5]; // "(实时)"
    }
    if (current == 1 || current == 16) {
        return priorityTexts[6]; // "(空闲)"
    }
    // By the distance to the base: -2 .. 2 are texts 416 .. 420.
    LONG delta = current - base;
    return delta >= -2 && delta <= 2 ? priorityTexts[delta + 2] : "";
}

void InsertThreadRow(HWND listBox, const char* row, int hexIds) {
    // The sorted list box would order decimal ids as texts ("120" before
    // "68"): the row goes to the place of its id as a number.
    const int base = hexIds ? 16 : 10;
    DWORD threadId = strtoul(row, nullptr, base);
    int low = 0;
    int high = static_cast<int>(SendMessageA(listBox, LB_GETCOUNT, 0, 0));
    while (low < high) {
        int middle = (low + high) / 2;
        char text[300] = "";
        if (SendMessageA(listBox, LB_GETTEXTLEN, middle, 0) < static_cast<LRESULT>(sizeof text)) {
            SendMessageA(listBox, LB_GETTEXT, middle, reinterpret_cast<LPARAM>(text));
        }
        if (strtoul(text, nullptr, base) <= threadId) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    SendMessageA(listBox, LB_INSERTSTRING, low, reinterpret_cast<LPARAM>(row));
}

static void AddThreadRow(HWND listBox, DWORD threadId, LONG current, LONG base, int hexIds) {
    char row[300];
    wsprintfA(row, hexIds ? "%08x\t%d %s" : "%u\t%d %s", threadId, current,
              ThreadPriorityText(current, base));
    InsertThreadRow(listBox, row, hexIds);
}

struct ThreadWalk {
    int threadObjects;
    int rows;
};

// Walks every instance of every object; adds the rows of the process's
// threads when a list box is given, else only counts them.
static ThreadWalk WalkThreadInstances(PerfSnapshot* snapshot, DWORD processId, HWND listBox,
                                      int hexIds) {
    const PerfTitleIndexes& indexes = perfTitleIndexes;
    ThreadWalk walk = {0, 0};
    PerfObjectCursor object;
    for (int more = FirstPerfObject(&object, snapshot); more; more = NextPerfObject(&object)) {
        DWORD objectIndex = PerfObjectTitleIndex(&object);
        int isThread = objectIndex == indexes.threadObject && objectIndex != indexes.processObject;
        walk.threadObjects += isThread;
        PerfInstanceCursor instance;
        for (int found = FirstPerfInstance(&instance, &object); found;
             found = NextPerfInstance(&instance)) {
            DWORD owner = 0, threadId = 0, current = 0, base = 0;
            PerfCounterCursor counter;
            PerfCounterValue value;
            for (int next = FirstPerfCounter(&counter, &instance, &value); next;
                 next = NextPerfCounter(&counter, &value)) {
                if (value.titleIndex == indexes.idProcess) {
                    owner = value.value;
                } else if (value.titleIndex == indexes.idThread) {
                    threadId = value.value;
                } else if (value.titleIndex == indexes.priorityCurrent) {
                    current = value.value;
                } else if (value.titleIndex == indexes.priorityBase) {
                    base = value.value;
                }
            }
            if (isThread && owner == processId && threadId != 0) {
                walk.rows++;
                if (listBox) {
                    AddThreadRow(listBox, threadId, static_cast<LONG>(current),
                                 static_cast<LONG>(base), hexIds);
                }
            }
        }
    }
    return walk;
}

int ListThreadsNt(HWND listBox, DWORD processId, int hexIds) {
    LoadPriorityTexts();
    if (!titleIndexesLoaded) {
        LoadPerfTitleIndexes();
    }
    if (perfTitleIndexes.threadObject == 0) {
        return ListThreadsFromSnapshot(listBox, processId, hexIds);
    }
    PerfSnapshot* snapshot = TakePerfSnapshot(perfTitleIndexes.threadObject);
    if (!snapshot) {
        return 0;
    }
    // The block comes from outside: it is walked whole before any row is
    // added, and a block with a bad offset or length gives no rows.
    int added = 0;
    ThreadWalk counted = WalkThreadInstances(snapshot, processId, nullptr, hexIds);
    if (!snapshot->corrupt) {
        if (counted.threadObjects == 0) {
            added = ListThreadsFromSnapshot(listBox, processId, hexIds);
        } else if (counted.rows != 0) {
            added = WalkThreadInstances(snapshot, processId, listBox, hexIds).rows != 0;
        }
    }
    FreePerfSnapshot(snapshot);
    return added;
}

// The base level of a priority class; 0 for an unknown class.
static LONG PriorityClassLevel(DWORD priorityClass) {
    static const struct {
        DWORD priorityClass;
        LONG level;
    } levels[] = {{IDLE_PRIORITY_CLASS, 4},   {BELOW_NORMAL_PRIORITY_CLASS, 6},
                  {NORMAL_PRIORITY_CLASS, 8}, {ABOVE_NORMAL_PRIORITY_CLASS, 10},
                  {HIGH_PRIORITY_CLASS, 13},  {REALTIME_PRIORITY_CLASS, 24}};
    for (const auto& entry : levels) {
        if (entry.priorityClass == priorityClass) {
            return entry.level;
        }
    }
    return 0;
}

// Current and base priority of one thread from the thread itself where it can
// be opened; the snapshot's numbers otherwise.
static void ReadThreadPriority(const THREADENTRY32& thread, LONG classLevel, LONG* current,
                               LONG* base) {
    *base = thread.tpBasePri;
    *current = thread.tpBasePri + thread.tpDeltaPri;
    HANDLE handle =
        classLevel != 0 && perfDataApi.openThread
            ? perfDataApi.openThread(THREAD_QUERY_INFORMATION, FALSE, thread.th32ThreadID)
            : nullptr;
    if (!handle) {
        return;
    }
    int delta = GetThreadPriority(handle);
    CloseHandle(handle);
    if (delta == THREAD_PRIORITY_ERROR_RETURN) {
        return;
    }
    int realtime = classLevel == 24;
    *base = classLevel;
    if (delta == THREAD_PRIORITY_TIME_CRITICAL) {
        *current = realtime ? 31 : 15;
    } else if (delta == THREAD_PRIORITY_IDLE) {
        *current = realtime ? 16 : 1;
    } else {
        *current = classLevel + delta;
    }
}

int ListThreadsFromSnapshot(HWND listBox, DWORD processId, int hexIds) {
    const ToolhelpApi& api = toolhelpApi;
    if (!api.createToolhelp32Snapshot || !api.thread32First || !api.thread32Next) {
        return 0;
    }
    LONG classLevel = 0;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (process) {
        classLevel = PriorityClassLevel(GetPriorityClass(process));
        CloseHandle(process);
    }
    HANDLE snapshot = api.createToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE || !snapshot) {
        return 0;
    }
    THREADENTRY32 thread;
    memset(&thread, 0, sizeof thread);
    thread.dwSize = sizeof thread;
    int added = 0;
    for (BOOL more = api.thread32First(snapshot, &thread); more;
         more = api.thread32Next(snapshot, &thread)) {
        if (thread.th32OwnerProcessID != processId || thread.th32ThreadID == 0) {
            continue;
        }
        LONG current, base;
        ReadThreadPriority(thread, classLevel, &current, &base);
        AddThreadRow(listBox, thread.th32ThreadID, current, base, hexIds);
        added = 1;
    }
    CloseHandle(snapshot);
    return added;
}
