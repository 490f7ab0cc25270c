#include "views/passview.h"

#include <string.h>

static int RowCount(HWND list) {
    return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

static int SelectedRow(HWND list) {
    return static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, -1, LVNI_SELECTED));
}

// What a refresh pass notes while it runs: how many rows it inserted or
// deleted, and the view to keep. Rows inserted or deleted above the first
// visible row move `anchorRow`, the index the first visible row had before
// the pass, so that the pass can scroll it back into place.
struct PassView {
    HWND list; // null outside a pass
    int rowChanges;
    int redrawOff;
    int scrolled;
    int anchorRow;
    int selectedWasVisible;
};
static PassView passView;

// Before the first row change of a scrolled list, and once a pass has
// changed more than a few rows, the list stops drawing until the pass ends.
static void CountRowChange() {
    passView.rowChanges++;
    if (!passView.redrawOff && (passView.scrolled || passView.rowChanges > BURST_ROW_CHANGES)) {
        SendMessageA(passView.list, WM_SETREDRAW, FALSE, 0);
        passView.redrawOff = 1;
    }
}

void NoteRowChange(HWND list) {
    if (list == passView.list) {
        CountRowChange();
    }
}

void NoteRowInserted(HWND list, int row) {
    if (list != passView.list) {
        return;
    }
    if (passView.scrolled && row <= passView.anchorRow) {
        passView.anchorRow++;
    }
}

void BeforeRowDeleted(HWND list, int row) {
    if (list != passView.list) {
        return;
    }
    CountRowChange();
    if (passView.scrolled && row < passView.anchorRow) {
        passView.anchorRow--;
    }
}

int TopRow(HWND list) {
    return static_cast<int>(SendMessageA(list, LVM_GETTOPINDEX, 0, 0));
}

static int IsRowInView(HWND list, int row) {
    int top = TopRow(list);
    int perPage = static_cast<int>(SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0));
    return row >= top && row < top + (perPage > 0 ? perPage : 1);
}

// Scrolls the list so that `row` is its first visible row, as far as the
// list's length allows.
void ScrollRowToTop(HWND list, int row) {
    int top = TopRow(list);
    if (row == top || RowCount(list) == 0) {
        return;
    }
    RECT bounds;
    bounds.left = LVIR_BOUNDS;
    if (!SendMessageA(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&bounds)) ||
        bounds.bottom <= bounds.top) {
        return;
    }
    SendMessageA(list, LVM_SCROLL, 0, (row - top) * (bounds.bottom - bounds.top));
}

void BeginPassView(HWND list) {
    memset(&passView, 0, sizeof passView);
    passView.list = list;
    passView.anchorRow = TopRow(list);
    passView.scrolled = passView.anchorRow > 0;
    int selected = SelectedRow(list);
    passView.selectedWasVisible = selected != -1 && IsRowInView(list, selected);
}

// Puts the rows that were in view back where they were, keeps the selected
// row in view, and draws the list once if the pass had stopped its drawing.
void EndPassView(HWND list) {
    if (passView.scrolled && passView.rowChanges > 0) {
        ScrollRowToTop(list, passView.anchorRow);
    }
    int selected = SelectedRow(list);
    if (passView.selectedWasVisible && selected != -1 && !IsRowInView(list, selected)) {
        SendMessageA(list, LVM_ENSUREVISIBLE, selected, FALSE);
    }
    if (passView.redrawOff) {
        SendMessageA(list, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(list, nullptr, TRUE);
    }
    passView.list = nullptr;
}

int IsPassViewOf(HWND list) {
    return list && list == passView.list;
}

void StopPassRedraw(HWND list) {
    if (list == passView.list && !passView.redrawOff) {
        SendMessageA(list, WM_SETREDRAW, FALSE, 0);
        passView.redrawOff = 1;
    }
}

int IsPassRedrawOff(HWND list) {
    return list == passView.list && passView.redrawOff;
}
