#include "views/columns.h"
#include "res/resource.h"
#include "app/settings.h"
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

static ColumnDef ntResourceColumns[] = {
    COLUMN(IDS_COL_NAME, 100),         COLUMN(IDS_COL_ID, 75),
    COLUMN(IDS_COL_PRIORITY, 75),      COLUMN(IDS_COL_CPU, 70),
    COLUMN(IDS_COL_CPU_TIME, 70),      COLUMN(IDS_COL_WORKING_SET, 80),
    COLUMN(IDS_COL_PRIVATE_BYTES, 80), COLUMN(IDS_COL_HANDLES, 50),
    COLUMN(IDS_COL_PATH, 250),         0,
};
static const int ntResourceOrder[] = {CELL_NAME,          CELL_ID,       CELL_PRIORITY,
                                      CELL_CPU,           CELL_CPU_TIME, CELL_WORKING_SET,
                                      CELL_PRIVATE_BYTES, CELL_HANDLES,  CELL_PATH};

enum {
    NT_COLUMN_COUNT = sizeof ntOrder / sizeof ntOrder[0],
    NT_RESOURCE_COLUMN_COUNT = sizeof ntResourceOrder / sizeof ntResourceOrder[0],
};

ColumnSet activeColumns;

void ActivateColumnSet() {
    if (ntFamily && resourceColumns) {
        activeColumns.columns = ntResourceColumns;
        activeColumns.order = ntResourceOrder;
    } else if (ntFamily) {
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

int ColumnOfKind(int kind) {
    for (int column = 0; column < activeColumns.count; column++) {
        if (activeColumns.order[column] == kind) {
            return column;
        }
    }
    return -1;
}

int StoredWidthColumn(int storedCount, int index) {
    // The NT family's other table: its widths go to the columns of their kinds.
    const int* written = nullptr;
    if (ntFamily && resourceColumns && storedCount == NT_COLUMN_COUNT) {
        written = ntOrder;
    } else if (ntFamily && !resourceColumns && storedCount == NT_RESOURCE_COLUMN_COUNT) {
        written = ntResourceOrder;
    }
    if (written) {
        return ColumnOfKind(written[index]);
    }
    return index < activeColumns.count ? index : -1;
}

void SwitchColumnSet() {
    ColumnSet previous = activeColumns;
    ActivateColumnSet();
    for (int column = 0; column < previous.count; column++) {
        int now = ColumnOfKind(previous.order[column]);
        if (now >= 0) {
            SetColumnWidth(now, static_cast<WORD>(HIWORD(previous.columns[column])));
        }
    }
}
