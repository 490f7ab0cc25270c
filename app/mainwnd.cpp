#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/machineload.h"
#include "sysinfo/ntbackend.h"
#include "sysinfo/platform.h"
#include "app/autorun.h"
#include "app/help.h"
#include "app/trayload.h"
#include "details/actions.h"
#include "details/endtree.h"
#include "details/apps.h"
#include "details/debugger.h"
#include "details/modules.h"
#include "details/threads.h"
#include "details/tree.h"
#include "details/usage.h"
#include "views/memory.h"
#include "views/figures.h"
#include "views/finder.h"
#include "views/heaps.h"
#include "views/listfilter.h"
#include "views/processlist.h"
#include "views/savelist.h"
#include "views/startinfo.h"
#include "views/version.h"

#include <commctrl.h>

HWND mainWindow;
HWND toolbarWindow;
HWND statusWindow;
HWND listWindow;
int toolbarHeight;
int statusHeight;
HCURSOR finderCursor;
UINT_PTR refreshTimerRunning;
HMENU contextMenu;

enum {
    MAIN_LIST_STYLE = WS_CHILD | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
};

static void SetMenuCheck(HMENU menu, UINT commandId, int checked) {
    CheckMenuItem(menu, commandId, checked ? MF_CHECKED : MF_UNCHECKED);
}

// The toolbar's buttons and separators, left to right.
static const TBBUTTON toolbarButtons[] = {
    {0, 0, TBSTATE_ENABLED, TBSTYLE_SEP, {0, 0}, 0, 0},
    {0, IDM_REFRESH, TBSTATE_ENABLED, TBSTYLE_BUTTON, {0, 0}, 0, 0},
    {9, IDM_SAVE_LIST, TBSTATE_ENABLED, TBSTYLE_BUTTON, {0, 0}, 0, 0},
    {0, 0, TBSTATE_ENABLED, TBSTYLE_SEP, {0, 0}, 0, 0},
    {1, IDM_THREADS, 0, TBSTYLE_BUTTON, {0, 0}, 0, 0},
    {2, IDM_MODULES, 0, TBSTYLE_BUTTON, {0, 0}, 0, 0},
    {3, IDM_MEMORY, 0, TBSTYLE_BUTTON, {0, 0}, 0, 0},
    {13, IDM_STARTUP_INFO, 0, TBSTYLE_BUTTON, {0, 0}, 0, 0},
    {0, 0, TBSTATE_ENABLED, TBSTYLE_SEP, {0, 0}, 0, 0},
    {4, IDM_TERMINATE, 0, TBSTYLE_BUTTON, {0, 0}, 0, 0},
    {5, IDM_DEBUG, 0, TBSTYLE_BUTTON, {0, 0}, 0, 0},
    {6, IDM_PRIORITY, 0, TBSTYLE_BUTTON, {0, 0}, 0, 0},
    {0, 0, TBSTATE_ENABLED, TBSTYLE_SEP, {0, 0}, 0, 0},
    {10, IDM_PROCESS_TREE, TBSTATE_ENABLED, TBSTYLE_BUTTON, {0, 0}, 0, 0},
    {11, IDM_MODULE_USAGE, TBSTATE_ENABLED, TBSTYLE_BUTTON, {0, 0}, 0, 0},
    {12, IDM_APPLICATIONS, TBSTATE_ENABLED, TBSTYLE_BUTTON, {0, 0}, 0, 0},
    {0, 0, TBSTATE_ENABLED, TBSTYLE_SEP, {0, 0}, 0, 0},
    {8, IDM_FINDER, TBSTATE_ENABLED, TBSTYLE_BUTTON, {0, 0}, 0, 0},
};

enum {
    TOOLBAR_BUTTON_COUNT = sizeof toolbarButtons / sizeof toolbarButtons[0],
    TOOLBAR_IMAGE_COUNT = 13, // the rows with a command
    // The filter box lies over the toolbar's right end: the toolbar does not
    // paint over it.
    TOOLBAR_STYLE = WS_CHILD | WS_CLIPSIBLINGS | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS,
    STATUS_STYLE = WS_CHILD | WS_VISIBLE | WS_BORDER,
};

static void CreateBars() {
    InitCommonControls();
    toolbarWindow = CreateToolbarEx(mainWindow, TOOLBAR_STYLE, IDC_TOOLBAR, TOOLBAR_IMAGE_COUNT,
                                    appInstance, IDB_TOOLBAR, toolbarButtons, TOOLBAR_BUTTON_COUNT,
                                    0, 16, 16, 15, sizeof(TBBUTTON));
    if (!toolbarWindow) {
        return;
    }
    statusWindow = CreateStatusWindowA(STATUS_STYLE, "", mainWindow, IDC_STATUS);
    ShowWindow(toolbarWindow, SW_SHOW);
    if (statusWindow) {
        ShowWindow(statusWindow, SW_SHOW);
    }
}

static int OuterHeight(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    return rect.bottom - rect.top;
}

static LRESULT OnCreate(HWND window, UINT, WPARAM, LPARAM) {
    mainWindow = window;
    toolbarWindow = statusWindow = nullptr;
    ForgetCommandStates();
    CreateBars();
    if (!toolbarWindow) {
        return -1;
    }
    toolbarHeight = OuterHeight(toolbarWindow);
    statusHeight = statusWindow ? OuterHeight(statusWindow) : 0;
    listWindow = CreateListView(window, MAIN_LIST_STYLE, WS_EX_CLIENTEDGE, activeColumns.columns,
                                activeColumns.count, IDC_LIST_MAIN);
    if (!listWindow) {
        return -1;
    }
    FormatFigureColumns(listWindow);
    CreateFilterBox(window, reinterpret_cast<HFONT>(SendMessageA(listWindow, WM_GETFONT, 0, 0)));
    finderCursor = LoadCursorA(appInstance, MAKEINTRESOURCEA(IDC_FINDER));
    if (!finderCursor) {
        finderCursor = LoadCursorA(nullptr, IDC_ARROW);
    }
    ShowWindow(listWindow, SW_SHOW);
    ReloadProcessList();

    HMENU menu = GetMenu(window);
    if (ntFamily == 1) {
        DeleteMenu(menu, IDM_HEAPS, MF_BYCOMMAND);
    }
    SetMenuCheck(menu, IDM_START_MINIMIZED, startMinimized);
    SetMenuCheck(menu, IDM_COLORIZE, colorize);
    SetMenuCheck(menu, IDM_RESOURCE_COLUMNS, resourceColumns && ntFamily);
    // The Windows 95 family reports no processor times or memory figures.
    if (!ntFamily) {
        EnableMenuItem(menu, IDM_RESOURCE_COLUMNS, MF_BYCOMMAND | MF_GRAYED);
    }
    SetMenuCheck(menu, IDM_HEX_IDS, hexProcessId);
    SetMenuCheck(menu, IDM_AUTORUN, AutorunShortcutExists());
    SetMenuCheck(menu, IDM_HEX_IDS, hexProcessId);
    SetMenuCheck(menu, IDM_USE_SYSTRAY, useSysTray);
    // With the setting off this removes an icon that was never added; the
    // failure is of no interest.
    SetTrayIcon(useSysTray);
    SetMenuCheck(menu, IDM_MULTIPLE_INSTANCES, allowMultipleInstances);
    return 0;
}

static LRESULT OnDestroy(HWND, UINT, WPARAM, LPARAM) {
    SetRefreshTimer(0);
    FollowLoadWhileHidden(0);
    SetTrayIcon(0);
    SaveSettings();
    ReleaseProcessHandles();
    PostQuitMessage(0);
    return 0;
}

static LRESULT OnSize(HWND, UINT, WPARAM wParam, LPARAM) {
    if (LOWORD(wParam) == SIZE_RESTORED) {
        RECT outer;
        GetWindowRect(mainWindow, &outer);
        windowWidth = outer.right - outer.left;
        windowHeight = outer.bottom - outer.top;
    }
    RECT client;
    GetClientRect(mainWindow, &client);
    MoveWindow(toolbarWindow, client.left, client.top, client.right, toolbarHeight, TRUE);
    PlaceFilterBox(toolbarWindow, client.right, toolbarHeight);
    // The list overlaps the toolbar's last pixel row.
    int top = client.top + toolbarHeight - 1;
    int bottom = client.bottom - statusHeight;
    if (listWindow) {
        MoveWindow(listWindow, client.left, top, client.right - client.left, bottom - top, TRUE);
    }
    if (statusWindow) {
        MoveWindow(statusWindow, client.left, bottom, client.right - client.left, statusHeight,
                   TRUE);
    }
    return 0;
}

static LRESULT OnGetMinMaxInfo(HWND, UINT, WPARAM, LPARAM lParam) {
    MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
    info->ptMinTrackSize.x = MIN_WINDOW_WIDTH;
    info->ptMinTrackSize.y = MIN_WINDOW_HEIGHT;
    return 0;
}

static LRESULT OnTimer(HWND, UINT, WPARAM wParam, LPARAM) {
    if (wParam == SLICE_TIMER_ID) {
        ReadWaitingRows(listWindow);
    } else if (wParam == LOAD_TIMER_ID) {
        SampleMachineLoad();
        ShowTrayLoad();
    } else if (wParam == REFRESH_TIMER_ID) {
        ExpireHighlights();
        if (!refreshSuspended) {
            RefreshProcessList();
        }
    }
    return 0;
}

static LRESULT OnReadWaiting(HWND, UINT, WPARAM, LPARAM) {
    ReadWaitingRows(listWindow);
    return 0;
}

static LRESULT OnSysCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!useSysTray) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    // Compared as a whole: a maximise with low bits set (a double-click on the
    // caption) goes straight to the default procedure.
    switch (wParam) {
    case SC_MINIMIZE:
    case SC_CLOSE:
        SetRefreshTimer(0);
        ShowWindow(mainWindow, SW_HIDE);
        FollowLoadWhileHidden(1);
        return 0;
    case SC_MAXIMIZE:
    case SC_RESTORE:
        SetTrayIcon(useSysTray);
        FollowLoadWhileHidden(0);
        RefreshProcessList();
        SetRefreshTimer(1);
        // A window hidden in the tray comes back as it was, maximised
        // included, as a double click on the icon brings it (a second start
        // and the tray menu's command ask for a restore).
        if (wParam == SC_MAXIMIZE || IsWindowVisible(mainWindow) || IsIconic(mainWindow)) {
            DefWindowProcA(window, message, wParam, lParam);
        }
        ShowWindow(mainWindow, SW_SHOW);
        BringMainWindowForward();
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

static LRESULT OnActivateApp(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

// The control that held the keyboard when the window was deactivated (by
// another program, or by a dialog it owns): it gets it back on activation,
// the list when there was none.
static HWND focusBeforeDeactivation = nullptr;

static LRESULT OnActivate(HWND window, UINT, WPARAM wParam, LPARAM) {
    if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(window, focus)) {
            focusBeforeDeactivation = focus;
        }
        return 0;
    }
    if (HIWORD(wParam)) {
        return 0; // minimised: nothing to focus
    }
    HWND focus = focusBeforeDeactivation;
    if (!focus || !IsWindow(focus) || !IsChild(window, focus) || !IsWindowVisible(focus)) {
        focus = listWindow;
    }
    if (focus) {
        SetFocus(focus);
    }
    return 0;
}

static LRESULT OnPaint(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

// A menu takes the keys only while a window of its thread holds the input
// focus, and the tray menu opens while another program is in front. A
// hidden main window cannot hold the focus: a window of one pixel under the
// cursor's tip takes it for as long as the menu is open.
static HWND TakeFocusForTrayMenu() {
    if (IsWindowVisible(mainWindow)) {
        BringMainWindowForward();
        return nullptr;
    }
    POINT cursor;
    GetCursorPos(&cursor);
    HWND holder = CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP, cursor.x, cursor.y, 1,
                                  1, mainWindow, nullptr, appInstance, nullptr);
    if (holder) {
        // Shown without activation: activated here it would tell the X
        // server with the time of an older message, which the server ignores
        // when another program took the focus since, and the activation
        // below would then find it active already and do nothing.
        ShowWindow(holder, SW_SHOWNA);
    }
    TakeForeground(holder ? holder : mainWindow);
    return holder;
}

static LRESULT OnTrayNotify(HWND, UINT, WPARAM, LPARAM lParam) {
    switch (lParam) {
    case WM_LBUTTONDBLCLK:
        FollowLoadWhileHidden(0);
        RefreshProcessList();
        SetRefreshTimer(1);
        ShowWindow(mainWindow, SW_SHOW);
        BringMainWindowForward();
        break;
    case WM_RBUTTONUP: {
        HWND holder = TakeFocusForTrayMenu();
        ShowPopupMenu(mainWindow, nullptr, IDS_TRAY_POPUP);
        if (holder) {
            DestroyWindow(holder);
        }
        break;
    }
    default:
        break;
    }
    return 0;
}

static LRESULT OnQueryEndSession(HWND, UINT, WPARAM, LPARAM) {
    SaveSettings();
    return 1;
}

static LRESULT OnNotify(HWND window, UINT, WPARAM wParam, LPARAM lParam) {
    return OnProcessListNotify(window, wParam, reinterpret_cast<NMHDR*>(lParam));
}

static LRESULT OnListEvent(HWND, UINT, WPARAM wParam, LPARAM lParam) {
    if (lParam != IDC_LIST_MAIN) {
        return 0;
    }
    int row = static_cast<int>(SendMessageA(listWindow, LVM_GETNEXTITEM, -1, LVNI_SELECTED));
    ProcessNode* node = GetRowNode(row);
    UpdateCommandStates(node);
    UpdateStatusText(node);
    if (wParam == static_cast<WPARAM>(NM_RCLICK)) {
        ShowPopupMenu(mainWindow, GetMenu(mainWindow), IDS_PROCESS_POPUP);
    } else if (wParam == static_cast<WPARAM>(NM_DBLCLK)) {
        OpenVersionWindow(mainWindow, IDM_VERSION, 0, 0);
    }
    return 0;
}

// Shift+F10 and the menu key in the list: the pop-up of the selected row,
// shown at the row (at the list's corner when no row is selected). A right
// click has shown its pop-up already and passes by.
static LRESULT OnContextMenu(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (reinterpret_cast<HWND>(wParam) != listWindow || lParam != -1) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    int row = static_cast<int>(SendMessageA(listWindow, LVM_GETNEXTITEM, -1, LVNI_SELECTED));
    ProcessNode* node = GetRowNode(row);
    UpdateCommandStates(node);
    UpdateStatusText(node);
    POINT at = {0, 0};
    RECT rect;
    rect.left = LVIR_LABEL;
    if (row != -1 && SendMessageA(listWindow, LVM_ENSUREVISIBLE, row, FALSE) &&
        SendMessageA(listWindow, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rect))) {
        at.x = rect.left > 0 ? rect.left : 0;
        at.y = rect.bottom;
    }
    ClientToScreen(listWindow, &at);
    ShowPopupMenuAt(mainWindow, GetMenu(mainWindow), IDS_PROCESS_POPUP, at.x, at.y);
    return 0;
}

void OnMainListKey(WORD key) {
    static const struct {
        WORD key;
        UINT commandId;
        int control;
        int shift;
    } keyCommands[] = {
        {VK_DELETE, IDM_TERMINATE, 0, 0}, {VK_RETURN, IDM_VERSION, 0, 0},
        {VK_DELETE, IDM_END_TREE, 0, 1},  {'P', IDM_SUSPEND, 1, 0},
        {'R', IDM_RESUME, 1, 0},          {'L', IDM_OPEN_LOCATION, 1, 0},
    };
    int control = GetKeyState(VK_CONTROL) < 0;
    int shift = GetKeyState(VK_SHIFT) < 0;
    for (const auto& row : keyCommands) {
        // As the menu item would: nothing while the command is grayed.
        if (key == row.key && control == row.control && shift == row.shift &&
            !(GetMenuState(GetMenu(mainWindow), row.commandId, MF_BYCOMMAND) & MF_GRAYED)) {
            PostMessageA(mainWindow, WM_COMMAND, row.commandId, 0);
        }
    }
}

static LRESULT OnSysColorChange(HWND, UINT, WPARAM, LPARAM) {
    if (listWindow) {
        UpdateSortArrow(listWindow, 1);
    }
    return 1;
}

static const MessageMapEntry mainMessageRows[] = {
    {WM_MOUSEMOVE, OnFindMouseMove},
    {WM_COMMAND, OnMainCommand},
    {WM_TIMER, OnTimer},
    {WM_SYSCOMMAND, OnSysCommand},
    {WM_SIZE, OnSize},
    {WM_GETMINMAXINFO, OnGetMinMaxInfo},
    {WM_NOTIFY, OnNotify},
    {WM_ACTIVATEAPP, OnActivateApp},
    {WM_ACTIVATE, OnActivate},
    {WM_CREATE, OnCreate},
    {WM_PAINT, OnPaint},
    {WM_DESTROY, OnDestroy},
    {MSG_LIST_EVENT, OnListEvent},
    {MSG_TRAY_NOTIFY, OnTrayNotify},
    {MSG_READ_WAITING, OnReadWaiting},
    {WM_LBUTTONUP, EndFindDrag},
    {WM_CAPTURECHANGED, OnFindCaptureChanged},
    {WM_QUERYENDSESSION, OnQueryEndSession},
    {WM_SYSCOLORCHANGE, OnSysColorChange},
    {WM_CONTEXTMENU, OnContextMenu},
};

const MessageMap mainMessageMap = {sizeof mainMessageRows / sizeof mainMessageRows[0],
                                   mainMessageRows, DEFPROC_WINDOW};

static LRESULT OnExit(HWND, WPARAM, WPARAM, LPARAM) {
    DestroyWindow(mainWindow);
    return 0;
}

static LRESULT OnOpenWindow(HWND, WPARAM, WPARAM, LPARAM) {
    SendMessageA(mainWindow, WM_SYSCOMMAND, SC_RESTORE, 0);
    return 0;
}

static LRESULT OnToggleStartMinimized(HWND, WPARAM, WPARAM, LPARAM) {
    startMinimized = ToggleMenuCheck(IDM_START_MINIMIZED);
    return 0;
}

static LRESULT OnToggleColorize(HWND, WPARAM, WPARAM, LPARAM) {
    colorize = ToggleMenuCheck(IDM_COLORIZE);
    ReloadProcessList();
    return 0;
}

static LRESULT OnToggleResourceColumns(HWND, WPARAM, WPARAM, LPARAM) {
    if (!ntFamily) {
        return 0;
    }
    resourceColumns = ToggleMenuCheck(IDM_RESOURCE_COLUMNS);
    ApplyResourceColumns(listWindow);
    ShowTrayLoad();
    return 0;
}

static LRESULT OnToggleHexIds(HWND, WPARAM, WPARAM, LPARAM) {
    hexProcessId = ToggleMenuCheck(IDM_HEX_IDS);
    // Only the id column is formatted again; the order stays as it is.
    for (int row = 0; row < SendMessageA(listWindow, LVM_GETITEMCOUNT, 0, 0); row++) {
        LVITEMA item;
        item.iSubItem = 1;
        item.pszText = LPSTR_TEXTCALLBACKA;
        SendMessageA(listWindow, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    }
    // The filter looks at the ids as they are shown.
    ApplyListFilter(listWindow);
    return 0;
}

static LRESULT OnToggleSysTray(HWND, WPARAM, WPARAM, LPARAM) {
    useSysTray = ToggleMenuCheck(IDM_USE_SYSTRAY);
    SetTrayIcon(useSysTray);
    return 0;
}

static LRESULT OnToggleMultipleInstances(HWND, WPARAM, WPARAM, LPARAM) {
    allowMultipleInstances = ToggleMenuCheck(IDM_MULTIPLE_INSTANCES);
    // A second copy started from now on reads it.
    SaveMultipleInstancesSetting();
    return 0;
}

static LRESULT OnRefresh(HWND, WPARAM, WPARAM, LPARAM) {
    RefreshProcessList();
    return 0;
}

static LRESULT OnReload(HWND, WPARAM, WPARAM, LPARAM) {
    ReloadProcessList();
    return 0;
}

static const CommandMapEntry mainCommandRows[] = {
    {IDM_EXIT, OnExit},
    {IDM_OPEN_WINDOW, OnOpenWindow},
    {IDM_START_MINIMIZED, OnToggleStartMinimized},
    {IDM_COLORIZE, OnToggleColorize},
    {IDM_RESOURCE_COLUMNS, OnToggleResourceColumns},
    {IDM_AUTORUN, OnAutorunCommand},
    {IDM_HEX_IDS, OnToggleHexIds},
    {IDM_USE_SYSTRAY, OnToggleSysTray},
    {IDM_MULTIPLE_INSTANCES, OnToggleMultipleInstances},
    {IDM_REFRESH_TIMES, OnRefreshTimesCommand},
    {IDM_REFRESH, OnRefresh},
    {IDM_SAVE_LIST, SaveProcessList},
    {IDM_THREADS, OpenThreadsWindow},
    {IDM_MODULES, OpenModulesWindow},
    {IDM_MODULE_USAGE, OnModuleUsageCommand},
    {IDM_VERSION, OpenVersionWindow},
    {IDM_MEMORY, OpenMemoryWindow},
    {IDM_HEAPS, OpenHeapsWindow},
    {IDM_STARTUP_INFO, OpenStartupInfoWindow},
    {IDM_RELOAD, OnReload},
    {IDM_TERMINATE, TerminateSelectedProcess},
    {IDM_SWITCH_TO, OnSwitchToProcess},
    {IDM_BRING_TO_FRONT, OnSwitchToProcess},
    {IDM_PRIORITY, OpenPriorityDialog},
    {IDM_AFFINITY, OpenAffinityDialog},
    {IDM_COPY_PATH, CopySelectedPath},
    {IDM_PROCESS_TREE, OpenProcessTree},
    {IDM_APPLICATIONS, OpenApplicationsWindow},
    {IDM_DEBUG, DebugSelectedProcess},
    {IDM_HELP, ShowHelp},
    {IDM_ABOUT, ShowAbout},
    {IDM_FOCUS_FILTER, FocusFilterBox},
    {IDM_END_TREE, EndSelectedProcessTree},
    {IDM_SUSPEND, SuspendSelectedProcess},
    {IDM_RESUME, SuspendSelectedProcess},
    {IDM_OPEN_LOCATION, OpenSelectedLocation},
    {IDC_FILTER_BOX, OnFilterBoxCommand},
};

const MessageMap mainCommandMap = {sizeof mainCommandRows / sizeof mainCommandRows[0],
                                   mainCommandRows, DEFPROC_WINDOW};

LRESULT OnMainCommand(HWND window, UINT, WPARAM wParam, LPARAM lParam) {
    return DispatchCommandMap(&mainCommandMap, window, wParam, lParam);
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DispatchMessageMap(&mainMessageMap, window, message, wParam, lParam);
}
