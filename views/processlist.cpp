#include "views/processlist.h"
#include "app/startup.h"
#include "res/resource.h"
#include "sysinfo/platform.h"

#include <commctrl.h>

#define COLUMN(stringId, width) (static_cast<DWORD>(stringId) | (static_cast<DWORD>(width) << 16))

static ColumnDef family95Columns[] = {
    COLUMN(IDS_COL_NAME, 100),
    COLUMN(IDS_COL_ID, 75),
    COLUMN(IDS_COL_PRIORITY, 75),
    COLUMN(IDS_COL_THREADS, 55),
    COLUMN(IDS_COL_TYPE, 50),
    COLUMN(IDS_COL_PATH, 250),
    0,
};
static const int family95Order[] = {CELL_NAME,    CELL_ID,   CELL_PRIORITY,
                                    CELL_THREADS, CELL_TYPE, CELL_PATH};

static ColumnDef ntColumns[] = {
    COLUMN(IDS_COL_NAME, 100),
    COLUMN(IDS_COL_ID, 75),
    COLUMN(IDS_COL_PRIORITY, 75),
    COLUMN(IDS_COL_PATH, 250),
    0,
};
static const int ntOrder[] = {CELL_NAME, CELL_ID, CELL_PRIORITY, CELL_PATH};

ColumnSet activeColumns;

void ActivateColumnSet() {
    if (ntFamily) {
        activeColumns.columns = ntColumns;
        activeColumns.order = ntOrder;
    } else {
        activeColumns.columns = family95Columns;
        activeColumns.order = family95Order;
    }
    int count = 0;
    while (LOWORD(activeColumns.columns[count]) != 0) {
        count++;
    }
    activeColumns.count = count;
}

int GetColumnWidth(int column) {
    return HIWORD(activeColumns.columns[column]);
}

void SetColumnWidth(int column, WORD width) {
    activeColumns.columns[column] = COLUMN(LOWORD(activeColumns.columns[column]), width);
}

int InsertColumns(HWND list, const ColumnDef* columns, int count) {
    for (int i = 0; i < count; i++) {
        char caption[261];
        int length = LoadStringA(appInstance, LOWORD(columns[i]), caption, 260);
        caption[length > 0 ? length : 0] = 0;
        LVCOLUMNA column;
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = HIWORD(columns[i]);
        column.pszText = caption;
        column.cchTextMax = 0;
        column.iSubItem = i;
        if (SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column)) == -1) {
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

int refreshSuspended = 0;

void ReloadProcessList() {}

void RefreshProcessList() {}

void ExpireHighlights() {}
