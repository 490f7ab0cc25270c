#include "sysinfo/toolhelp.h"
#include "app/dbcs.h"
#include "app/settings.h"
#include "app/startup.h"
#include "sysinfo/platform.h"
#include "sysinfo/processhandles.h"
#include "views/processlist.h"

#include <string.h>

enum { FULL_PROCESS_ACCESS = 0x1F0FFF };

static char threadPriorityTexts[7][260];
static int threadTextsLoaded = 0;
static char defaultHeapText[260];
static char sharedHeapText[260];
static int heapTextsLoaded = 0;
static char freeBlockText[260];
static int blockTextLoaded = 0;

static void LoadString260(UINT id, char* buffer) {
    buffer[0] = 0;
    LoadStringA(appInstance, id, buffer, 260);
}

// The text shown after a thread's priority, by its delta.
static const char* ThreadRowText(LONG delta) {
    static const struct {
        LONG delta;
        int index;
    } texts[] = {{-15, 6}, {-2, 0}, {-1, 1}, {0, 2}, {1, 3}, {2, 4}, {15, 5}};
    for (const auto& text : texts) {
        if (text.delta == delta) {
            return threadPriorityTexts[text.index];
        }
    }
    return "";
}

// A record's texts may fill their fields to the end, without a terminator:
// each is cut, between characters, inside its field.
static void TerminateModuleTexts(MODULEENTRY32* module) {
    CopyText(module->szModule, sizeof module->szModule, module->szModule);
    CopyText(module->szExePath, sizeof module->szExePath, module->szExePath);
}

int FindProcessModule(DWORD processId, DWORD moduleId, MODULEENTRY32* module, DWORD size) {
    HANDLE snapshot = toolhelpApi.createToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    if (snapshot == INVALID_HANDLE_VALUE || !snapshot) {
        return 0;
    }
    MODULEENTRY32 entry;
    memset(&entry, 0, sizeof entry);
    entry.dwSize = sizeof entry;
    for (BOOL more = toolhelpApi.module32First(snapshot, &entry); more;
         more = toolhelpApi.module32Next(snapshot, &entry)) {
        // NT-style Toolhelp gives processes module id 0: their first module
        // is the executable.
        if (entry.th32ModuleID == moduleId || moduleId == 0) {
            TerminateModuleTexts(&entry);
            memcpy(module, &entry, size < sizeof entry ? size : sizeof entry);
            CloseHandle(snapshot);
            return 1;
        }
    }
    CloseHandle(snapshot);
    return 0;
}

// Reads a little-endian value at `offset` of the mapped file, or fails when
// it does not lie wholly inside the file.
static bool ReadWord(const BYTE* view, DWORD fileSize, DWORD offset, DWORD bytes, DWORD* value) {
    if (offset > fileSize || bytes > fileSize - offset) {
        return false;
    }
    *value = 0;
    for (DWORD i = 0; i < bytes; i++) {
        *value |= static_cast<DWORD>(view[offset + i]) << (8 * i);
    }
    return true;
}

static int ReadResidentName(const BYTE* view, DWORD fileSize, char* buffer, WORD size) {
    DWORD newHeader;
    DWORD tableOffset;
    DWORD length;
    if (fileSize < 2 || view[0] != 'M' || view[1] != 'Z' ||
        !ReadWord(view, fileSize, 0x3C, 4, &newHeader) || newHeader > fileSize - 2 ||
        view[newHeader] != 'N' || view[newHeader + 1] != 'E' ||
        !ReadWord(view, fileSize, newHeader + 0x26, 2, &tableOffset) ||
        newHeader + tableOffset < newHeader ||
        !ReadWord(view, fileSize, newHeader + tableOffset, 1, &length)) {
        return 0;
    }
    if (size == 0) {
        return 0;
    }
    DWORD count = length + 1 < size ? length + 1 : size; // characters plus the terminator
    DWORD name = newHeader + tableOffset + 1;
    if (count - 1 > fileSize - name) {
        return 0;
    }
    // An empty name is no name: the caller falls back as for an unreadable file.
    if (length == 0 || name >= fileSize || view[name] == 0) {
        return 0;
    }
    CopyText(buffer, static_cast<int>(count), reinterpret_cast<const char*>(view + name),
             static_cast<int>(count - 1));
    return 1;
}

int ReadNeModuleName(const char* path, char* buffer, WORD size) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DWORD fileSize = GetFileSize(file, nullptr);
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping) {
        CloseHandle(file);
        return 0;
    }
    const BYTE* view = static_cast<const BYTE*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    if (!view) {
        CloseHandle(mapping);
        CloseHandle(file);
        return 0;
    }
    // Every offset comes from the file and is checked against its size
    // before it is used, so a short or hostile file gives 0.
    int result = fileSize == INVALID_FILE_SIZE ? 0 : ReadResidentName(view, fileSize, buffer, size);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    CloseHandle(file);
    return result;
}

int EnumerateProcessesToolhelp(HWND list) {
    HANDLE snapshot = toolhelpApi.createToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE || !snapshot) {
        return 0;
    }
    BeginHandlePass();
    // This family tells no creation times: a process is told apart by when
    // this program first kept a handle for it. The handle keeps its id; an
    // id reported again without one was let go and may name a new process,
    // which gets a time of its own and so a row of its own.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    static ULONGLONG lastFirstSeen;
    ULONGLONG firstSeen = FileTimeValue(now);
    // Two passes within the clock's step still tell their newcomers apart.
    firstSeen = firstSeen > lastFirstSeen ? firstSeen : lastFirstSeen + 1;
    lastFirstSeen = firstSeen;
    ProcessEntry entry;
    memset(&entry, 0, sizeof entry);
    PROCESSENTRY32 process;
    memset(&process, 0, sizeof process);
    process.dwSize = sizeof process;
    int found = 0;
    for (BOOL more = toolhelpApi.process32First(snapshot, &process); more;
         more = toolhelpApi.process32Next(snapshot, &process)) {
        found = 1;
        entry.affinityMask = 0;
        entry.basePriority = process.pcPriClassBase;
        entry.processId = process.th32ProcessID;
        entry.parentProcessId = process.th32ParentProcessID;
        entry.threadCount = process.cntThreads;
        entry.createTime = 0;

        // A known process needs only what the merge compares: the snapshot's
        // thread count, and its priority class through the handle kept from
        // the first pass when the snapshot's base priority moved. Its module
        // and name are not read again.
        KeptProcess* kept = TakeKeptProcess(process.th32ProcessID);
        if (kept && kept->learned && kept->learned->complete) {
            entry.priorityClass = KeptPriorityClass(kept, &entry.basePriority);
            FillFromLearned(kept, &entry);
            entry.parentProcessId = process.th32ParentProcessID;
            entry.createTime = kept->createTime;
            MergeEntry(list, &entry);
            continue;
        }

        MODULEENTRY32 module;
        if (!FindProcessModule(process.th32ProcessID, process.th32ModuleID, &module,
                               sizeof module)) {
            continue;
        }
        HANDLE handle =
            kept ? kept->handle : OpenProcess(FULL_PROCESS_ACCESS, FALSE, process.th32ProcessID);
        entry.priorityClass = handle ? GetPriorityClass(handle) : 0;
        if (handle && !kept) {
            kept = KeepProcessHandle(process.th32ProcessID, handle);
            if (!kept) {
                CloseHandle(handle);
            } else {
                kept->createTime = firstSeen;
            }
        }
        if (kept) {
            entry.createTime = kept->createTime;
        }
        if (kept) {
            NoteQueriedClass(kept, entry.priorityClass, &entry.basePriority);
        }
        // NT-style Toolhelp names only the executable's file; its first
        // module, taken as the process's module, carries the full path.
        CopyText(process.szExeFile, sizeof process.szExeFile, process.szExeFile);
        const char* executable = process.th32ModuleID == 0 ? module.szExePath : process.szExeFile;
        CopyText(entry.path, sizeof entry.path, executable);
        if (lstrcmpiA(executable, module.szExePath) == 0) {
            CopyText(entry.name, sizeof entry.name, module.szModule);
            entry.kind = KIND_WIN32;
        } else {
            // A 16-bit program: its module name is stored in the file.
            if (!ReadNeModuleName(executable, entry.name, sizeof entry.name)) {
                CopyText(entry.name, sizeof entry.name, module.szModule);
            }
            entry.kind = KIND_WIN16;
        }
        if (kept) {
            LearnProcess(kept, &entry);
        }
        MergeEntry(list, &entry);
    }
    CloseHandle(snapshot);
    EndHandlePass();
    return found;
}

int ListThreadsToolhelp(HWND listBox, DWORD processId) {
    if (!threadTextsLoaded) {
        threadTextsLoaded = 1;
        for (int i = 0; i < 7; i++) {
            LoadString260(416 + i, threadPriorityTexts[i]);
        }
    }
    HANDLE snapshot = toolhelpApi.createToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE || !snapshot) {
        return 0;
    }
    THREADENTRY32 thread;
    memset(&thread, 0, sizeof thread);
    thread.dwSize = sizeof thread;
    BOOL first = toolhelpApi.thread32First(snapshot, &thread);
    for (BOOL more = first; more; more = toolhelpApi.thread32Next(snapshot, &thread)) {
        if (thread.th32OwnerProcessID != processId) {
            continue;
        }
        char row[400];
        wsprintfA(row, hexProcessId ? "%08x\t%d %s" : "%08u\t%d %s", thread.th32ThreadID,
                  thread.tpBasePri + thread.tpDeltaPri, ThreadRowText(thread.tpDeltaPri));
        SendMessageA(listBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row));
    }
    CloseHandle(snapshot);
    return first ? 1 : 0;
}

// The 64-bit program asks for the 32-bit modules too: those are what a
// process of the system's 32-bit layer loaded itself.
#ifdef _WIN64
static const DWORD MODULE_SNAPSHOT_FLAGS = TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32;
#else
static const DWORD MODULE_SNAPSHOT_FLAGS = TH32CS_SNAPMODULE;
#endif

int ListModulesToolhelp(HWND window, DWORD processId, ModuleVisitor visitor, ULONG_PTR userValue) {
    HANDLE snapshot = toolhelpApi.createToolhelp32Snapshot(MODULE_SNAPSHOT_FLAGS, processId);
    if (snapshot == INVALID_HANDLE_VALUE || !snapshot) {
        return 0;
    }
    MODULEENTRY32 module;
    memset(&module, 0, sizeof module);
    module.dwSize = sizeof module;
    BOOL first = toolhelpApi.module32First(snapshot, &module);
    for (BOOL more = first; more; more = toolhelpApi.module32Next(snapshot, &module)) {
        TerminateModuleTexts(&module);
        visitor(userValue, window, module.szModule, reinterpret_cast<ULONG_PTR>(module.modBaseAddr),
                module.modBaseSize, module.szExePath);
    }
    CloseHandle(snapshot);
    return first ? 1 : 0;
}

void ListHeapsToolhelp(HWND listBox, DWORD processId) {
    if (!heapTextsLoaded) {
        heapTextsLoaded = 1;
        LoadString260(423, defaultHeapText);
        LoadString260(424, sharedHeapText);
    }
    HANDLE snapshot = toolhelpApi.createToolhelp32Snapshot(TH32CS_SNAPHEAPLIST, processId);
    if (snapshot == INVALID_HANDLE_VALUE || !snapshot) {
        return;
    }
    HEAPLIST32 heap;
    memset(&heap, 0, sizeof heap);
    heap.dwSize = sizeof heap;
    for (BOOL more = toolhelpApi.heap32ListFirst(snapshot, &heap); more;
         more = toolhelpApi.heap32ListNext(snapshot, &heap)) {
        DWORD total = 0;
        DWORD freeBytes = 0;
        HEAPENTRY32 block;
        memset(&block, 0, sizeof block);
        block.dwSize = sizeof block;
        for (BOOL blocks = toolhelpApi.heap32First(&block, processId, heap.th32HeapID); blocks;
             blocks = toolhelpApi.heap32Next(&block)) {
            total += block.dwBlockSize;
            if (block.dwFlags & LF32_FREE) {
                freeBytes += block.dwBlockSize;
            }
        }
        char row[700];
        wsprintfA(row, "%08x\t%8u\t%8u\t%8u\t%s %s", static_cast<DWORD>(heap.th32HeapID), total,
                  total - freeBytes, freeBytes,
                  (heap.dwFlags & HF32_DEFAULT) ? defaultHeapText : "",
                  (heap.dwFlags & HF32_SHARED) ? sharedHeapText : "");
        SendMessageA(listBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row));
    }
    CloseHandle(snapshot);
}

void ListHeapBlocksToolhelp(HWND listBox, DWORD processId, DWORD heapId) {
    if (!blockTextLoaded) {
        blockTextLoaded = 1;
        LoadString260(425, freeBlockText);
    }
    HEAPENTRY32 block;
    memset(&block, 0, sizeof block);
    block.dwSize = sizeof block;
    for (BOOL more = toolhelpApi.heap32First(&block, processId, heapId); more;
         more = toolhelpApi.heap32Next(&block)) {
        char row[400];
        wsprintfA(row, "%08x\t%08u\t%s", static_cast<DWORD>(block.dwAddress), block.dwBlockSize,
                  (block.dwFlags & LF32_FREE) ? freeBlockText : "");
        SendMessageA(listBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row));
    }
}
