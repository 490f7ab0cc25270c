#include "views/startinfo.h"
#include "app/dbcs.h"
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "details/threads.h"
#include "res/resource.h"
#include "sysinfo/chosenprocess.h"
#include "sysinfo/startinfo.h"
#include "views/processlist.h"

#include <stdlib.h>

enum { EXTENT_MARGIN = 10 };

static HWND environmentList;
static HWND commandLineEdit;
static HWND directoryEdit;
static RECT startupClientRect;

LRESULT OpenStartupInfoWindow(HWND, WPARAM, WPARAM, LPARAM) {
    selectedProcessId = BuildDetailTitle(startupInfoTitlePrefix);
    if (selectedProcessId != 0) {
        DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_STARTUP_INFO), mainWindow,
                        StartupInfoDlgProc, 0);
    }
    ReleaseChosenProcess(&chosenProcess);
    return 0;
}

// The text of a list-box row (free() it), or null.
static char* ListRowText(HWND listBox, int row) {
    LRESULT length = SendMessageA(listBox, LB_GETTEXTLEN, row, 0);
    if (length <= 0) {
        return nullptr;
    }
    char* text = static_cast<char*>(malloc(length + 1));
    if (text && SendMessageA(listBox, LB_GETTEXT, row, reinterpret_cast<LPARAM>(text)) < 0) {
        free(text);
        return nullptr;
    }
    return text;
}

UINT CopyListRowMenu(HWND listBox, LPARAM position, UINT captionId) {
    RECT rect;
    if (!GetWindowRect(listBox, &rect)) {
        return 0;
    }
    int x = static_cast<short>(LOWORD(position));
    int y = static_cast<short>(HIWORD(position));
    LRESULT hit =
        SendMessageA(listBox, LB_ITEMFROMPOINT, 0, MAKELPARAM(x - rect.left, y - rect.top));
    if (HIWORD(hit) != 0) {
        return 0;
    }
    HMENU popup = FindPopupByCaption(nullptr, captionId);
    if (!popup) {
        return 0;
    }
    int row = LOWORD(hit);
    SendMessageA(listBox, LB_SETCURSEL, row, 0);
    UINT command =
        static_cast<UINT>(TrackPopupMenu(popup, TPM_RETURNCMD, x, y, 0, listBox, nullptr));
    if (command == IDM_COPY_PATH) {
        char* text = ListRowText(listBox, row);
        if (text) {
            char* tab = FindLastByte(text, '\t');
            CopyTextToClipboard(listBox, tab ? tab + 1 : text);
            free(text);
        }
    }
    return command;
}

// The list box's tab stops, given in dialog units, in pixels of its font: a
// quarter of the font's average character width each, as the list box
// itself reckons them.
static void TabStopPixels(HDC dc, int tabCount, const int* tabStops, int* pixels) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE size = {};
    GetTextExtentPoint32A(dc, alphabet, sizeof alphabet - 1, &size);
    int averageWidth = (size.cx / 26 + 1) / 2;
    for (int i = 0; i < tabCount; i++) {
        pixels[i] = MulDiv(tabStops[i], averageWidth, 4);
    }
}

void FitHorizontalExtent(HWND listBox, int tabCount, const int* tabStops) {
    HDC dc = GetDC(listBox);
    if (!dc) {
        return;
    }
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(listBox, WM_GETFONT, 0, 0));
    if (!font) {
        ReleaseDC(listBox, dc);
        return;
    }
    HGDIOBJ previous = SelectObject(dc, font);
    enum { MAX_TABS = 16 };
    int pixels[MAX_TABS];
    tabCount = tabCount < MAX_TABS ? tabCount : MAX_TABS;
    TabStopPixels(dc, tabCount, tabStops, pixels);
    LONG widest = 0;
    int count = static_cast<int>(SendMessageA(listBox, LB_GETCOUNT, 0, 0));
    for (int row = 0; row < count; row++) {
        char* text = ListRowText(listBox, row);
        // Rows without tabs are measured whole: one may be wider than the
        // 16 bits a tabbed measure reports.
        SIZE size = {};
        if (text && tabCount == 0) {
            GetTextExtentPoint32A(dc, text, lstrlenA(text), &size);
        } else if (text) {
            size.cx = LOWORD(GetTabbedTextExtentA(dc, text, lstrlenA(text), tabCount, pixels));
        }
        widest = size.cx > widest ? size.cx : widest;
        free(text);
    }
    SelectObject(dc, previous);
    SendMessageA(listBox, LB_SETHORIZONTALEXTENT, widest + EXTENT_MARGIN, 0);
    ReleaseDC(listBox, dc);
}

static void WidenBy(HWND control, int change) {
    RECT rect;
    GetWindowRect(control, &rect);
    SetWindowPos(control, nullptr, 0, 0, rect.right - rect.left + change, rect.bottom - rect.top,
                 SWP_NOMOVE | SWP_NOZORDER);
}

static void LayoutStartupWindow(HWND dialog, LPARAM newSize) {
    int widthChange = LOWORD(newSize) - startupClientRect.right;
    if (!ResizeToClient(dialog, environmentList, newSize, &startupClientRect)) {
        return;
    }
    WidenBy(commandLineEdit, widthChange);
    WidenBy(directoryEdit, widthChange);
}

INT_PTR CALLBACK StartupInfoDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        ApplyDialogFont(dialog);
        GetClientRect(dialog, &startupClientRect);
        environmentList = GetDlgItem(dialog, IDC_STARTUP_ENVIRONMENT);
        commandLineEdit = GetDlgItem(dialog, IDC_STARTUP_COMMAND_LINE);
        directoryEdit = GetDlgItem(dialog, IDC_STARTUP_DIRECTORY);
        SetWindowTextA(dialog, detailText);
        if (environmentList && commandLineEdit && directoryEdit && !DetailProcessEnded(dialog)) {
            ReadStartupInfo(chosenProcess.processId, commandLineEdit, environmentList,
                            directoryEdit);
            FitHorizontalExtent(environmentList, 0, nullptr);
        }
        return TRUE;
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == environmentList) {
            CopyListRowMenu(environmentList, lParam, IDS_COPY_POPUP);
        }
        return FALSE;
    case WM_SIZE:
        LayoutStartupWindow(dialog, lParam);
        return FALSE;
    default:
        return EndDetailDialog(dialog, message, wParam);
    }
}
