#include "sysinfo/ntbackend.h"
#include "app/dbcs.h"
#include "app/startup.h"
#include "res/resource.h"
#include "sysinfo/platform.h"
#include "sysinfo/privileges.h"
#include "views/processlist.h"

#include <stdlib.h>
#include <string.h>

enum {
    PROCESS_ID_CAPACITY = 2048,
    MODULE_HANDLE_CAPACITY = 1024,
    QUERY_AND_READ_ACCESS = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ,
    HANDLE_TABLE_SIZE = 4096, // a power of two, twice the most ids a pass sees
};

static char unknownProcessName[260];
static char noAccessProcessName[260];
static int processNamesLoaded = 0;
static DWORD processIds[PROCESS_ID_CAPACITY];

// Process handles kept from one pass to the next, by process id. A process
// whose handle is open keeps its id, so an id reported again is the same
// process; a pass that no longer reports it closes the handle.
struct KeptHandle {
    DWORD processId; // 0: free slot
    HANDLE handle;
    DWORD pass;
};
static KeptHandle keptHandles[HANDLE_TABLE_SIZE];
static int keptHandleCount = 0;
static DWORD passNumber = 0;

static KeptHandle* FindKeptSlot(DWORD processId) {
    DWORD index = (processId * 2654435761u) & (HANDLE_TABLE_SIZE - 1);
    while (keptHandles[index].processId != 0 && keptHandles[index].processId != processId) {
        index = (index + 1) & (HANDLE_TABLE_SIZE - 1);
    }
    return &keptHandles[index];
}

static void KeepHandle(DWORD processId, HANDLE handle) {
    KeptHandle* slot = FindKeptSlot(processId);
    if (slot->processId == 0) {
        keptHandleCount++;
    }
    slot->processId = processId;
    slot->handle = handle;
    slot->pass = passNumber;
}

// Closes the handles of processes this pass did not report and packs the
// survivors into a fresh table.
static void DropUnreportedHandles() {
    static KeptHandle survivors[HANDLE_TABLE_SIZE];
    int count = 0;
    for (KeptHandle& slot : keptHandles) {
        if (slot.processId == 0) {
            continue;
        }
        if (slot.pass == passNumber) {
            survivors[count++] = slot;
        } else {
            CloseHandle(slot.handle);
        }
        slot.processId = 0;
    }
    keptHandleCount = 0;
    for (int i = 0; i < count; i++) {
        KeepHandle(survivors[i].processId, survivors[i].handle);
    }
}

void ReleaseProcessHandles() {
    passNumber++;
    DropUnreportedHandles();
}

int KeptProcessHandleCount() {
    return keptHandleCount;
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
    DWORD returned = 0;
    if (!ntApi.enumProcesses || !ntApi.enumProcesses(processIds, sizeof processIds, &returned)) {
        return 0;
    }
    passNumber++;
    DWORD count = returned / sizeof processIds[0];
    if (count > PROCESS_ID_CAPACITY) {
        count = PROCESS_ID_CAPACITY;
    }
    ProcessEntry entry;
    for (DWORD i = 0; i < count; i++) {
        DWORD processId = processIds[i];
        memset(&entry, 0, sizeof entry);
        entry.flags = ENTRY_NO_ACCESS;
        entry.processId = processId;
        entry.kind = KIND_WIN32;

        // The list never takes name, path or parent of a process it already
        // has, nor anything of one it keeps without access: only what may
        // change is read again, through the handle kept from the first pass.
        ProcessNode* known = FindNode(processId, KIND_WIN32);
        if (known && (known->flags & ENTRY_NO_ACCESS)) {
            lstrcpynA(entry.name, known->name, sizeof entry.name);
            MergeEntry(list, &entry);
            continue;
        }
        KeptHandle* kept = processId != 0 ? FindKeptSlot(processId) : nullptr;
        HANDLE process = kept && kept->processId ? kept->handle : nullptr;
        if (process && known) {
            kept->pass = passNumber;
            entry.flags = 0;
            entry.parentProcessId = known->parentProcessId;
            lstrcpynA(entry.name, known->name, sizeof entry.name);
            lstrcpynA(entry.path, known->path, sizeof entry.path);
            entry.priorityClass = GetPriorityClass(process);
            entry.affinityMask = QueryProcessAffinity(process, nullptr);
            MergeEntry(list, &entry);
            continue;
        }
        if (!process) {
            process = OpenProcess(QUERY_AND_READ_ACCESS, FALSE, processId);
        }
        if (!process) {
            lstrcpynA(entry.name, noAccessProcessName, sizeof entry.name);
            MergeEntry(list, &entry);
            continue;
        }
        ReadNewProcess(process, &entry);
        if (kept && kept->processId) {
            kept->pass = passNumber;
        } else if (!(entry.flags & ENTRY_NO_ACCESS) && processId != 0) {
            KeepHandle(processId, process);
        } else {
            // The list keeps such a process without asking about it again.
            CloseHandle(process);
        }
        MergeEntry(list, &entry);
    }
    DropUnreportedHandles();

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

int ListModulesNt(HWND window, DWORD processId, ModuleVisitor visitor, DWORD userValue) {
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
