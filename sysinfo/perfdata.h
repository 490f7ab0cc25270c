// The registry's performance data: the title database, snapshots of one
// object, cursors over objects, instances and counters, and the NT family's
// thread list built from the "Thread" object.
#ifndef TOLVANE_SYSINFO_PERFDATA_H
#define TOLVANE_SYSINFO_PERFDATA_H

#include <windows.h>

// The registry query every read of performance data goes through
// (RegQueryValueExA on HKEY_PERFORMANCE_DATA), and OpenThread, which the
// thread list uses where kernel32 exports it (resolved with the NT table).
struct PerfDataApi {
    LONG(WINAPI* queryValue)
    (HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
    HANDLE(WINAPI* openThread)(DWORD access, BOOL inherit, DWORD threadId);
};
extern PerfDataApi perfDataApi;

// The largest block a snapshot may grow to; far above any real one.
enum { PERF_SNAPSHOT_LIMIT = 64 * 1024 * 1024 };

// The title database: pairs of zero-terminated strings (decimal index, name)
// ended by an empty string, with two zero bytes written after the data.
struct PerfTitles {
    char* text;
    DWORD size; // bytes read, without the two zeros
};

// The title indexes the thread list needs, looked up once per run.
struct PerfTitleIndexes {
    DWORD threadObject;
    DWORD processObject;
    DWORD idProcess;
    DWORD idThread;
    DWORD priorityCurrent;
    DWORD priorityBase;
};
extern PerfTitleIndexes perfTitleIndexes;

// One PERF_DATA_BLOCK as the system returned it. `corrupt` is set by any
// cursor that meets an offset or length pointing outside the block.
struct PerfSnapshot {
    BYTE* data;
    DWORD size;
    int corrupt;
};

struct PerfObjectCursor {
    PerfSnapshot* snapshot;
    DWORD numObjects;
    DWORD position; // of the current object
    DWORD end;      // of the current object
    DWORD count;
};

struct PerfInstanceCursor {
    PerfSnapshot* snapshot;
    DWORD objectEnd;
    DWORD position;     // of the current instance, or of the counter block standing in for it
    DWORD counterBlock; // of the current instance's counter block
    DWORD blockEnd;
    DWORD count;
    LONG numInstances;
    DWORD numCounters;
    DWORD firstCounter; // first counter definition of the object
    int noInstances;
};

struct PerfCounterCursor {
    const PerfInstanceCursor* instance;
    DWORD position; // of the current counter definition
    DWORD count;
};

struct PerfCounterValue {
    DWORD titleIndex;
    DWORD value;
};

PerfTitles ReadPerfTitles();
void FreePerfTitles(PerfTitles* titles);
DWORD FindTitleIndex(const PerfTitles* titles, const char* name);
// Reads the title database and keeps the six indexes; 1 when it could be read.
int LoadPerfTitleIndexes();

// Null when the data could not be read, is not a "PERF" block, or would grow
// beyond PERF_SNAPSHOT_LIMIT. The caller frees it with FreePerfSnapshot.
PerfSnapshot* TakePerfSnapshot(DWORD objectIndex);
void FreePerfSnapshot(PerfSnapshot* snapshot);

// Each returns 0 at the end of its walk (or on corrupt data), else 1 with the
// cursor on the next item.
int FirstPerfObject(PerfObjectCursor* cursor, PerfSnapshot* snapshot);
int NextPerfObject(PerfObjectCursor* cursor);
DWORD PerfObjectTitleIndex(const PerfObjectCursor* cursor);
int FirstPerfInstance(PerfInstanceCursor* cursor, const PerfObjectCursor* object);
int NextPerfInstance(PerfInstanceCursor* cursor);
int FirstPerfCounter(PerfCounterCursor* cursor, const PerfInstanceCursor* instance,
                     PerfCounterValue* value);
int NextPerfCounter(PerfCounterCursor* cursor, PerfCounterValue* value);

// The text shown after a thread's current priority.
const char* ThreadPriorityText(LONG current, LONG base);
// Puts a thread row ("id\t...", the id hexadecimal with `hexIds`) at the
// place of its id as a number.
void InsertThreadRow(HWND listBox, const char* row, int hexIds);
// The NT family's thread rows of one process; 1 when a row was added.
int ListThreadsNt(HWND listBox, DWORD processId, int hexIds);
// Rows from a Toolhelp thread snapshot, for performance data without any
// "Thread" object; 1 when a row was added.
int ListThreadsFromSnapshot(HWND listBox, DWORD processId, int hexIds);

#endif
