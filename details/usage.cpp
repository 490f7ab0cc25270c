#include "details/usage.h"
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "details/modules.h"
#include "res/resource.h"
#include "sysinfo/platform.h"
#include "sysinfo/remotelayout.h"
#include "views/savelist.h"
#include "views/version.h"

#include <commctrl.h>
#include <stdlib.h>
#include <string.h>

enum {
    USAGE_COLUMN_COUNT = 5,
    SELECTION_DELAY_MILLISECONDS = 100,
    KEPT_PROCESS_ACCESS = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ,
    PROCESS_VM_COUNTERS_CLASS = 3,
    VM_COUNTERS_SIZE = 11 * sizeof(SIZE_T), // the system's VM_COUNTERS
    VM_COUNTERS_VIRTUAL_SIZE = 1,
};

// What tells, cheaply, whether a process's modules changed: the heads of
// the loader's three module lists (a module loaded goes to their ends, so
// their last links change) and the size of the process's address space (an
// image mapped or unmapped changes it, also for a module in the middle of
// the lists). Two round trips into the process instead of several per module.
struct ModuleFingerprint {
    BYTE listHeads[6 * 8]; // six links of the process's width
    SIZE_T virtualSize;
};

static ColumnDef usageColumns[USAGE_COLUMN_COUNT] = {
    MAKELONG(IDS_COL_NAME, 100), MAKELONG(486, BASE_COLUMN_WIDTH), MAKELONG(487, 60),
    MAKELONG(502, 125),          MAKELONG(IDS_COL_PATH, 250),
};

static HWND usageList;
static HWND usageStatusBar;
static UsageEntry* usageEntries;

// Reading another process's module list is the most expensive thing the
// window does, so each list it reads is kept while the window is open.
// Before a kept list is used, the process's module fingerprint is taken
// again, and the list is read again only when it changed: every count and
// every filter click then equals a fresh reading, at a small part of its
// cost. The kept handle holds the process id, so no
// other process can take the id over while its list is kept.
struct KeptModules {
    DWORD processId;
    DWORD kind;
    HANDLE process;
    RemoteProcess remote;          // the process as its readers see it
    ULONGLONG loaderData;          // the address of the process's loader data, 0 when unknown
    ModuleFingerprint fingerprint; // taken before the list was read
    int fingerprinted;             // 0: no fingerprint, the list is read each time
    char* records; // per module: base address (64 bits), size (64 bits), name, 0, path, 0
    DWORD used;
    DWORD capacity;
    int complete; // 0 when memory ran out while the list was read
};

static KeptModules* keptLists;
static int keptCount;
static int keptCapacity;

static void ReleaseKeptList(KeptModules* kept) {
    CloseHandle(kept->process);
    free(kept->records);
}

static void DropKeptList(KeptModules* kept) {
    ReleaseKeptList(kept);
    *kept = keptLists[--keptCount];
}

static void ReleaseKeptLists() {
    for (int i = 0; i < keptCount; i++) {
        ReleaseKeptList(&keptLists[i]);
    }
    free(keptLists);
    keptLists = nullptr;
    keptCount = keptCapacity = 0;
}

static KeptModules* FindKeptList(DWORD processId, DWORD kind) {
    for (int i = 0; i < keptCount; i++) {
        if (keptLists[i].processId == processId && keptLists[i].kind == kind) {
            return &keptLists[i];
        }
    }
    return nullptr;
}

// Lists of processes the last pass did not report go with their handles.
static void ForgetEndedProcesses() {
    int kept = 0;
    for (int i = 0; i < keptCount; i++) {
        ProcessNode* node = FindNode(keptLists[i].processId, keptLists[i].kind);
        if (node && (node->flags & NODE_SEEN)) {
            keptLists[kept++] = keptLists[i];
        } else {
            ReleaseKeptList(&keptLists[i]);
        }
    }
    keptCount = kept;
}

static int AppendRecordBytes(KeptModules* kept, const void* bytes, DWORD length) {
    if (kept->used + length > kept->capacity) {
        DWORD capacity = kept->capacity ? kept->capacity * 2 : 2048;
        while (kept->used + length > capacity) {
            capacity *= 2;
        }
        char* records = static_cast<char*>(realloc(kept->records, capacity));
        if (!records) {
            return 0;
        }
        kept->records = records;
        kept->capacity = capacity;
    }
    memcpy(kept->records + kept->used, bytes, length);
    kept->used += length;
    return 1;
}

static int KeepModule(ULONG_PTR value, HWND, const char* moduleName, ULONGLONG baseAddress,
                      DWORD imageSize, const char* fullPath) {
    KeptModules* kept = reinterpret_cast<KeptModules*>(value);
    ULONGLONG numbers[2] = {baseAddress, imageSize};
    DWORD start = kept->used;
    if (kept->complete &&
        !(AppendRecordBytes(kept, numbers, sizeof numbers) &&
          AppendRecordBytes(kept, moduleName, static_cast<DWORD>(strlen(moduleName)) + 1) &&
          AppendRecordBytes(kept, fullPath, static_cast<DWORD>(strlen(fullPath)) + 1))) {
        kept->used = start;
        kept->complete = 0;
    }
    return 0;
}

// Where the process's loader data lies, in the process's own width; 0 when
// it cannot be reached.
static ULONGLONG FindLoaderData(HANDLE process, RemoteProcess* remote) {
    if (!FindRemoteProcess(process, remote)) {
        return 0;
    }
    return ReadRemotePointer(*remote, remote->peb + remote->layout->pebLoaderData);
}

static int ReadFingerprint(const KeptModules* kept, ModuleFingerprint* fingerprint) {
    // The system's counters, in this program's width: the virtual size is
    // the second of them.
    SIZE_T counters[VM_COUNTERS_SIZE / sizeof(SIZE_T)];
    memset(fingerprint, 0, sizeof *fingerprint);
    const RemoteLayout& layout = *kept->remote.layout;
    if (kept->loaderData == 0 ||
        !ReadRemote(kept->remote, kept->loaderData + layout.loaderListHeads, fingerprint->listHeads,
                    6 * layout.pointerSize) ||
        ntApi.ntQueryInformationProcess(kept->process, PROCESS_VM_COUNTERS_CLASS, counters,
                                        sizeof counters, nullptr) < 0) {
        return 0;
    }
    fingerprint->virtualSize = counters[VM_COUNTERS_VIRTUAL_SIZE];
    return 1;
}

static int KeptListIsCurrent(const KeptModules* kept) {
    ModuleFingerprint now;
    return kept->fingerprinted && ReadFingerprint(kept, &now) &&
           memcmp(&now, &kept->fingerprint, sizeof now) == 0;
}

// Reads the process's module list into `kept`. The fingerprint is taken
// first: a module loaded in between is in the list and shows as a change at
// the next check, so a kept list is never older than its fingerprint.
static int ReadKeptModules(KeptModules* kept) {
    kept->fingerprinted = ReadFingerprint(kept, &kept->fingerprint);
    kept->used = 0;
    kept->complete = 1;
    FillModuleList(nullptr, kept->processId, KeepModule, reinterpret_cast<ULONG_PTR>(kept));
    return kept->complete;
}

// Reads the node's module list and keeps it; null when it cannot be kept.
static KeptModules* ReadKeptList(const ProcessNode* node) {
    if (keptCount == keptCapacity) {
        int capacity = keptCapacity ? keptCapacity * 2 : 128;
        KeptModules* lists =
            static_cast<KeptModules*>(realloc(keptLists, capacity * sizeof(KeptModules)));
        if (!lists) {
            return nullptr;
        }
        keptLists = lists;
        keptCapacity = capacity;
    }
    // Opened before the list is read: a process that ends in between gives
    // an empty list, never another process's.
    HANDLE process = OpenProcess(KEPT_PROCESS_ACCESS, FALSE, node->processId);
    if (!process) {
        return nullptr;
    }
    KeptModules* kept = &keptLists[keptCount];
    memset(kept, 0, sizeof *kept);
    kept->processId = node->processId;
    kept->kind = node->kind;
    kept->process = process;
    kept->loaderData = FindLoaderData(process, &kept->remote);
    if (!ReadKeptModules(kept)) {
        ReleaseKeptList(kept);
        return nullptr;
    }
    keptCount++;
    return kept;
}

// Hands every module of the node's process to the visitor: from the kept
// list, read again when the process's modules changed or the process is new
// to the window; straight from the process when the list cannot be kept.
static void VisitNodeModules(const ProcessNode* node, ModuleVisitor visitor, ULONG_PTR value) {
    KeptModules* kept = FindKeptList(node->processId, node->kind);
    if (kept && !KeptListIsCurrent(kept) && !ReadKeptModules(kept)) {
        DropKeptList(kept);
        kept = nullptr;
    } else if (!kept) {
        kept = ReadKeptList(node);
    }
    if (!kept) {
        FillModuleList(nullptr, node->processId, visitor, value);
        return;
    }
    const char* record = kept->records;
    const char* end = kept->records + kept->used;
    while (record < end) {
        ULONGLONG numbers[2];
        memcpy(numbers, record, sizeof numbers);
        const char* name = record + sizeof numbers;
        const char* path = name + strlen(name) + 1;
        visitor(value, nullptr, name, numbers[0], static_cast<DWORD>(numbers[1]), path);
        record = path + strlen(path) + 1;
    }
}

int CountModuleUse(ULONG_PTR value, HWND, const char* moduleName, ULONGLONG baseAddress,
                   DWORD imageSize, const char* fullPath) {
    UsageEntry** head = reinterpret_cast<UsageEntry**>(value);
    for (UsageEntry* entry = *head; entry; entry = entry->next) {
        if (entry->baseAddress == baseAddress && lstrcmpiA(entry->path, fullPath) == 0) {
            entry->useCount++;
            return 0;
        }
    }
    UsageEntry* entry = static_cast<UsageEntry*>(calloc(1, sizeof(UsageEntry)));
    if (!entry) {
        return 0;
    }
    entry->name = _strdup(moduleName);
    entry->path = _strdup(fullPath);
    if (!entry->name || !entry->path) {
        free(entry->name);
        free(entry->path);
        free(entry);
        return 0;
    }
    entry->baseAddress = baseAddress;
    entry->size = imageSize;
    entry->useCount = 1;
    entry->next = *head;
    *head = entry;
    return 0;
}

int MarkModuleUser(ULONG_PTR value, HWND, const char*, ULONGLONG baseAddress, DWORD,
                   const char* fullPath) {
    const ModuleUserQuery* query = reinterpret_cast<const ModuleUserQuery*>(value);
    if (baseAddress == query->baseAddress && lstrcmpiA(fullPath, query->path) == 0) {
        query->node->flags |= NODE_FILTERED_OUT;
    }
    return 0;
}

// Takes the first usage entry off the list and gives the list its row; the
// row takes over the entry's texts.
static void AddUsageRow(HWND list) {
    UsageEntry* entry = usageEntries;
    usageEntries = entry->next;
    ModuleRow* row = static_cast<ModuleRow*>(calloc(1, sizeof(ModuleRow)));
    if (!row) {
        free(entry->name);
        free(entry->path);
        free(entry);
        return;
    }
    row->name = entry->name;
    row->path = entry->path;
    row->baseAddress = entry->baseAddress;
    row->size = entry->size;
    row->useCount = entry->useCount;
    free(entry);
    char count[16];
    wsprintfA(count, "%d", row->useCount);
    if (InsertModuleRow(list, row, count) == -1) {
        FreeModuleRow(row);
    }
}

void BuildUsageList(HWND list) {
    CompleteProcessList(listWindow);
    ULONG_PTR head = reinterpret_cast<ULONG_PTR>(&usageEntries);
    for (ProcessNode* node = processListHead; node; node = node->next) {
        // Also the processes the filter took off the main list count; those
        // that have ended do not.
        if (!(node->flags & (ENTRY_NO_ACCESS | NODE_GONE | NODE_RETIRED))) {
            VisitNodeModules(node, CountModuleUse, head);
        }
    }
    while (usageEntries) {
        AddUsageRow(list);
    }
}

// The window lists its rows again from the current process nodes, in the
// order the header's arrow shows.
static void RefreshUsageList() {
    // The lists of processes that have ended go with their handles, so that
    // their ids can be given to new processes.
    ForgetEndedProcesses();
    int lastVisible = BeginModuleRefill(usageList);
    BuildUsageList(usageList);
    SortModuleList(usageList, IDC_USAGE_LIST);
    EndModuleRefill(usageList, lastVisible);
}

static void MarkModuleUsers(const ModuleRow* row) {
    ClearFilterMarks();
    for (ProcessNode* node = processListHead; node; node = node->next) {
        // A process the pass did not report loses its row anyway.
        if ((node->flags & (ENTRY_NO_ACCESS | NODE_SEEN)) == NODE_SEEN) {
            ModuleUserQuery query = {node, row->path, row->baseAddress};
            VisitNodeModules(node, MarkModuleUser, reinterpret_cast<ULONG_PTR>(&query));
        }
    }
    for (ProcessNode* node = processListHead; node; node = node->next) {
        node->flags ^= NODE_FILTERED_OUT;
    }
}

// The main list's drawing is left to the pass and to the filter's removal,
// which stop it only while many rows change: the list view draws all of its
// rows again whenever its drawing is switched back on.
void ApplyModuleFilter(HWND dialog) {
    KillTimer(dialog, REFRESH_TIMER_ID);
    SendMessageA(statusWindow, WM_SETREDRAW, FALSE, 0);
    ModuleRow* row = GetSelectedModuleRow(usageList);
    int filtering = row && row->path && row->path[0];
    if (!filtering) {
        // Without a module the pass shows every process again.
        ClearFilterMarks();
    }
    RefreshPass(listWindow);
    CompleteProcessList(listWindow);
    if (filtering) {
        ForgetEndedProcesses();
        MarkModuleUsers(row);
        RemoveStaleRows(listWindow, 1);
    }
    SendMessageA(statusWindow, WM_SETREDRAW, TRUE, 0);
    if (SendMessageA(listWindow, LVM_GETSELECTEDCOUNT, 0, 0) == 0) {
        UpdateCommandStates(nullptr);
    }
    UpdateStatusText(nullptr);
    SendMessageA(toolbarWindow, TB_CHECKBUTTON, IDM_MODULE_USAGE, TRUE);
    if (row && row->baseAddress != 0) {
        char caption[600], shown[600];
        DWORD high = static_cast<DWORD>(row->baseAddress >> 32);
        DWORD low = static_cast<DWORD>(row->baseAddress);
        wsprintfA(caption, high ? "%s -- %s:%x%08x" : "%s -- %s:%x", mainTitle, row->path,
                  high ? high : low, low);
        // Setting the same caption again would only redraw the frame.
        GetWindowTextA(mainWindow, shown, sizeof shown);
        if (lstrcmpA(caption, shown) != 0) {
            SetWindowTextA(mainWindow, caption);
        }
    }
    refreshSuspended = 1;
}

static void RestartSelectionTimer(HWND dialog) {
    KillTimer(dialog, REFRESH_TIMER_ID);
    SetTimer(dialog, REFRESH_TIMER_ID, SELECTION_DELAY_MILLISECONDS, nullptr);
}

static void OnUsageListEvent(HWND dialog, WPARAM code, LPARAM key) {
    ModuleRow* row = GetSelectedModuleRow(usageList);
    UpdateModuleStatus(usageList, usageStatusBar, row);
    if (code == static_cast<WPARAM>(NM_CLICK)) {
        RestartSelectionTimer(dialog);
    } else if (code == static_cast<WPARAM>(LVN_KEYDOWN)) {
        RestartSelectionTimer(dialog);
        if ((key == 'S' && GetKeyState(VK_CONTROL) < 0) || key == VK_F2) {
            OpenSaveFile(dialog);
            RefreshUsageList();
            WriteModuleRows(usageList, CurrentSaveFile());
            CloseSaveFile();
        } else if (key == VK_F5) {
            RefreshUsageList();
            CloseSaveFile();
        }
    } else {
        OnModuleRowEvent(dialog, code, row, IDS_USAGE_POPUP);
    }
}

static void OnUsageInit(HWND dialog) {
    usageList = GetDlgItem(dialog, IDC_USAGE_LIST);
    InsertModuleColumns(usageList, usageColumns);
    usageStatusBar = CreateModuleStatusBar(dialog);
    LayoutModuleWindow(dialog, usageList, usageStatusBar);
    SendMessageA(listWindow, WM_SETREDRAW, FALSE, 0);
    RefreshProcessList();
    BuildUsageList(usageList);
    SortModuleList(usageList, IDC_USAGE_LIST);
    SendMessageA(listWindow, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(listWindow, nullptr, TRUE);
    UpdateModuleStatus(usageList, nullptr, nullptr);
    UpdateModuleStatus(usageList, usageStatusBar, nullptr);
}

INT_PTR CALLBACK UsageDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        OnUsageInit(dialog);
        return TRUE;
    case WM_SIZE:
        LayoutModuleWindow(dialog, usageList, usageStatusBar);
        return FALSE;
    case WM_NOTIFY:
        RouteModuleListNotify(dialog, reinterpret_cast<const NMHDR*>(lParam));
        return TRUE;
    case MSG_LIST_EVENT:
        OnUsageListEvent(dialog, wParam, lParam);
        return FALSE;
    case WM_TIMER:
        ApplyModuleFilter(dialog);
        return TRUE;
    case WM_COMMAND:
        OnModuleWindowCommand(dialog, usageList, wParam);
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return FALSE;
    case WM_DESTROY:
        ReleaseKeptLists();
        return FALSE;
    default:
        return FALSE;
    }
}

LRESULT OnModuleUsageCommand(HWND, WPARAM, WPARAM, LPARAM) {
    if (refreshSuspended) {
        RefreshProcessList();
        return 0;
    }
    modulesProcessId = GetSelectedProcess(listWindow, nullptr, 0);
    DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_MODULE_USAGE), mainWindow, UsageDlgProc, 0);
    return 0;
}
