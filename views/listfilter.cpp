#include "views/listfilter.h"
#include "app/dbcs.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "res/resource.h"
#include "views/processlist.h"

HWND filterBox;
char listFilterText[LIST_FILTER_SIZE];

static WNDPROC filterBoxProc;
static char cueText[64];

int MatchesListFilter(const ProcessNode* node) {
    if (!listFilterText[0]) {
        return 1;
    }
    // The id as its cell shows it, without the parentheses of a 16-bit task.
    char id[16];
    wsprintfA(id, hexProcessId ? "%x" : "%u", static_cast<unsigned>(node->processId));
    return FindTextNoCase(node->name, listFilterText) ||
           FindTextNoCase(node->path, listFilterText) || FindTextNoCase(id, listFilterText);
}

// The cue shows in an empty box that does not have the focus.
static void DrawCue(HWND box) {
    RECT rect;
    SendMessageA(box, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&rect));
    HDC dc = GetDC(box);
    HGDIOBJ font = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(box, WM_GETFONT, 0, 0)));
    SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    SetBkMode(dc, TRANSPARENT);
    DrawTextA(dc, cueText, -1, &rect, DT_SINGLELINE | DT_LEFT | DT_NOPREFIX);
    SelectObject(dc, font);
    ReleaseDC(box, dc);
}

// Esc empties the box and gives the keys back to the list; Enter and Down
// go to the list with the filter kept.
static LRESULT CALLBACK FilterBoxKeysProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN &&
        (wParam == VK_ESCAPE || wParam == VK_RETURN || wParam == VK_DOWN)) {
        if (wParam == VK_ESCAPE) {
            SetWindowTextA(box, "");
        }
        SetFocus(listWindow);
        return 0;
    }
    if (message == WM_CHAR && (wParam == VK_ESCAPE || wParam == '\r')) {
        return 0; // no beep
    }
    if (message == WM_SETFOCUS || message == WM_KILLFOCUS) {
        InvalidateRect(box, nullptr, TRUE);
    }
    LRESULT result = CallWindowProcA(filterBoxProc, box, message, wParam, lParam);
    if (message == WM_PAINT && GetWindowTextLengthA(box) == 0 && GetFocus() != box) {
        DrawCue(box);
    }
    return result;
}

HWND CreateFilterBox(HWND parent, HFONT font) {
    listFilterText[0] = 0;
    LoadStringA(appInstance, IDS_FILTER_CUE, cueText, sizeof cueText);
    filterBox = CreateWindowExA(
        WS_EX_CLIENTEDGE, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | ES_AUTOHSCROLL, 0,
        0, FILTER_BOX_WIDTH, 20, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_FILTER_BOX)), appInstance, nullptr);
    if (!filterBox) {
        return nullptr;
    }
    SendMessageA(filterBox, WM_SETFONT,
                 reinterpret_cast<WPARAM>(font ? font : GetStockObject(DEFAULT_GUI_FONT)), 0);
    SendMessageA(filterBox, EM_LIMITTEXT, LIST_FILTER_SIZE - 1, 0);
    filterBoxProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(filterBox, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FilterBoxKeysProc)));
    return filterBox;
}

void PlaceFilterBox(HWND toolbar, int toolbarWidth, int toolbarHeight) {
    if (!filterBox) {
        return;
    }
    // As high as the text needs, in the middle of the toolbar's height.
    TEXTMETRICA metrics;
    HDC dc = GetDC(filterBox);
    HGDIOBJ font =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(filterBox, WM_GETFONT, 0, 0)));
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, font);
    ReleaseDC(filterBox, dc);
    int height = metrics.tmHeight + 2 * GetSystemMetrics(SM_CYEDGE) + 2;
    if (height > toolbarHeight) {
        height = toolbarHeight;
    }
    // At the right end, but never over the buttons: in a narrow window the
    // box gives up width first (down to a few characters).
    int left = toolbarWidth - FILTER_BOX_WIDTH - 4;
    LRESULT buttons = SendMessageA(toolbar, TB_BUTTONCOUNT, 0, 0);
    RECT last;
    if (buttons > 0 &&
        SendMessageA(toolbar, TB_GETITEMRECT, buttons - 1, reinterpret_cast<LPARAM>(&last)) &&
        left < last.right + 4) {
        left = last.right + 4;
    }
    int width = toolbarWidth - 4 - left;
    if (width < FILTER_BOX_MIN_WIDTH) {
        width = FILTER_BOX_MIN_WIDTH;
        left = toolbarWidth - 4 - width;
    }
    SetWindowPos(filterBox, HWND_TOP, left, (toolbarHeight - height) / 2, width, height, 0);
}

LRESULT FocusFilterBox(HWND, WPARAM, WPARAM, LPARAM) {
    if (filterBox) {
        SetFocus(filterBox);
        SendMessageA(filterBox, EM_SETSEL, 0, -1);
    }
    return 0;
}

LRESULT OnFilterBoxCommand(HWND, WPARAM, WPARAM code, LPARAM) {
    if (code != EN_CHANGE) {
        return 0;
    }
    char text[LIST_FILTER_SIZE];
    int length = GetWindowTextA(filterBox, text, sizeof text);
    CopyText(text, sizeof text, text, length);
    if (lstrcmpA(text, listFilterText) != 0) {
        lstrcpyA(listFilterText, text);
        ApplyListFilter(listWindow);
    }
    return 0;
}
