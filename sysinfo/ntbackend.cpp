#include "sysinfo/ntbackend.h"
#include "app/dbcs.h"
#include "app/startup.h"
#include "res/resource.h"
#include "sysinfo/platform.h"
#include "sysinfo/privileges.h"
#include "sysinfo/processhandles.h"
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
};
static const LONG STATUS_INFO_LENGTH_MISMATCH_CODE = static_cast<LONG>(0xC0000004);

static char unknownProcessName[260];
static char noAccessProcessName[260];
static int processNamesLoaded = 0;
static DWORD processIds[PROCESS_ID_CAPACITY];
static LONG basePriorities[PROCESS_ID_CAPACITY];

// The head of one record of the native process table (32-bit layout).
struct NativeProcessRecord {
    ULONG nextEntryOffset;
    ULONG threadCount;
    BYTE countersAndTimes[0x30];
    USHORT imageNameLength;
    USHORT imageNameMaximum;
    WCHAR* imageName;
    LONG basePriority;
    DWORD processId;
    DWORD parentProcessId;
};
static_assert(sizeof(void*) != 4 || offsetof(NativeProcessRecord, basePriority) == 0x40,
              "the native record's 32-bit layout");

// The native table's buffer keeps the size that sufficed last time, so one
// call usually answers a pass.
static BYTE* processTable = nullptr;
static ULONG processTableSize = FIRST_PROCESS_TABLE_SIZE;

// Fills the id and base-priority arrays from the native process table;
// returns the number of ids, or -1 when the call failed.
static int ReadNativeProcessTable() {
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
    if (!processTable) {
        return -1;
    }
    int count = 0;
    ULONG offset = 0;
    while (count < PROCESS_ID_CAPACITY &&
           offset <= processTableSize - sizeof(NativeProcessRecord)) {
        const NativeProcessRecord* record =
            reinterpret_cast<const NativeProcessRecord*>(processTable + offset);
        processIds[count] = record->processId;
        basePriorities[count] = record->basePriority;
        count++;
        if (record->nextEntryOffset == 0 || record->nextEntryOffset > processTableSize - offset) {
            break;
        }
        offset += record->nextEntryOffset;
    }
    return count;
}

// The ids of this pass, from the native table where the call exists, else
// from EnumProcesses; -1 when neither answered. `withBasePriorities` tells
// whether basePriorities holds each process's base priority.
static int ListProcessIds(bool* withBasePriorities) {
    *withBasePriorities = false;
    if (ntApi.ntQuerySystemInformation) {
        int count = ReadNativeProcessTable();
        if (count >= 0) {
            *withBasePriorities = true;
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

// A text the system wrote into the buffer ends inside it, also when cut,
// and a cut never leaves half a double-byte character at its end.
static void TerminateText(char* buffer, DWORD length, DWORD size) {
    CopyText(buffer, static_cast<int>(size), buffer,
             static_cast<int>(length < size ? length : size));
}

static void ReadModuleBaseName(HANDLE process, HMODULE module, char* buffer, DWORD size) {
    buffer[0] = 0;
    TerminateText(buffer, ntApi.getModuleBaseNameA(process, module, buffer, size), size);
}

void NormalizeModulePath(HANDLE process, HMODULE module, char* buffer, DWORD size) {
    if (size == 0) {
        return;
    }
    buffer[0] = 0;
    if (ntApi.getModuleFileNameExA) {
        TerminateText(buffer, ntApi.getModuleFileNameExA(process, module, buffer, size), size);
    }
    NormalizePathText(buffer, size);
}

void NormalizePathText(char* buffer, DWORD size) {
    // Drive paths and network paths are ordinary already.
    if (buffer[0] != '\\' || buffer[1] == '\\') {
        return;
    }
    if (strncmp(buffer, "\\??\\", 4) == 0) {
        memmove(buffer, buffer + 4, strlen(buffer + 4) + 1);
        return;
    }
    // "\Name\rest": Name is an environment variable such as SystemRoot.
    char* copy = _strdup(buffer + 1);
    if (!copy) {
        return;
    }
    char* separator = FindByte(copy, '\\');
    if (separator && separator != copy) {
        *separator = 0;
        const char* rest = separator + 1;
        char value[260];
        DWORD valueLength = GetEnvironmentVariableA(copy, value, sizeof value);
        if (valueLength != 0 && valueLength < sizeof value &&
            strlen(rest) + valueLength + 1 < size) {
            wsprintfA(buffer, "%s\\%s", value, rest);
        }
    }
    free(copy);
}

// A process met for the first time: everything the list shows of it.
static void ReadNewProcess(HANDLE process, ProcessEntry* entry) {
    if (ntApi.ntQueryInformationProcess) {
        DWORD basicInformation[6] = {0, 0, 0, 0, 0, 0};
        if (ntApi.ntQueryInformationProcess(process, 0, basicInformation, sizeof basicInformation,
                                            nullptr) >= 0) {
            entry->parentProcessId = basicInformation[5];
        }
    }
    HMODULE firstModule = nullptr;
    DWORD needed = 0;
    if (!ntApi.enumProcessModules(process, &firstModule, sizeof firstModule, &needed)) {
        lstrcpynA(entry->name, unknownProcessName, sizeof entry->name);
        return;
    }
    ReadModuleBaseName(process, firstModule, entry->name, sizeof entry->name);
    // A process that has only begun to load lists its executable before the
    // module's name can be read: it is not readable yet, and is read again
    // on a later pass rather than shown without a name for good.
    if (entry->name[0] == 0) {
        lstrcpynA(entry->name, unknownProcessName, sizeof entry->name);
        return;
    }
    entry->priorityClass = GetPriorityClass(process);
    entry->threadCount = 0;
    NormalizeModulePath(process, firstModule, entry->path, sizeof entry->path);
    entry->flags &= ~ENTRY_NO_ACCESS;
    entry->affinityMask = QueryProcessAffinity(process, nullptr);
}

int EnumerateProcessesNt(HWND list) {
    if (!processNamesLoaded) {
        processNamesLoaded = 1;
        LoadStringA(appInstance, IDS_UNKNOWN_PROCESS, unknownProcessName,
                    sizeof unknownProcessName);
        LoadStringA(appInstance, IDS_NO_ACCESS_PROCESS, noAccessProcessName,
                    sizeof noAccessProcessName);
    }
    bool withBasePriorities = false;
    int count = ListProcessIds(&withBasePriorities);
    if (count < 0) {
        return 0;
    }
    BeginHandlePass();
    ProcessEntry entry;
    for (int i = 0; i < count; i++) {
        DWORD processId = processIds[i];
        memset(&entry, 0, sizeof entry);
        entry.flags = ENTRY_NO_ACCESS;
        entry.processId = processId;
        entry.kind = KIND_WIN32;

        // The list never takes name, path or parent of a process it already
        // shows: only what may change is read again, through the handle
        // kept from the first pass.
        ProcessNode* known = FindNode(processId, KIND_WIN32);
        KeptProcess* kept = TakeKeptProcess(processId);
        if (known && kept && !(known->flags & ENTRY_NO_ACCESS)) {
            entry.flags = 0;
            entry.parentProcessId = known->parentProcessId;
            lstrcpynA(entry.name, known->name, sizeof entry.name);
            lstrcpynA(entry.path, known->path, sizeof entry.path);
            entry.priorityClass =
                KeptPriorityClass(kept, withBasePriorities ? &basePriorities[i] : nullptr);
            entry.affinityMask = QueryProcessAffinity(kept->handle, nullptr);
            MergeEntry(list, &entry);
            continue;
        }
        // Met for the first time, or not readable so far (still starting,
        // or an id that a new process took over): read it whole again.
        HANDLE process = kept ? kept->handle : OpenProcess(QUERY_AND_READ_ACCESS, FALSE, processId);
        if (!process) {
            lstrcpynA(entry.name, noAccessProcessName, sizeof entry.name);
            MergeEntry(list, &entry);
            continue;
        }
        ReadNewProcess(process, &entry);
        if (!kept) {
            kept = KeepProcessHandle(processId, process);
        }
        if (kept) {
            NoteQueriedClass(kept, entry.priorityClass,
                             withBasePriorities ? &basePriorities[i] : nullptr);
        } else {
            CloseHandle(process);
        }
        MergeEntry(list, &entry);
    }
    EndHandlePass();

    if (ntApi.vdmEnumProcessWow) {
        ntApi.vdmEnumProcessWow(ProcessWowVisitor, reinterpret_cast<LPARAM>(list));
    }
    return 0;
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

int ListModulesPsapi(HWND window, DWORD processId, ModuleVisitor visitor, DWORD userValue) {
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
        visitor(userValue, window, name,
                static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(info.lpBaseOfDll)), info.SizeOfImage,
                path);
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
