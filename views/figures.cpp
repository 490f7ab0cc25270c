#include "views/figures.h"
#include "app/settings.h"
#include "app/startup.h"
#include "res/resource.h"
#include "sysinfo/machineload.h"
#include "sysinfo/privileges.h"
#include "views/processlist.h"

#include <stdlib.h>
#include <string.h>

static const ULONGLONG HUNDRED_NS_PER_SECOND = 10000000;
static const ULONGLONG FULL_SHARE_TENTHS = 1000; // the whole machine

// Kilobytes of a memory figure; one the 32-bit layer could not hand over
// whole counts as its least, 4 GB. A process that is starting or ending
// has none yet (or none left): not known, -1.
static LONGLONG MemoryKilobytes(ULONGLONG bytes) {
    if (bytes == 0) {
        return -1;
    }
    return static_cast<LONGLONG>(bytes == FIGURE_AT_LEAST_4GB ? (bytes + 1) / 1024 : bytes / 1024);
}

// The value a figure cell shows, as a number to compare: -1 for a blank cell.
static LONGLONG ShownFigure(const ProcessNode* node, int kind) {
    if (node->figureTime == 0) {
        return -1;
    }
    switch (kind) {
    case CELL_CPU:
        return node->cpuTenths > 0 ? node->cpuTenths : -1;
    case CELL_CPU_TIME:
        return static_cast<LONGLONG>(node->cpuTime / HUNDRED_NS_PER_SECOND);
    case CELL_WORKING_SET:
        return MemoryKilobytes(node->workingSet);
    case CELL_PRIVATE_BYTES:
        return MemoryKilobytes(node->privateBytes);
    case CELL_HANDLES:
        return node->handleCount;
    default:
        return -1;
    }
}

void StartFigures(ProcessNode* node) {
    node->cpuTenths = -1;
}

// The share of the whole machine the process used between two readings of
// the table, in tenths of a percent, rounded; -1 when it cannot be told.
static LONG ProcessorShare(const ProcessNode* node, const ProcessEntry* entry) {
    if (node->figureTime == 0 || entry->figureTime <= node->figureTime ||
        entry->cpuTime < node->cpuTime) {
        return -1;
    }
    ULONGLONG processors = machineProcessorCount > 0 ? machineProcessorCount : 1;
    ULONGLONG wall = (entry->figureTime - node->figureTime) * processors;
    ULONGLONG used = entry->cpuTime - node->cpuTime;
    ULONGLONG tenths = (used * FULL_SHARE_TENTHS * 2 + wall) / (wall * 2);
    return static_cast<LONG>(tenths > FULL_SHARE_TENTHS ? FULL_SHARE_TENTHS : tenths);
}

int MergeFigures(ProcessNode* node, const ProcessEntry* entry) {
    if (entry->figureTime == 0) {
        return 0;
    }
    LONGLONG before[CELL_HANDLES + 1];
    for (int kind = CELL_CPU; kind <= CELL_HANDLES; kind++) {
        before[kind] = ShownFigure(node, kind);
    }
    node->cpuTenths = ProcessorShare(node, entry);
    node->cpuTime = entry->cpuTime;
    node->figureTime = entry->figureTime;
    node->workingSet = entry->workingSet;
    node->privateBytes = entry->privateBytes;
    node->handleCount = entry->handleCount;
    int changed = 0;
    for (int kind = CELL_CPU; kind <= CELL_HANDLES; kind++) {
        if (ShownFigure(node, kind) != before[kind]) {
            changed |= 1 << kind;
        }
    }
    return changed;
}

// Kilobytes with the thousands grouped as the user's locale groups them.
static void FormatKilobytes(LONGLONG kilobytes, char* text) {
    static int formatLoaded = 0;
    static char thousand[8];
    static char decimal[8];
    static char suffix[16];
    static NUMBERFMTA format;
    if (!formatLoaded) {
        formatLoaded = 1;
        char grouping[16] = "3;0";
        GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SGROUPING, grouping, sizeof grouping);
        if (!GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, thousand, sizeof thousand)) {
            lstrcpyA(thousand, ",");
        }
        if (!GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, decimal, sizeof decimal)) {
            lstrcpyA(decimal, ".");
        }
        // "3;0" groups by three, "3;2;0" by three then by two: 3 and 32.
        UINT groups = 0;
        const char* last = grouping;
        for (const char* c = grouping; *c; c++) {
            if (*c >= '1' && *c <= '9') {
                groups = groups * 10 + (*c - '0');
                last = c;
            }
        }
        // Without the closing ";0" the last group repeats no more.
        if (last[1] != ';' && groups != 0) {
            groups *= 10;
        }
        format.NumDigits = 0;
        format.LeadingZero = 0;
        format.Grouping = groups;
        format.lpDecimalSep = decimal;
        format.lpThousandSep = thousand;
        format.NegativeOrder = 1;
        LoadStringA(appInstance, IDS_KILOBYTES_SUFFIX, suffix, sizeof suffix);
    }
    // The digits of the whole number, also beyond 32 bits.
    char buffer[32];
    char* digits = buffer + sizeof buffer - 1;
    *digits = 0;
    ULONGLONG rest = static_cast<ULONGLONG>(kilobytes);
    do {
        *--digits = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (GetNumberFormatA(LOCALE_USER_DEFAULT, 0, digits, &format, text, 64) == 0) {
        lstrcpyA(text, digits);
    }
    lstrcatA(text, suffix);
}

void FormatFigure(const ProcessNode* node, int kind, char* text) {
    text[0] = 0;
    LONGLONG shown = ShownFigure(node, kind);
    if (shown < 0) {
        return;
    }
    switch (kind) {
    case CELL_CPU:
        wsprintfA(text, "%d.%d", static_cast<int>(shown / 10), static_cast<int>(shown % 10));
        break;
    case CELL_CPU_TIME:
        wsprintfA(text, "%lu:%02u:%02u", static_cast<unsigned long>(shown / 3600),
                  static_cast<unsigned>(shown / 60 % 60), static_cast<unsigned>(shown % 60));
        break;
    case CELL_WORKING_SET:
    case CELL_PRIVATE_BYTES: {
        // A figure known only to be at least 4 GB says so.
        ULONGLONG bytes = kind == CELL_WORKING_SET ? node->workingSet : node->privateBytes;
        int marked = 0;
        if (bytes == FIGURE_AT_LEAST_4GB) {
            marked = LoadStringA(appInstance, IDS_AT_LEAST, text, 16);
            marked = marked > 0 ? marked : 0;
        }
        FormatKilobytes(shown, text + marked);
        break;
    }
    case CELL_HANDLES:
        wsprintfA(text, "%lu", static_cast<unsigned long>(shown));
        break;
    default:
        break;
    }
}

int CompareFigures(const ProcessNode* a, const ProcessNode* b, int kind) {
    LONGLONG first = ShownFigure(a, kind);
    LONGLONG second = ShownFigure(b, kind);
    return first > second ? 1 : (first < second ? -1 : 0);
}

void RedrawFigureCells(HWND list, int row, int changedMask) {
    int top = static_cast<int>(SendMessageA(list, LVM_GETTOPINDEX, 0, 0));
    int perPage = static_cast<int>(SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0));
    // The row partly shown below the last whole one is in view too.
    if (row < top || row > top + perPage) {
        return;
    }
    for (int column = 0; column < activeColumns.count; column++) {
        if (!(changedMask & (1 << activeColumns.order[column]))) {
            continue;
        }
        RECT cell;
        cell.top = column;
        cell.left = LVIR_BOUNDS;
        if (SendMessageA(list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&cell))) {
            // The cell's first pixel column is also the edge of the cell
            // before it, which would be drawn again with it.
            cell.left += 1;
            InvalidateRect(list, &cell, FALSE);
        }
    }
}

const ProcessNode* BusiestProcess() {
    // Every process of the table counts, also one without a row (it could not
    // be opened): the nodes of processes that ended are marked gone or retired.
    const ProcessNode* busiest = nullptr;
    for (const ProcessNode* node = processListHead; node; node = node->next) {
        if (!(node->flags & (NODE_GONE | NODE_RETIRED)) && node->figureTime != 0 &&
            node->cpuTenths > 0 && (!busiest || node->cpuTenths > busiest->cpuTenths)) {
            busiest = node;
        }
    }
    return busiest;
}

// The longest memory figure this machine can show: a process's working set
// and private bytes stay within the commit limit (in the 32-bit program,
// whose figures stop at 4 GB, the mark of a figure of at least 4 GB).
static void WidestMemoryFigure(char* text) {
#ifdef _WIN64
    MEMORYSTATUS status;
    status.dwLength = sizeof status;
    GlobalMemoryStatus(&status);
    ULONGLONG limit = status.dwTotalPageFile > FIGURE_AT_LEAST_4GB ? status.dwTotalPageFile
                                                                   : FIGURE_AT_LEAST_4GB + 1;
    FormatKilobytes(static_cast<LONGLONG>(limit / 1024), text);
#else
    int marked = LoadStringA(appInstance, IDS_AT_LEAST, text, 16);
    FormatKilobytes((FIGURE_AT_LEAST_4GB + 1) / 1024, text + (marked > 0 ? marked : 0));
#endif
}

void FormatFigureColumns(HWND list) {
    char widest[64];
    WidestMemoryFigure(widest);
    for (int column = 1; column < activeColumns.count; column++) {
        int kind = activeColumns.order[column];
        if (IsFigureCell(kind)) {
            LVCOLUMNA format;
            format.mask = LVCF_FMT;
            format.fmt = LVCFMT_RIGHT;
            SendMessageA(list, LVM_SETCOLUMNA, column, reinterpret_cast<LPARAM>(&format));
        }
        if (kind == CELL_WORKING_SET || kind == CELL_PRIVATE_BYTES) {
            WidenColumnFor(list, column, widest);
        }
    }
}

void ApplyResourceColumns(HWND list) {
    // The widths the user gave the columns so far are kept.
    for (int column = 0; column < activeColumns.count; column++) {
        int width = static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, column, 0));
        if (width > 0) {
            SetColumnWidth(column, static_cast<WORD>(width));
        }
    }
    int sortedKind =
        sortColumn >= 0 && sortColumn < activeColumns.count ? activeColumns.order[sortColumn] : -1;
    ColumnSet previous = activeColumns;
    SwitchColumnSet();
    // The header's arrow leaves its column before the columns move.
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    if (header && arrowColumn >= 0) {
        SetHeaderBitmap(header, arrowColumn, HDF_STRING, nullptr);
    }
    arrowColumn = -1;
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    for (int column = previous.count - 1; column >= 0; column--) {
        if (ColumnOfKind(previous.order[column]) < 0) {
            SendMessageA(list, LVM_DELETECOLUMN, column, 0);
        }
    }
    for (int column = 0; column < activeColumns.count; column++) {
        int kind = activeColumns.order[column];
        int known = 0;
        for (int old = 0; old < previous.count; old++) {
            known |= previous.order[old] == kind;
        }
        if (!known) {
            InsertColumn(list, column, activeColumns.columns[column],
                         IsFigureCell(kind) ? LVCFMT_RIGHT : LVCFMT_LEFT);
        }
    }
    // The sort stays with its column; a column taken away gives the name's.
    sortColumn = sortedKind >= 0 ? ColumnOfKind(sortedKind) : sortColumn;
    if (sortColumn < 0) {
        sortColumn = 0;
        sortDirection = 1;
    }
    ResetMachineLoad();
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    FormatFigureColumns(list);
    // The rows are read anew, each with a text for every column; the
    // selected process and the rows in view stay where they were.
    ReloadProcessList();
}
