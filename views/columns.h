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
    // The resource columns: figures of the native process table.
    CELL_CPU = 6,
    CELL_CPU_TIME = 7,
    CELL_WORKING_SET = 8,
    CELL_PRIVATE_BYTES = 9,
    CELL_HANDLES = 10,
};

// Whether a column shows a figure: right-aligned, sorted as a number.
inline bool IsFigureCell(int kind) {
    return kind >= CELL_CPU && kind <= CELL_HANDLES;
}

struct ColumnSet {
    ColumnDef* columns; // writable: the stored widths replace the defaults
    const int* order;   // column index -> CellKind
    int count;
};

extern ColumnSet activeColumns;

// Chooses the family's column table (on the NT family with the resource
// columns while they are on); run before the stored widths are applied.
void ActivateColumnSet();
// The active column that a width stored at `index` of `storedCount` widths
// belongs to, or -1: a value written while the resource columns were off
// (or on) gives its widths to the same columns with them on (or off).
int StoredWidthColumn(int storedCount, int index);
// Chooses the column table again after the resource columns were switched
// on or off, carrying over the widths of the columns both tables have.
void SwitchColumnSet();
// The active column that shows `kind`, or -1.
int ColumnOfKind(int kind);
int GetColumnWidth(int column);
void SetColumnWidth(int column, WORD width);

#endif
