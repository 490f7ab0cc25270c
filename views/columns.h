// The main list's column sets: one for each Windows family, each column
// with the kind of cell it shows.
#ifndef TOLVANE_VIEWS_COLUMNS_H
#define TOLVANE_VIEWS_COLUMNS_H

#include "views/listview.h"

enum CellKind {
    CELL_NAME = 0,
    CELL_ID = 1,
    CELL_PRIORITY = 2,
    CELL_THREADS = 3,
    CELL_TYPE = 4,
    CELL_PATH = 5,
};

struct ColumnSet {
    ColumnDef* columns; // writable: the stored widths replace the defaults
    const int* order;   // column index -> CellKind
    int count;
};

extern ColumnSet activeColumns;

// Chooses the family's column table; run once before the stored widths are applied.
void ActivateColumnSet();
int GetColumnWidth(int column);
void SetColumnWidth(int column, WORD width);

#endif
