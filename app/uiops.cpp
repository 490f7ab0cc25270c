#include "app/uiops.h"
#include "app/dbcs.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/trayload.h"
#include "res/resource.h"
#include "sysinfo/chosenprocess.h"
#include "sysinfo/platform.h"
#include "sysinfo/privileges.h"
#include "sysinfo/suspend.h"
#include "views/processlist.h"

#include <commctrl.h>

#include <shellapi.h>
#include <stdlib.h>
#include <stddef.h>
#include <string.h>

enum {
    MSG_TRAY_CALLBACK = WM_USER + 2,
    // The first versions of the records, which every system takes: 88 and
    // 44 bytes in the 32-bit program, the size of the same fields in the
    // 64-bit one.
    TRAY_RECORD_SIZE = NOTIFYICONDATAA_V1_SIZE,
    MENU_ITEM_RECORD_SIZE = offsetof(MENUITEMINFOA, hbmpItem),
    // Fetched at once by the thread that posts it; no window handles it.
    MSG_FRESH_TIME = WM_APP + 1,
};

DWORD selectedProcessId;
char detailText[DETAIL_TEXT_SIZE];

char* LoadText(UINT stringId) {
    char buffer[260];
    int length = LoadStringA(appInstance, stringId, buffer, 259);
    if (length < 0) {
        length = 0;
    }
    buffer[length] = 0;
    return _strdup(buffer);
}

int ShowMessage(HWND owner, UINT stringId, UINT style) {
    char* text = LoadText(stringId);
    int result = MessageBoxA(owner, text ? text : "", mainClassName, style);
    free(text);
    return result;
}

int ShowSystemError(HWND owner, const char* subject, DWORD error) {
    char text[1024];
    int length = CopyText(text, MAX_PATH, subject);
    length += wsprintfA(text + length, "\n\n");
    if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                        0, text + length, sizeof text - length, nullptr)) {
        wsprintfA(text + length, "%lu", error);
    }
    return MessageBoxA(owner, text, mainClassName, MB_OK | MB_ICONEXCLAMATION);
}

void ApplyDialogFont(HWND dialog) {
    if (GetSystemMetrics(SM_DBCSENABLED) == 0) {
        return;
    }
    WPARAM font = static_cast<WPARAM>(SendMessageA(listWindow, WM_GETFONT, 0, 0));
    SendMessageA(dialog, WM_SETFONT, font, 0);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        SendMessageA(child, WM_SETFONT, font, 0);
    }
}

void SetListHeader(HWND dialog, int listBoxId, int headerEditId, UINT stringId, int tabCount,
                   const int* tabs) {
    LPARAM tabArray = reinterpret_cast<LPARAM>(tabs);
    SendDlgItemMessageA(dialog, listBoxId, LB_SETTABSTOPS, tabCount, tabArray);
    SendDlgItemMessageA(dialog, headerEditId, EM_SETTABSTOPS, tabCount, tabArray);
    char* text = LoadText(stringId);
    if (text) {
        SetDlgItemTextA(dialog, headerEditId, text);
        free(text);
    }
}

int CopyTextToClipboard(HWND owner, const char* text) {
    if (!text || text[0] == 0) {
        return 1;
    }
    if (!OpenClipboard(owner)) {
        return 0;
    }
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_DDESHARE, strlen(text) + 1);
    if (!memory) {
        CloseClipboard();
        return 0;
    }
    char* pointer = static_cast<char*>(GlobalLock(memory));
    if (pointer) {
        lstrcpyA(pointer, text);
        GlobalUnlock(memory);
        // The clipboard owns the memory once it has taken it.
        if (!SetClipboardData(CF_TEXT, memory)) {
            GlobalFree(memory);
        }
    } else {
        GlobalFree(memory);
    }
    CloseClipboard();
    return 1;
}

HMENU FindPopupByCaption(HMENU menu, UINT stringId) {
    static int contextMenuLoaded = 0;
    if (!contextMenuLoaded) {
        contextMenuLoaded = 1;
        contextMenu = LoadMenuA(appInstance, MAKEINTRESOURCEA(IDR_CONTEXT_MENU));
    }
    if (!menu) {
        menu = contextMenu;
    }
    char caption[260];
    int length = LoadStringA(appInstance, stringId, caption, 259);
    caption[length > 0 ? length : 0] = 0;
    if (!menu || caption[0] == 0) {
        return nullptr;
    }
    char item[260];
    for (int position = 0; GetMenuStringA(menu, position, item, sizeof item, MF_BYPOSITION) != 0;
         position++) {
        if (lstrcmpA(caption, item) == 0) {
            return GetSubMenu(menu, position);
        }
    }
    return nullptr;
}

LRESULT ShowPopupMenu(HWND owner, HMENU menu, UINT stringId) {
    POINT cursor;
    GetCursorPos(&cursor);
    return ShowPopupMenuAt(owner, menu, stringId, cursor.x, cursor.y);
}

LRESULT ShowPopupMenuAt(HWND owner, HMENU menu, UINT stringId, int x, int y) {
    HMENU popup = FindPopupByCaption(menu, stringId);
    if (!popup) {
        return 0;
    }
    // The menu belongs to its owner's window, which is in front already: no
    // other window is brought forward for it.
    TrackPopupMenu(popup, TPM_LEFTBUTTON, x, y, 0, owner, nullptr);
    // Lets the menu close when the user clicks elsewhere.
    return PostMessageA(owner, WM_NULL, 0, 0);
}

void TakeForeground(HWND window) {
    // The X server ignores a focus change stamped earlier than the last one,
    // and Wine stamps it with the time of the thread's last message, which
    // may be older than another program's activation that came meanwhile: a
    // message fetched now brings the time up to date.
    MSG fresh;
    PostMessageA(window, MSG_FRESH_TIME, 0, 0);
    PeekMessageA(&fresh, window, MSG_FRESH_TIME, MSG_FRESH_TIME, PM_REMOVE);
    if (GetForegroundWindow() != window && GetActiveWindow() == window) {
        // Still this thread's active window while another program is in
        // front, the window would be neither raised nor given the keyboard:
        // it is activated anew.
        SetActiveWindow(nullptr);
    }
    SetForegroundWindow(window);
}

void BringMainWindowForward() {
    // A modal dialog of the program disables the main window, which must
    // never cover it: the dialog comes forward instead.
    HWND front = GetLastActivePopup(mainWindow);
    TakeForeground(front ? front : mainWindow);
}

int IsMenuItemChecked(UINT commandId) {
    MENUITEMINFOA info;
    memset(&info, 0, sizeof info);
    info.cbSize = MENU_ITEM_RECORD_SIZE;
    info.fMask = MIIM_STATE;
    if (!GetMenuItemInfoA(GetMenu(mainWindow), commandId, FALSE, &info)) {
        return 0;
    }
    return (info.fState & MFS_CHECKED) ? 1 : 0;
}

int ToggleMenuCheck(UINT commandId) {
    int checked = IsMenuItemChecked(commandId) ? 0 : 1;
    CheckMenuItem(GetMenu(mainWindow), commandId, checked ? MF_CHECKED : MF_UNCHECKED);
    return checked;
}

UINT RefreshPeriodMilliseconds(int seconds) {
    if (seconds <= 0) {
        return 0;
    }
    return static_cast<UINT>(ClampRefreshSeconds(seconds)) * 1000u;
}

void SetRefreshTimer(int start) {
    if (refreshTimerRunning) {
        KillTimer(mainWindow, REFRESH_TIMER_ID);
        refreshTimerRunning = 0;
    }
    if (!start) {
        return;
    }
    int period = mainRefreshSeconds;
    if (period == 0 && colorize == 0) {
        return;
    }
    // Highlights expire on the timer, so colouring keeps it running.
    if (colorize && period < 3) {
        period = 3;
    }
    refreshTimerRunning =
        SetTimer(mainWindow, REFRESH_TIMER_ID, RefreshPeriodMilliseconds(period), nullptr) ? 1 : 0;
}

// Adds, changes or removes the tray icon with the given icon and tip.
static BOOL NotifyTray(DWORD action, UINT flags, HICON icon, const char* tip) {
    NOTIFYICONDATAA data;
    memset(&data, 0, sizeof data);
    data.cbSize = TRAY_RECORD_SIZE;
    data.hWnd = mainWindow;
    data.uID = 0;
    data.uFlags = flags;
    data.uCallbackMessage = MSG_TRAY_CALLBACK;
    data.hIcon = icon;
    // The record of the oldest layout holds 64 bytes of tip.
    CopyText(data.szTip, 64, tip);
    return Shell_NotifyIconA(action, &data);
}

BOOL SetTrayIcon(int show) {
    // With the load shown, the icon comes back with it.
    char tip[64];
    HICON icon = TrayLoadIcon(tip, sizeof tip);
    if (!icon) {
        icon = smallAppIcon;
        CopyText(tip, sizeof tip, mainTitle);
    }
    return NotifyTray(show ? NIM_ADD : NIM_DELETE, NIF_MESSAGE | NIF_ICON | NIF_TIP, icon, tip);
}

BOOL ChangeTrayIcon(HICON icon, const char* tip) {
    return NotifyTray(NIM_MODIFY, (icon ? NIF_ICON : 0) | NIF_TIP, icon, tip);
}

// The last states applied; they start as the resources do, all disabled.
static int usableApplied = 0;
static int notWowApplied = 0;
static int debuggableApplied = 0;
static int wholeApplied = 0;

static void EnableCommand(HMENU menu, UINT commandId, int enabled) {
    EnableMenuItem(menu, commandId, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    SendMessageA(toolbarWindow, TB_ENABLEBUTTON, commandId, enabled);
}

void UpdateCommandStates(ProcessEntry* node) {
    int usable = node && !(node->flags & NODE_GONE);
    int notWow = usable && node->kind != KIND_WOW_TASK;
    int debuggable = usable && node->kind == KIND_WIN32 && node->processId != GetCurrentProcessId();
    HMENU menu = GetMenu(mainWindow);
    if (usable != usableApplied || notWow != notWowApplied) {
        usableApplied = usable;
        notWowApplied = notWow;
        EnableCommand(menu, IDM_SWITCH_TO, usable);
        EnableCommand(menu, IDM_BRING_TO_FRONT, usable);
        EnableCommand(menu, IDM_TERMINATE, usable);
        EnableCommand(menu, IDM_MODULES, notWow);
        EnableCommand(menu, IDM_THREADS, notWow);
        EnableCommand(menu, IDM_MEMORY, notWow);
        EnableCommand(menu, IDM_PRIORITY, notWow);
        EnableCommand(menu, IDM_HEAPS, usable && ntFamily == 0);
        EnableCommand(menu, IDM_VERSION, usable);
        EnableCommand(menu, IDM_AFFINITY, usable && processorCount > 1);
        EnableCommand(menu, IDM_STARTUP_INFO, notWow);
        EnableCommand(menu, IDM_COPY_PATH, usable);
    }
    if (debuggable != debuggableApplied) {
        debuggableApplied = debuggable;
        EnableCommand(menu, IDM_DEBUG, debuggable);
    }
    // The NT family's commands of a whole process: a process known to be
    // suspended can only be resumed, one known to run only suspended;
    // either where its state is not known.
    int whole = usable && ntFamily && node->kind == KIND_WIN32;
    int suspended = whole && IsProcessSuspended(node);
    int canSuspend = whole && !suspended;
    int canResume = whole && (suspended || node->suspendState == SUSPEND_UNKNOWN);
    int located = whole && node->path[0] != 0;
    int wholeState = whole | canSuspend << 1 | canResume << 2 | located << 3;
    if (wholeState != wholeApplied) {
        wholeApplied = wholeState;
        EnableCommand(menu, IDM_END_TREE, whole);
        EnableCommand(menu, IDM_SUSPEND, canSuspend);
        EnableCommand(menu, IDM_RESUME, canResume);
        EnableCommand(menu, IDM_OPEN_LOCATION, located);
    }
}

void ForgetCommandStates() {
    usableApplied = notWowApplied = debuggableApplied = wholeApplied = 0;
}

DWORD ChooseSelectedProcess(char* buffer, int length) {
    DWORD processId = GetSelectedProcess(listWindow, buffer, length);
    ChooseProcess(&chosenProcess, processId ? GetSelectedNode(listWindow) : nullptr);
    return processId;
}

int FormatProcessLabel(char* buffer, int size, const char* name, DWORD processId) {
    char suffix[16];
    int suffixLength = wsprintfA(suffix, hexProcessId ? " (%x)" : " (%u)", processId);
    if (size <= suffixLength) {
        buffer[0] = 0;
        return 0;
    }
    int length = CopyText(buffer, size - suffixLength, name);
    memcpy(buffer + length, suffix, suffixLength + 1);
    return length + suffixLength;
}

DWORD BuildDetailTitle(const char* prefix) {
    enum { TITLE_LIMIT = 258 };
    lstrcpynA(detailText, prefix ? prefix : "", TITLE_LIMIT);
    int used = static_cast<int>(strlen(detailText));
    char name[261];
    DWORD processId = ChooseSelectedProcess(name, -260);
    if (processId) {
        FormatProcessLabel(detailText + used, TITLE_LIMIT - used, name, processId);
    }
    return processId;
}

int DetailProcessEnded(HWND dialog) {
    if (chosenProcess.ended) {
        return 1;
    }
    int state = ChosenProcessEnded(&chosenProcess);
    if (state == CHOSEN_RUNNING) {
        return 0;
    }
    // The rows stay as they were, and the title says why they do.
    KillTimer(dialog, REFRESH_TIMER_ID);
    char title[DETAIL_TEXT_SIZE + 64];
    int length = GetWindowTextA(dialog, title, DETAIL_TEXT_SIZE);
    char suffix[64];
    int suffixLength = LoadStringA(
        appInstance, state == CHOSEN_ENDED ? IDS_PROCESS_ENDED_TITLE : IDS_PROCESS_UNKNOWN_TITLE,
        suffix, sizeof suffix);
    if (length >= 0 && suffixLength > 0) {
        memcpy(title + length, suffix, suffixLength + 1);
        SetWindowTextA(dialog, title);
    }
    // The window stops once, also for a process that cannot be told apart.
    chosenProcess.ended = state;
    return 1;
}

void ReportChosenProcessEnded(HWND owner, int state) {
    ShowMessage(owner,
                state == CHOSEN_ENDED ? IDS_CHOSEN_PROCESS_ENDED : IDS_CHOSEN_PROCESS_UNKNOWN,
                MB_ICONEXCLAMATION);
}

INT_PTR EndDetailDialog(HWND dialog, UINT message, WPARAM wParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
        }
        return TRUE;
    case WM_CLOSE:
        // The dialog's timers go with its window.
        EndDialog(dialog, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

void FormatAddress(ULONGLONG address, char* buffer) {
    DWORD high = static_cast<DWORD>(address >> 32);
    DWORD low = static_cast<DWORD>(address);
    if (ADDRESS_DIGITS > 8 && high <= 0xFFFF) {
        wsprintfA(buffer, "%04x%08x", high, low);
    } else if (high) {
        wsprintfA(buffer, "%08x%08x", high, low);
    } else {
        wsprintfA(buffer, "%08x", low);
    }
}
