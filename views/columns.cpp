#include "views/columns.h"
#include "res/resource.h"
#include "sysinfo/platform.h"

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
