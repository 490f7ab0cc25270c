#include "views/finder.h"
#include "app/mainwnd.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "views/processlist.h"

#include <commctrl.h>

int findDragging = 0;
static HWND prevCapture;
static HCURSOR prevCursor;
static HWND highlightedWindow;

void BeginFindDrag() {
    POINT cursor;
    GetCursorPos(&cursor);
    RECT toolbar;
    GetWindowRect(toolbarWindow, &toolbar);
    // Lets the toolbar finish its own handling of the button press.
    SendMessageA(toolbarWindow, WM_LBUTTONUP, 0,
                 MAKELPARAM(cursor.x - toolbar.left, cursor.y - toolbar.top));
    SendMessageA(toolbarWindow, TB_PRESSBUTTON, IDM_FINDER, TRUE);
    RefreshProcessList();
    prevCapture = SetCapture(mainWindow);
    prevCursor = SetCursor(finderCursor);
    findDragging = 1;
}

LRESULT OnFindMouseMove(HWND, UINT, WPARAM, LPARAM) {
    // Outside a drag nothing is outlined: no button release would erase it.
    if (!findDragging) {
        return 0;
    }
    POINT cursor;
    GetCursorPos(&cursor);
    HWND window = WindowFromPoint(cursor);
    // The toolbar's tooltip shows under the pointer while it rests there:
    // it is the toolbar too.
    HWND tooltip = reinterpret_cast<HWND>(SendMessageA(toolbarWindow, TB_GETTOOLTIPS, 0, 0));
    if (!highlightedWindow && window && (window == toolbarWindow || window == tooltip)) {
        return 0;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    // The outermost visible, non-minimised ancestor in the same process.
    HWND candidate = window;
    for (;;) {
        HWND parent = candidate ? GetParent(candidate) : nullptr;
        if (!parent) {
            break;
        }
        LONG style = GetWindowLongA(parent, GWL_STYLE);
        DWORD parentProcessId = 0;
        GetWindowThreadProcessId(parent, &parentProcessId);
        if ((style & WS_MINIMIZE) || !(style & WS_VISIBLE) || parentProcessId != processId) {
            break;
        }
        candidate = parent;
    }
    HighlightWindow(candidate);
    return 0;
}

HWND HighlightWindow(HWND window) {
    if (window == highlightedWindow) {
        return nullptr;
    }
    if (highlightedWindow) {
        DrawWindowFrame(highlightedWindow);
    }
    if (window) {
        DrawWindowFrame(window);
    }
    highlightedWindow = window;
    return window;
}

void DrawWindowFrame(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    int width = rect.right - rect.left - 1;
    int height = rect.bottom - rect.top - 1;
    HDC dc = GetWindowDC(window);
    if (!dc) {
        return;
    }
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(WHITE_PEN));
    int oldMode = SetROP2(dc, R2_XORPEN);
    for (int i = 0; i < 3; i++) {
        MoveToEx(dc, i, i, nullptr);
        LineTo(dc, width - i, i);
        LineTo(dc, width - i, height - i);
        LineTo(dc, i, height - i);
        LineTo(dc, i, i);
    }
    SetROP2(dc, oldMode);
    SelectObject(dc, oldPen);
    ReleaseDC(window, dc);
}

int SelectWindowProcess(HWND window) {
    if (!window || !findDragging) {
        return 0;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return SelectProcessById(processId);
}

// Leaves the drag: erases the frame, gives back the capture and the cursor
// and releases the toolbar button. The flag goes first, so that the capture
// change this causes is not taken for a lost drag.
static void LeaveFindDrag() {
    findDragging = 0;
    HighlightWindow(nullptr);
    HWND restored = prevCapture;
    prevCapture = nullptr;
    SetCapture(restored);
    if (!restored) {
        ReleaseCapture();
    }
    SetCursor(prevCursor);
    SendMessageA(toolbarWindow, TB_PRESSBUTTON, IDM_FINDER, FALSE);
}

LRESULT EndFindDrag(HWND, UINT, WPARAM, LPARAM) {
    if (!findDragging) {
        return 0;
    }
    int notFound = highlightedWindow ? !SelectWindowProcess(highlightedWindow) : 0;
    LeaveFindDrag();
    if (notFound) {
        ShowMessage(listWindow, 477, MB_OK | MB_ICONEXCLAMATION);
    }
    return 0;
}

LRESULT OnFindCaptureChanged(HWND window, UINT, WPARAM, LPARAM lParam) {
    // Another window took the mouse: no button release will reach the main
    // window, so the drag ends here without selecting anything.
    if (findDragging && reinterpret_cast<HWND>(lParam) != window) {
        LeaveFindDrag();
    }
    return 0;
}
