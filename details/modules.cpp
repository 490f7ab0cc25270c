#include "details/modules.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/backend.h"
#include "views/processlist.h"
#include "views/savelist.h"
#include "views/version.h"

#include <commctrl.h>
#include <stdlib.h>
#include <string.h>

enum {
    MODULE_COUNT_TEXT = 503,
    STATUS_BAR_STYLE = WS_CHILD | WS_VISIBLE | WS_BORDER,
    MODULE_COLUMN_COUNT = 5,
};

DWORD modulesProcessId;
int moduleSortColumn = 0;
int moduleSortDirection = 1;
int moduleArrowColumn = -1;

static HWND moduleList;
static HWND moduleStatusBar;

// What the status bar shows last, shared by both module windows. The marker
// byte 0xAD equals no path.
static int lastStatusCount = -1;
static char lastStatusPath[260];
static char moduleCountText[260];
static int moduleCountTextLoaded = 0;

static ColumnDef moduleColumns[MODULE_COLUMN_COUNT] = {
    MAKELONG(IDS_COL_NAME, 100), MAKELONG(486, BASE_COLUMN_WIDTH), MAKELONG(487, 60),
    MAKELONG(488, 125),          MAKELONG(IDS_COL_PATH, 250),
};

void FreeModuleRow(ModuleRow* row) {
    if (row) {
        free(row->path);
        free(row->name);
        free(row);
    }
}

static void SetCellText(HWND list, int index, int column, const char* text) {
    LVITEMA item;
    memset(&item, 0, sizeof item);
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text);
    SendMessageA(list, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&item));
}

int InsertModuleRow(HWND list, ModuleRow* row, const char* fourthCell) {
    LVITEMA item;
    memset(&item, 0, sizeof item);
    item.mask = LVIF_PARAM;
    item.iItem = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    item.lParam = reinterpret_cast<LPARAM>(row);
    int index =
        static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (index == -1) {
        return -1;
    }
    char base[20], size[16];
    FormatModuleBase(row->baseAddress, base);
    wsprintfA(size, "%u", static_cast<unsigned>(row->size));
    // A note's text stands in the widest column, the path's.
    SetCellText(list, index, 0, row->isNote ? "" : row->name);
    SetCellText(list, index, 1, row->isNote ? "" : base);
    SetCellText(list, index, 2, row->isNote ? "" : size);
    SetCellText(list, index, 3, fourthCell);
    SetCellText(list, index, 4, row->isNote ? row->name : row->path);
    return index;
}

void InsertModuleColumns(HWND list, const ColumnDef* columns) {
    InsertColumns(list, columns, MODULE_COLUMN_COUNT);
    WidenColumnForDigits(list, 1, "0123456789abcdef", ADDRESS_DIGITS);
    // Image sizes are 32-bit numbers: ten digits at most.
    WidenColumnForDigits(list, 2, "0123456789", 10);
}

int AddModuleRow(ULONG_PTR, HWND list, const char* moduleName, ULONGLONG baseAddress,
                 DWORD imageSize, const char* fullPath) {
    ModuleRow* row = static_cast<ModuleRow*>(calloc(1, sizeof(ModuleRow)));
    if (!row) {
        return 0;
    }
    row->path = _strdup(fullPath);
    row->name = _strdup(moduleName);
    if (!row->path || !row->name) {
        FreeModuleRow(row);
        return 0;
    }
    row->baseAddress = baseAddress;
    row->size = imageSize;
    ReadFileTime(fullPath, &row->created, 0);
    char created[64];
    created[0] = 0;
    FormatFileTime(&row->created, created, sizeof created, " ");
    if (InsertModuleRow(list, row, created) == -1) {
        FreeModuleRow(row);
        return 0;
    }
    return 1;
}

// The line under a 64-bit process's modules that says the list is not whole.
static void AddModuleNote(HWND list) {
    ModuleRow* row = static_cast<ModuleRow*>(calloc(1, sizeof(ModuleRow)));
    if (!row) {
        return;
    }
    row->isNote = 1;
    row->name = LoadText(IDS_MODULES_INCOMPLETE_64);
    row->path = _strdup("");
    if (!row->name || !row->path || InsertModuleRow(list, row, "") == -1) {
        FreeModuleRow(row);
    }
}

ModuleRow* ModuleRowAt(HWND list, int index) {
    LVITEMA item;
    memset(&item, 0, sizeof item);
    item.mask = LVIF_PARAM;
    item.iItem = index;
    if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) {
        return nullptr;
    }
    return reinterpret_cast<ModuleRow*>(item.lParam);
}

static void ReadCellText(HWND list, int index, int column, char* text, int size) {
    text[0] = 0;
    LVITEMA item;
    memset(&item, 0, sizeof item);
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = size;
    SendMessageA(list, LVM_GETITEMTEXTA, index, reinterpret_cast<LPARAM>(&item));
}

void WriteModuleRows(HWND list, FILE* file) {
    if (!file) {
        return;
    }
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int index = 0; index < count; index++) {
        const ModuleRow* row = ModuleRowAt(list, index);
        if (!row) {
            continue;
        }
        // The five cells as shown, then the file's version summary.
        for (int column = 0; column < MODULE_COLUMN_COUNT; column++) {
            char text[300];
            ReadCellText(list, index, column, text, sizeof text);
            fprintf(file, "%s\t", text);
        }
        char summary[260];
        GetVersionSummary(row->path, nullptr, summary, sizeof summary);
        fprintf(file, "%s\n", summary);
    }
}

// The module selected when a refill began, selected again when it ends.
static int refillHadSelection = 0;
static char refillPath[260];
static decltype(ModuleRow::baseAddress) refillBase;

static void SelectModuleRow(HWND list, const char* path, decltype(ModuleRow::baseAddress) base) {
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int index = 0; index < count; index++) {
        const ModuleRow* row = ModuleRowAt(list, index);
        if (row && row->baseAddress == base && lstrcmpiA(row->path, path) == 0) {
            LVITEMA item;
            memset(&item, 0, sizeof item);
            item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageA(list, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&item));
            return;
        }
    }
}

int BeginModuleRefill(HWND list) {
    const ModuleRow* selected = GetSelectedModuleRow(list);
    refillHadSelection = selected != nullptr;
    if (selected) {
        lstrcpynA(refillPath, selected->path, sizeof refillPath);
        refillBase = selected->baseAddress;
    }
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    int lastVisible = static_cast<int>(SendMessageA(list, LVM_GETTOPINDEX, 0, 0) +
                                       SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0) - 1);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    return lastVisible;
}

void EndModuleRefill(HWND list, int lastVisible) {
    if (refillHadSelection) {
        SelectModuleRow(list, refillPath, refillBase);
    }
    SendMessageA(list, LVM_ENSUREVISIBLE, lastVisible, TRUE);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

void FillModuleList(HWND list, DWORD processId, ModuleVisitor visitor, ULONG_PTR value) {
    int lastVisible = list ? BeginModuleRefill(list) : 0;
    ListModules(list, processId, visitor, value);
    if (list) {
        EndModuleRefill(list, lastVisible);
    }
}

// A base above 4 GB (a 64-bit process's module, seen from the 32-bit
// program) takes sixteen digits.
void FormatModuleBase(ULONGLONG baseAddress, char* buffer) {
    FormatAddress(baseAddress, buffer);
}

static int CompareUnsigned(ULONGLONG a, ULONGLONG b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

int CALLBACK CompareModuleRows(LPARAM a, LPARAM b, LPARAM param) {
    const ModuleRow* first = reinterpret_cast<const ModuleRow*>(a);
    const ModuleRow* second = reinterpret_cast<const ModuleRow*>(b);
    const SortParam* sort = reinterpret_cast<const SortParam*>(param);
    if (sort->listId != IDC_MODULE_LIST && sort->listId != IDC_USAGE_LIST) {
        return 0;
    }
    // A note stays under the modules, whatever the order.
    if (first->isNote != second->isNote) {
        return first->isNote ? 1 : -1;
    }
    int result;
    switch (sort->column) {
    case 0:
        result = lstrcmpiA(first->name, second->name);
        if (result == 0) {
            result = CompareUnsigned(first->baseAddress, second->baseAddress);
        }
        break;
    case 1:
    case 2:
    case 3:
        if (sort->column == 1) {
            result = CompareUnsigned(first->baseAddress, second->baseAddress);
        } else if (sort->column == 2) {
            result = CompareUnsigned(first->size, second->size);
        } else if (sort->listId == IDC_MODULE_LIST) {
            result = CompareFileTime(&first->created, &second->created);
        } else {
            result = CompareUnsigned(first->useCount, second->useCount);
        }
        if (result == 0) {
            result = lstrcmpiA(first->name, second->name);
        }
        break;
    case 4:
        result = lstrcmpiA(first->path, second->path);
        if (result == 0) {
            result = CompareUnsigned(first->baseAddress, second->baseAddress);
        }
        break;
    default:
        result = -1;
        break;
    }
    return sort->direction < 0 ? -result : result;
}

void SortModuleList(HWND list, int controlId) {
    SortParam param = {controlId, moduleSortColumn, moduleSortDirection};
    SendMessageA(list, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&param),
                 reinterpret_cast<LPARAM>(CompareModuleRows));
    UpdateModuleSortArrow(list);
}

void UpdateModuleSortArrow(HWND list) {
    PlaceSortArrow(list, &moduleArrowColumn, moduleSortColumn, moduleSortDirection);
}

static void SetStatusText(HWND statusBar, const char* text) {
    SendMessageA(statusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text));
}

void UpdateModuleStatus(HWND list, HWND statusBar, const ModuleRow* row) {
    if (row) {
        lastStatusCount = -1;
        if (lstrcmpiA(row->path, lastStatusPath) == 0) {
            return;
        }
        lstrcpynA(lastStatusPath, row->path, sizeof lastStatusPath);
        if (statusBar) {
            char summary[260];
            ReadVersionStrings(row->path, nullptr, versionSummaryKeys, summary, sizeof summary);
            SetStatusText(statusBar, summary[0] ? summary : row->name);
        }
        return;
    }
    if (!statusBar) {
        lastStatusCount = -1;
        return;
    }
    lastStatusPath[0] = static_cast<char>(0xAD);
    lastStatusPath[1] = 0;
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    // A note under the modules is not counted as one.
    const ModuleRow* last = count > 0 ? ModuleRowAt(list, count - 1) : nullptr;
    if (last && last->isNote) {
        count--;
    }
    if (count == lastStatusCount) {
        return;
    }
    lastStatusCount = count;
    if (!moduleCountTextLoaded) {
        moduleCountTextLoaded = 1;
        LoadStringA(appInstance, MODULE_COUNT_TEXT, moduleCountText, sizeof moduleCountText);
    }
    char text[300];
    wsprintfA(text, "%d %s", count, moduleCountText);
    SetStatusText(statusBar, text);
}

ModuleRow* GetSelectedModuleRow(HWND list) {
    int index = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, -1, LVNI_SELECTED));
    return index == -1 ? nullptr : ModuleRowAt(list, index);
}

void LayoutModuleWindow(HWND dialog, HWND list, HWND statusBar) {
    RECT client, status;
    GetClientRect(dialog, &client);
    GetClientRect(statusBar, &status);
    int height = status.bottom;
    int width = client.right - client.left;
    MoveWindow(list, client.left, client.top, width, client.bottom - height - client.top, TRUE);
    MoveWindow(statusBar, client.left, client.bottom - height, width, height, TRUE);
    // The path, the last column, reaches at least to the list's right edge
    // (leaving room for a vertical scroll bar): the room there shows more of
    // a long path.
    RECT view;
    GetClientRect(list, &view);
    if (!(GetWindowLongA(list, GWL_STYLE) & WS_VSCROLL)) {
        view.right -= GetSystemMetrics(SM_CXVSCROLL);
    }
    int last = MODULE_COLUMN_COUNT - 1;
    for (int column = 0; column < last; column++) {
        view.right -= static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, column, 0));
    }
    if (view.right > SendMessageA(list, LVM_GETCOLUMNWIDTH, last, 0)) {
        SendMessageA(list, LVM_SETCOLUMNWIDTH, last, MAKELPARAM(view.right, 0));
    }
}

void RouteModuleListNotify(HWND dialog, const NMHDR* header) {
    if (header->idFrom != IDC_MODULE_LIST && header->idFrom != IDC_USAGE_LIST) {
        return;
    }
    const NMLISTVIEW* view = reinterpret_cast<const NMLISTVIEW*>(header);
    switch (header->code) {
    case LVN_KEYDOWN:
        PostMessageA(dialog, MSG_LIST_EVENT, header->code,
                     reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey);
        break;
    case NM_CLICK:
    case NM_DBLCLK:
    case NM_RCLICK:
        PostMessageA(dialog, MSG_LIST_EVENT, header->code, 0);
        break;
    case LVN_COLUMNCLICK:
        if (view->iSubItem == moduleSortColumn) {
            moduleSortDirection = -moduleSortDirection;
        } else {
            moduleSortColumn = view->iSubItem;
            moduleSortDirection = 1;
        }
        SortModuleList(header->hwndFrom, static_cast<int>(header->idFrom));
        break;
    case LVN_DELETEITEM:
        FreeModuleRow(reinterpret_cast<ModuleRow*>(view->lParam));
        break;
    default:
        break;
    }
}

// The rows come back in the order the header's arrow shows.
static void RefillModuleList() {
    if (DetailProcessEnded(GetParent(moduleList))) {
        return;
    }
    int lastVisible = BeginModuleRefill(moduleList);
    if (ListModules(moduleList, modulesProcessId, AddModuleRow, 0) == MODULES_INCOMPLETE) {
        AddModuleNote(moduleList);
    }
    SortModuleList(moduleList, IDC_MODULE_LIST);
    EndModuleRefill(moduleList, lastVisible);
}

HWND CreateModuleStatusBar(HWND dialog) {
    HWND statusBar = CreateStatusWindowA(STATUS_BAR_STYLE, "", dialog, IDC_STATUS);
    ShowWindow(statusBar, SW_SHOW);
    return statusBar;
}

void OnModuleRowEvent(HWND dialog, WPARAM code, const ModuleRow* row, UINT popupCaption) {
    if (code == static_cast<WPARAM>(NM_RCLICK) && row) {
        ShowPopupMenu(dialog, nullptr, popupCaption);
    } else if (code == static_cast<WPARAM>(NM_DBLCLK) && row) {
        lstrcpynA(detailText, row->path, 260);
        DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_VERSION), dialog, VersionDialog, 0);
    }
}

void OnModuleWindowCommand(HWND dialog, HWND list, WPARAM wParam) {
    if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
    } else if (LOWORD(wParam) == IDM_COPY_PATH) {
        ModuleRow* row = GetSelectedModuleRow(list);
        if (row && !row->isNote) {
            CopyTextToClipboard(dialog, row->path);
        }
    } else if (LOWORD(wParam) == IDM_MODULE_VERSION) {
        SendMessageA(dialog, MSG_LIST_EVENT, static_cast<WPARAM>(NM_DBLCLK), 0);
    }
}

static void OnModuleListEvent(HWND dialog, WPARAM code, LPARAM key) {
    ModuleRow* row = GetSelectedModuleRow(moduleList);
    // The note names no file: nothing to copy, no version to show.
    if (row && row->isNote) {
        row = nullptr;
    }
    UpdateModuleStatus(moduleList, moduleStatusBar, row);
    if (code == static_cast<WPARAM>(LVN_KEYDOWN)) {
        if ((key == 'S' && GetKeyState(VK_CONTROL) < 0) || key == VK_F2) {
            // A cancelled Save As still refills the list.
            OpenSaveFile(dialog);
            RefillModuleList();
            WriteModuleRows(moduleList, CurrentSaveFile());
            CloseSaveFile();
        } else if (key == VK_F5) {
            RefillModuleList();
            CloseSaveFile();
        }
    } else {
        OnModuleRowEvent(dialog, code, row, IDS_MODULE_POPUP);
    }
}

INT_PTR CALLBACK ModulesDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        SetWindowTextA(dialog, detailText);
        moduleList = GetDlgItem(dialog, IDC_MODULE_LIST);
        InsertModuleColumns(moduleList, moduleColumns);
        moduleStatusBar = CreateModuleStatusBar(dialog);
        LayoutModuleWindow(dialog, moduleList, moduleStatusBar);
        RefillModuleList();
        UpdateModuleStatus(moduleList, nullptr, nullptr);
        UpdateModuleStatus(moduleList, moduleStatusBar, nullptr);
        if (modulesRefreshSeconds != 0) {
            SetTimer(dialog, REFRESH_TIMER_ID, RefreshPeriodMilliseconds(modulesRefreshSeconds),
                     nullptr);
        }
        return TRUE;
    case WM_SIZE:
        LayoutModuleWindow(dialog, moduleList, moduleStatusBar);
        return FALSE;
    case WM_TIMER:
        RefillModuleList();
        return TRUE;
    case WM_NOTIFY:
        RouteModuleListNotify(dialog, reinterpret_cast<const NMHDR*>(lParam));
        return TRUE;
    case MSG_LIST_EVENT:
        OnModuleListEvent(dialog, wParam, lParam);
        return FALSE;
    case WM_COMMAND:
        OnModuleWindowCommand(dialog, moduleList, wParam);
        return TRUE;
    case WM_CLOSE:
        if (modulesRefreshSeconds != 0) {
            KillTimer(dialog, REFRESH_TIMER_ID);
        }
        EndDialog(dialog, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

LRESULT OpenModulesWindow(HWND, WPARAM, WPARAM, LPARAM) {
    char prefix[64];
    int length = LoadStringA(appInstance, IDS_MODULES_PREFIX, prefix, sizeof prefix);
    prefix[length > 0 ? length : 0] = 0;
    modulesProcessId = BuildDetailTitle(prefix);
    if (modulesProcessId != 0) {
        DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_MODULES), mainWindow, ModulesDlgProc, 0);
    }
    ReleaseChosenProcess(&chosenProcess);
    return 0;
}
