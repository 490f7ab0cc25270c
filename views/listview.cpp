#include "views/listview.h"
#include "app/startup.h"
#include "res/resource.h"

#include <string.h>

static HBITMAP ascendingArrow;
static HBITMAP descendingArrow;
static int arrowBitmapsNeeded = 1;

// The arrow bitmaps' width, and the room a list-view cell leaves beside its
// text.
enum { ARROW_WIDTH = 16, CELL_TEXT_ROOM = 16 };

// The width a column needs to show the caption whole beside the sort arrow.
static int HeaderTextWidth(HWND list, const char* caption) {
    // The header sets a margin of three edges before and after its text and
    // again around the bitmap; its own edge takes two pixels more.
    int margin = 3 * GetSystemMetrics(SM_CXEDGE);
    int text = static_cast<int>(
        SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(caption)));
    return text + 4 * margin + ARROW_WIDTH + 2;
}

int InsertColumn(HWND list, int index, ColumnDef definition, int format) {
    char caption[261];
    int length = LoadStringA(appInstance, LOWORD(definition), caption, 260);
    caption[length > 0 ? length : 0] = 0;
    // The caption keeps its whole text beside the sort arrow.
    int width = HeaderTextWidth(list, caption);
    LVCOLUMNA column;
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = format;
    column.cx = HIWORD(definition) > width ? HIWORD(definition) : width;
    column.pszText = caption;
    column.cchTextMax = 0;
    column.iSubItem = index;
    return SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column)) != -1;
}

void WidenColumnFor(HWND list, int column, const char* text) {
    int width = static_cast<int>(
                    SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(text))) +
                CELL_TEXT_ROOM;
    if (SendMessageA(list, LVM_GETCOLUMNWIDTH, column, 0) < width) {
        SendMessageA(list, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(width, 0));
    }
}

void WidenColumnForDigits(HWND list, int column, const char* digits, int count) {
    char widest[2] = {digits[0], 0};
    LRESULT widestWidth = 0;
    for (const char* digit = digits; *digit; digit++) {
        char one[2] = {*digit, 0};
        LRESULT width = SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(one));
        if (width > widestWidth) {
            widestWidth = width;
            widest[0] = *digit;
        }
    }
    char text[32];
    count = count < static_cast<int>(sizeof text) - 1 ? count : static_cast<int>(sizeof text) - 1;
    memset(text, widest[0], count);
    text[count] = 0;
    WidenColumnFor(list, column, text);
}

int InsertColumns(HWND list, const ColumnDef* columns, int count) {
    for (int i = 0; i < count; i++) {
        if (!InsertColumn(list, i, columns[i], LVCFMT_LEFT)) {
            return 0;
        }
    }
    return 1;
}

HWND CreateListView(HWND parent, DWORD style, DWORD exStyle, const ColumnDef* columns, int count,
                    int id) {
    InitCommonControls();
    RECT client;
    GetClientRect(parent, &client);
    HWND list = CreateWindowExA(
        exStyle, "SysListView32", "", style, client.left, client.top, client.right, client.bottom,
        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), appInstance, nullptr);
    if (!list) {
        return nullptr;
    }
    if (!InsertColumns(list, columns, count)) {
        DestroyWindow(list);
        return nullptr;
    }
    return list;
}

void SetHeaderBitmap(HWND header, int column, int format, HBITMAP bitmap) {
    HDITEMA item;
    memset(&item, 0, sizeof item);
    // The column keeps its alignment (figures stand right-aligned).
    item.mask = HDI_FORMAT;
    SendMessageA(header, HDM_GETITEMA, column, reinterpret_cast<LPARAM>(&item));
    item.mask = HDI_FORMAT | HDI_BITMAP;
    item.fmt = format | (item.fmt & HDF_JUSTIFYMASK);
    item.hbm = bitmap;
    SendMessageA(header, HDM_SETITEMA, column, reinterpret_cast<LPARAM>(&item));
}

// The headers the arrows were put into: the main list's and those of open
// detail windows. A colour change gives each of them the new bitmaps before
// the old ones go, so no header ever shows a deleted bitmap.
enum { ARROW_HEADER_CAPACITY = 8 };
static HWND arrowHeaders[ARROW_HEADER_CAPACITY];
static int arrowHeadersLost = 0; // a header could not be remembered: old bitmaps stay

static void RememberArrowHeader(HWND header) {
    int unused = -1;
    for (int i = 0; i < ARROW_HEADER_CAPACITY; i++) {
        if (arrowHeaders[i] == header) {
            return;
        }
        if (unused == -1 && (!arrowHeaders[i] || !IsWindow(arrowHeaders[i]))) {
            unused = i;
        }
    }
    if (unused == -1) {
        arrowHeadersLost = 1;
    } else {
        arrowHeaders[unused] = header;
    }
}

static void ReplaceShownArrows(HBITMAP oldAscending, HBITMAP oldDescending) {
    for (HWND header : arrowHeaders) {
        if (!header || !IsWindow(header)) {
            continue;
        }
        int count = static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
        for (int column = 0; column < count; column++) {
            HDITEMA item;
            memset(&item, 0, sizeof item);
            item.mask = HDI_FORMAT | HDI_BITMAP;
            if (!SendMessageA(header, HDM_GETITEMA, column, reinterpret_cast<LPARAM>(&item)) ||
                !(item.fmt & HDF_BITMAP) || !item.hbm) {
                continue;
            }
            if (item.hbm == oldAscending) {
                SetHeaderBitmap(header, column, item.fmt, ascendingArrow);
            } else if (item.hbm == oldDescending) {
                SetHeaderBitmap(header, column, item.fmt, descendingArrow);
            }
        }
    }
}

void PlaceSortArrow(HWND list, int* shownColumn, int column, int direction) {
    if (arrowBitmapsNeeded) {
        arrowBitmapsNeeded = 0;
        ascendingArrow =
            static_cast<HBITMAP>(LoadImageA(appInstance, MAKEINTRESOURCEA(IDB_SORT_UP),
                                            IMAGE_BITMAP, ARROW_WIDTH, 16, LR_LOADMAP3DCOLORS));
        descendingArrow =
            static_cast<HBITMAP>(LoadImageA(appInstance, MAKEINTRESOURCEA(IDB_SORT_DOWN),
                                            IMAGE_BITMAP, ARROW_WIDTH, 16, LR_LOADMAP3DCOLORS));
    }
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    RememberArrowHeader(header);
    if (*shownColumn != column && *shownColumn != -1) {
        SetHeaderBitmap(header, *shownColumn, HDF_STRING, nullptr);
    }
    *shownColumn = column;
    SetHeaderBitmap(header, column, HDF_STRING | HDF_BITMAP | HDF_BITMAP_ON_RIGHT,
                    direction < 0 ? descendingArrow : ascendingArrow);
}

ArrowBitmaps BeginArrowReload() {
    ArrowBitmaps old = {ascendingArrow, descendingArrow};
    arrowBitmapsNeeded = 1;
    return old;
}

void EndArrowReload(ArrowBitmaps old) {
    ReplaceShownArrows(old.ascending, old.descending);
    if (arrowHeadersLost) {
        return;
    }
    if (old.ascending) {
        DeleteObject(old.ascending);
    }
    if (old.descending) {
        DeleteObject(old.descending);
    }
}
