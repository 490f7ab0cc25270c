#include "listfixture.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/ntbackend.h"
#include "testutil.h"

#include <commctrl.h>
#include <string.h>

ListCounters listCounters;

static WNDPROC originalMainProc;

// Counts the list's cell-text requests on their way to the main window.
static LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NOTIFY) {
        NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->code == LVN_GETDISPINFOA && header->idFrom == IDC_LIST_MAIN) {
            NMLVDISPINFOA* info = reinterpret_cast<NMLVDISPINFOA*>(lParam);
            listCounters.cellRequests++;
            listCounters.requestedRows.push_back(info->item.iItem);
            listCounters.requestedColumns.push_back(info->item.iSubItem);
        }
    }
    return CallWindowProcA(originalMainProc, window, message, wParam, lParam);
}

static BOOL WINAPI NoProcesses(DWORD*, DWORD, DWORD* returned) {
    *returned = 0;
    return TRUE;
}

std::vector<DWORD> fakeNtvdms;
std::vector<FakeTask> fakeTasks;
int processWowCalls;
WowProcessEnumProc processWowCallback;
LPARAM processWowUserValue;
std::vector<BOOL> ntvdmVisitResults;
std::vector<DWORD> taskEnumerations;

INT WINAPI FakeEnumProcessWow(WowProcessEnumProc callback, LPARAM userValue) {
    processWowCalls++;
    processWowCallback = callback;
    processWowUserValue = userValue;
    INT visited = 0;
    for (DWORD ntvdm : fakeNtvdms) {
        visited++;
        BOOL stop = callback(ntvdm, 0, userValue);
        ntvdmVisitResults.push_back(stop);
        if (stop) {
            break;
        }
    }
    return visited;
}

INT WINAPI FakeEnumTaskWowEx(DWORD processId, WowTaskEnumProc callback, LPARAM userValue) {
    taskEnumerations.push_back(processId);
    INT visited = 0;
    for (const FakeTask& task : fakeTasks) {
        if (task.ntvdmId != processId) {
            continue;
        }
        visited++;
        // The callback receives writable strings that live only during the call.
        std::vector<char> moduleName(task.moduleName.begin(), task.moduleName.end());
        moduleName.push_back(0);
        std::vector<char> fileName(task.fileName.begin(), task.fileName.end());
        fileName.push_back(0);
        if (callback(task.threadId, 0x1F0, task.task16, moduleName.data(), fileName.data(),
                     userValue)) {
            break;
        }
    }
    return visited;
}

DWORD terminatedNtvdm;
WORD terminatedTask;
BOOL terminateResult;
int terminateCalls;

BOOL WINAPI FakeTerminateTaskWow(DWORD processId, WORD task16) {
    terminateCalls++;
    terminatedNtvdm = processId;
    terminatedTask = task16;
    return terminateResult;
}

void ClearWowTasks() {
    fakeNtvdms.clear();
    fakeTasks.clear();
    processWowCalls = 0;
    processWowCallback = nullptr;
    processWowUserValue = 0;
    ntvdmVisitResults.clear();
    taskEnumerations.clear();
    terminatedNtvdm = 0;
    terminatedTask = 0;
    terminateResult = TRUE;
    terminateCalls = 0;
}

void PlayWowTasks() {
    ClearWowTasks();
    ntApi.vdmEnumProcessWow = FakeEnumProcessWow;
    ntApi.vdmEnumTaskWowEx = FakeEnumTaskWowEx;
    ntApi.vdmTerminateTaskWow = FakeTerminateTaskWow;
}

void PrepareProgramClasses() {
    static bool registered = false;
    if (registered) {
        return;
    }
    registered = true;
    appInstance = GetModuleHandleA(nullptr);
    LoadStringA(appInstance, IDS_CLASS_NAME, mainClassName, sizeof mainClassName);
    LoadStringA(appInstance, IDS_TITLE, mainTitle, sizeof mainTitle);
    smallAppIcon = LoadIconA(appInstance, MAKEINTRESOURCEA(IDI_TOLVANE));
    fallbackWindowIcon = static_cast<HICON>(
        LoadImageA(appInstance, MAKEINTRESOURCEA(IDI_FALLBACK_WINDOW), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    PreloadTitleTexts();
    DetectPlatform();
    LoadBackEnd();
    ActivateColumnSet();
    ASSERT_TRUE(RegisterMainWindowClass(appInstance));
    ASSERT_TRUE(RegisterDialogClass(appInstance));
}

void ListFixture::CreateMainWindowFor(int ntFamilyValue, bool emptyList) {
    PrepareProgramClasses();
    savedNtApi = ntApi;
    if (emptyList) {
        ntApi.enumProcesses = NoProcesses;
        ntApi.ntQuerySystemInformation = nullptr;
    }
    ntFamily = ntFamilyValue;
    ActivateColumnSet();
    useSysTray = 0;
    sortColumn = 0;
    sortDirection = 1;
    ASSERT_NE(CreateMainWindow(appInstance), nullptr);
    originalMainProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(mainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingProc)));
    ShowWindow(mainWindow, SW_SHOW);
    SetWindowPos(mainWindow, nullptr, 0, 0, 700, 500, SWP_NOMOVE | SWP_NOZORDER);
    Paint();
    ResetCounters();
}

void ListFixture::TearDown() {
    if (mainWindow) {
        SetRefreshTimer(0);
        DestroyWindow(mainWindow);
    }
    PumpMessages(0);
    mainWindow = listWindow = toolbarWindow = statusWindow = nullptr;
    // The window saved its settings as it closed: leave the prefix clean.
    DeleteSettingsKey();
    processListHead = nullptr;
    ntApi = savedNtApi;
    ntFamily = 1;
    hexProcessId = colorize = resourceColumns = 0;
    ActivateColumnSet();
    mainRefreshSeconds = 2;
    refreshSuspended = 0;
    ReleaseProcessHandles();
}

ProcessEntry ListFixture::MakeEntry(DWORD processId, const char* name, DWORD priorityClass,
                                    DWORD kind, DWORD parent, const char* path) {
    ProcessEntry entry;
    memset(&entry, 0, sizeof entry);
    entry.processId = processId;
    lstrcpynA(entry.name, name, sizeof entry.name);
    entry.priorityClass = priorityClass;
    entry.kind = kind;
    entry.parentProcessId = parent;
    lstrcpynA(entry.path, path, sizeof entry.path);
    return entry;
}

std::vector<DWORD> ListFixture::RowIds() {
    std::vector<DWORD> ids;
    int count = static_cast<int>(SendMessageA(listWindow, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; row++) {
        ProcessNode* node = GetRowNode(row);
        ids.push_back(node ? node->processId : 0xFFFFFFFF);
    }
    return ids;
}

std::vector<std::string> ListFixture::RowNames() {
    std::vector<std::string> names;
    int count = static_cast<int>(SendMessageA(listWindow, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; row++) {
        names.push_back(CellText(row, 0));
    }
    return names;
}

int ListFixture::RowOf(DWORD processId, DWORD kind) {
    int count = static_cast<int>(SendMessageA(listWindow, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; row++) {
        ProcessNode* node = GetRowNode(row);
        if (node && node->processId == processId && node->kind == kind) {
            return row;
        }
    }
    return -1;
}

std::string ListFixture::CellText(int row, int column) {
    char text[300];
    text[0] = 0;
    LVITEMA item;
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(listWindow, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

void ListFixture::Paint() {
    UpdateWindow(listWindow);
    PumpMessages(0);
}

void ListFixture::ClickHeader(int column) {
    HWND header = reinterpret_cast<HWND>(SendMessageA(listWindow, LVM_GETHEADER, 0, 0));
    RECT rect;
    SendMessageA(header, HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&rect));
    LPARAM point = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageA(header, WM_LBUTTONUP, 0, point);
    PumpMessages(0);
}

void ListFixture::ResetCounters() {
    listCounters = ListCounters{};
}

std::string ListFixture::WithSelectedId(const std::string& name) {
    char id[16];
    wsprintfA(id, hexProcessId ? " (%x)" : " (%u)", GetSelectedProcess(listWindow, nullptr, 0));
    return name + id;
}

bool ListFixture::Grayed(UINT commandId) {
    return (GetMenuState(GetMenu(mainWindow), commandId, MF_BYCOMMAND) & MF_GRAYED) != 0;
}
