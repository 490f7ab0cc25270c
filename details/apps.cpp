#include "details/apps.h"
#include "app/dbcs.h"
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "details/actions.h"
#include "details/threads.h"
#include "details/tree.h"
#include "res/resource.h"
#include "sysinfo/wow64.h"
#include "views/processlist.h"
#include "views/savelist.h"

#include <commctrl.h>
#include <shellapi.h>
#include <stdio.h>

enum {
    APPLICATION_LIST_STYLE = WS_CHILD | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
    TITLE_SIZE = 100,
    ICON_SIZE = 16,
    // Threads whose windows did not answer in time, remembered for one fill.
    SILENT_THREAD_LIMIT = 32,
};

static const ColumnDef applicationColumns[] = {MAKELONG(IDS_COL_WINDOW_TITLE, 0), 0};

static HWND applicationList;
static HIMAGELIST applicationImages;
static RECT applicationsClientRect;

static DWORD silentThreads[SILENT_THREAD_LIMIT];
static int silentThreadCount;

static int IsSilentThread(DWORD threadId) {
    for (int i = 0; i < silentThreadCount; i++) {
        if (silentThreads[i] == threadId) {
            return 1;
        }
    }
    return 0;
}

static void RememberSilentThread(DWORD threadId) {
    if (silentThreadCount < SILENT_THREAD_LIMIT) {
        silentThreads[silentThreadCount++] = threadId;
    }
}

// Set when the last window's class could not be asked for its icon, as
// for a window of another program on systems that answer that only for
// windows of the asking program.
static int classIconUnknown;

HICON GetWindowSmallIcon(HWND window) {
    // A window of another program that has stopped answering must not stop
    // this one: the question is given up after a short wait, and a thread
    // that let it run out is not asked again during this fill.
    DWORD threadId = GetWindowThreadProcessId(window, nullptr);
    DWORD_PTR answer = 0;
    if (!IsSilentThread(threadId) &&
        !SendMessageTimeoutA(window, WM_GETICON, ICON_SMALL, 0, SMTO_ABORTIFHUNG,
                             ICON_QUERY_MILLISECONDS, &answer)) {
        answer = 0;
        RememberSilentThread(threadId);
    }
    HICON icon = reinterpret_cast<HICON>(answer);
    classIconUnknown = 0;
    if (!icon) {
        SetLastError(0);
        icon = reinterpret_cast<HICON>(GetClassLongPtrA(window, GCLP_HICONSM));
        classIconUnknown = !icon && GetLastError() != 0;
    }
    return icon ? icon : fallbackWindowIcon;
}

// Adds the icon's images to the list; its index, or -1 when the icon cannot
// be read (an icon handle of another program, where the system does not
// share them).
static int AddIconImage(HIMAGELIST images, HICON icon) {
    ICONINFO info;
    if (!icon || !GetIconInfo(icon, &info)) {
        return -1;
    }
    int index = -1;
    BITMAP colour;
    if (info.hbmColor && GetObjectA(info.hbmColor, sizeof colour, &colour) &&
        colour.bmWidth == ICON_SIZE && colour.bmHeight == ICON_SIZE) {
        index = ImageList_Add(images, info.hbmColor, info.hbmMask);
    } else {
        // An icon of another size would be cut into several images: it is
        // drawn at the list's size instead.
        index = ImageList_ReplaceIcon(images, -1, icon);
    }
    // The image list holds its own copy of the bitmaps.
    if (info.hbmColor) {
        DeleteObject(info.hbmColor);
    }
    if (info.hbmMask) {
        DeleteObject(info.hbmMask);
    }
    return index;
}

// The first small icon of the program that owns the window, from the file
// its main-list row names; -1 when there is none.
static int AddProgramIcon(HIMAGELIST images, DWORD processId) {
    ProcessNode* node = FindOrReadNode(processId);
    HICON icon = nullptr;
    UINT extracted = 0;
    if (node && node->path[0]) {
        char native[MAX_PATH];
        extracted = ExtractIconExA(NativeSystemPath(node->path, native, sizeof native), 0, nullptr,
                                   &icon, 1);
    }
    if (extracted == 0 || !icon) {
        return -1;
    }
    int index = AddIconImage(images, icon);
    DestroyIcon(icon);
    return index;
}

static int WindowImage(HIMAGELIST images, HWND window, DWORD processId) {
    HICON icon = GetWindowSmallIcon(window);
    int index = icon != fallbackWindowIcon ? AddIconImage(images, icon) : -1;
    // The window has an icon that cannot be read here, or its class could
    // not be asked: its program's icon stands for it.
    if (index == -1 && (icon != fallbackWindowIcon || classIconUnknown)) {
        index = AddProgramIcon(images, processId);
    }
    return index != -1 ? index : AddIconImage(images, fallbackWindowIcon);
}

static void ReplaceImageList(HWND list) {
    HIMAGELIST images = ImageList_Create(ICON_SIZE, ICON_SIZE, ILC_MASK, 10, 5);
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
    if (applicationImages) {
        ImageList_Destroy(applicationImages);
    }
    applicationImages = images;
}

static int IsApplicationWindow(HWND window) {
    DWORD style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
    return (style & (WS_SYSMENU | WS_VISIBLE)) == (WS_SYSMENU | WS_VISIBLE);
}

static void AddApplicationRow(HWND list, int row, HWND window, DWORD selectedId) {
    // The title comes from another program: taken by the length reported,
    // and never ending inside a double-byte character.
    char title[TITLE_SIZE];
    int length = GetWindowTextA(window, title, sizeof title);
    CopyText(title, sizeof title, title, length > 0 ? length : 0);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    int image = WindowImage(applicationImages, window, processId);

    LVITEMA item;
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = row;
    item.iSubItem = 0;
    item.pszText = title[0] ? title : const_cast<char*>(noWindowTitleText ? noWindowTitleText : "");
    item.iImage = image;
    item.lParam = static_cast<LPARAM>(processId);
    if (processId != 0 && processId == selectedId) {
        item.mask |= LVIF_STATE;
        item.state = item.stateMask = LVIS_SELECTED;
    }
    SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));

    FILE* file = CurrentSaveFile();
    if (file) {
        fprintf(file, "%s (%d)\n", title, static_cast<int>(processId));
    }
}

void FillApplicationList(HWND list) {
    DWORD selectedId = GetSelectedProcess(listWindow, nullptr, 0);
    ReplaceImageList(list);
    silentThreadCount = 0;
    int row = 0;
    HWND window = GetWindow(GetDesktopWindow(), GW_CHILD);
    while (window) {
        // The next window is known before this one is asked anything, so a
        // window closing meanwhile does not end the walk.
        HWND next = GetWindow(window, GW_HWNDNEXT);
        if (IsApplicationWindow(window)) {
            AddApplicationRow(list, row++, window, selectedId);
        }
        window = next;
    }
}

LRESULT OpenApplicationsWindow(HWND, WPARAM, WPARAM, LPARAM) {
    // An open module filter ends: every process can own a listed window.
    if (refreshSuspended) {
        RefreshProcessList();
    }
    selectedProcessId = GetSelectedProcess(listWindow, nullptr, 0);
    DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_APPLICATIONS), mainWindow,
                    ApplicationsDlgProc, 0);
    return 0;
}

// Refreshes the main list and refills this one, keeping the last visible
// row in view.
static void RefillApplicationList() {
    RefreshProcessList();
    SendMessageA(applicationList, WM_SETREDRAW, FALSE, 0);
    int last = static_cast<int>(SendMessageA(applicationList, LVM_GETTOPINDEX, 0, 0) +
                                SendMessageA(applicationList, LVM_GETCOUNTPERPAGE, 0, 0) - 1);
    SendMessageA(applicationList, LVM_DELETEALLITEMS, 0, 0);
    FillApplicationList(applicationList);
    SendMessageA(applicationList, LVM_ENSUREVISIBLE, last, TRUE);
    SendMessageA(applicationList, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(applicationList, nullptr, TRUE);
    CloseSaveFile();
}

static void OnApplicationListNotify(HWND dialog, NMHDR* header) {
    if (header->idFrom != IDC_APPLICATION_LIST) {
        return;
    }
    UINT code = header->code;
    if (code == LVN_KEYDOWN) {
        WORD key = reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey;
        if ((key == 'S' && GetKeyState(VK_CONTROL) < 0) || key == VK_F2) {
            OpenSaveFile(dialog);
            RefillApplicationList();
        } else if (key == VK_F5) {
            RefillApplicationList();
        }
    }
    if (code == LVN_KEYDOWN || code == static_cast<UINT>(NM_CLICK) ||
        code == static_cast<UINT>(NM_DBLCLK)) {
        PostMessageA(dialog, MSG_LIST_EVENT, code, IDC_APPLICATION_LIST);
    }
}

// Selects the owner of the selected row in the main list; a double click
// also brings the owner's window forward, this program staying in front.
static void OnApplicationListEvent(WPARAM code) {
    if (!applicationList) {
        return;
    }
    int row = static_cast<int>(SendMessageA(applicationList, LVM_GETNEXTITEM, -1, LVNI_SELECTED));
    if (row == -1) {
        return;
    }
    LVITEMA item;
    item.mask = LVIF_PARAM;
    item.iItem = row;
    item.iSubItem = 0;
    item.lParam = 0;
    SendMessageA(applicationList, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    SelectProcessById(static_cast<DWORD>(item.lParam));
    if (code == static_cast<WPARAM>(NM_DBLCLK)) {
        OnSwitchToProcess(mainWindow, IDM_BRING_TO_FRONT, 0, 0);
    }
}

static void CreateApplicationList(HWND dialog) {
    applicationList = CreateListView(dialog, APPLICATION_LIST_STYLE, 0, applicationColumns, 1,
                                     IDC_APPLICATION_LIST);
    FillApplicationList(applicationList);
    // The column starts as wide as the client area; WM_SIZE keeps it so.
    SendMessageA(applicationList, LVM_SETCOLUMNWIDTH, 0, applicationsClientRect.right);
    ShowWindow(applicationList, SW_SHOW);
}

INT_PTR CALLBACK ApplicationsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        ApplyDialogFont(dialog);
        PlaceBesideNameColumn(dialog);
        GetClientRect(dialog, &applicationsClientRect);
        CreateApplicationList(dialog);
        return TRUE;
    case WM_SIZE:
        if (applicationList) {
            ResizeToClient(dialog, applicationList, lParam, &applicationsClientRect);
            SendMessageA(applicationList, LVM_SETCOLUMNWIDTH, 0, LOWORD(lParam));
        }
        return FALSE;
    case WM_NOTIFY:
        OnApplicationListNotify(dialog, reinterpret_cast<NMHDR*>(lParam));
        return FALSE;
    case MSG_LIST_EVENT:
        OnApplicationListEvent(wParam);
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
        }
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return FALSE;
    case WM_DESTROY:
        // The list would destroy the image list it holds as it goes: it is
        // taken back first, so that it is destroyed once.
        if (applicationList) {
            SendMessageA(applicationList, LVM_SETIMAGELIST, LVSIL_SMALL, 0);
        }
        if (applicationImages) {
            ImageList_Destroy(applicationImages);
            applicationImages = nullptr;
        }
        applicationList = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}
