#include "views/listcells.h"
#include "app/settings.h"
#include "app/startup.h"
#include "res/resource.h"
#include "sysinfo/platform.h"
#include "sysinfo/privileges.h"
#include "views/columns.h"
#include "views/figures.h"
#include "views/nodetable.h"

int sortColumn = 0;
int sortDirection = 1;
int arrowColumn = -1;

static char priorityNames[6][260];
static int priorityNamesLoaded = 0;
static char cellText[260];

static int CompareNumbers(DWORD a, DWORD b) {
    return a > b ? 1 : (a < b ? -1 : 0);
}

int CALLBACK CompareNodes(LPARAM first, LPARAM second, LPARAM parameter) {
    const SortParam* param = reinterpret_cast<const SortParam*>(parameter);
    if (param->listId != IDC_LIST_MAIN || param->column >= activeColumns.count ||
        param->column < 0) {
        return 0;
    }
    const ProcessNode* a = reinterpret_cast<const ProcessNode*>(first);
    const ProcessNode* b = reinterpret_cast<const ProcessNode*>(second);
    // A 16-bit task sorts in the place of the NTVDM process that runs it;
    // tasks of one NTVDM are compared with each other.
    if ((a->kind == KIND_WOW_TASK || b->kind == KIND_WOW_TASK) &&
        !(a->kind == KIND_WOW_TASK && b->kind == KIND_WOW_TASK &&
          a->parentProcessId == b->parentProcessId)) {
        if (a->kind == KIND_WOW_TASK) {
            a = FindNode(a->parentProcessId, KIND_WIN32);
        }
        if (b->kind == KIND_WOW_TASK) {
            b = FindNode(b->parentProcessId, KIND_WIN32);
        }
        if (!a || !b) {
            return 0;
        }
    }
    int result;
    switch (activeColumns.order[param->column]) {
    case CELL_NAME:
        result = lstrcmpiA(a->name, b->name);
        if (result == 0) {
            result = CompareNumbers(a->processId, b->processId);
        }
        break;
    case CELL_ID:
        result = CompareNumbers(a->processId, b->processId);
        break;
    case CELL_PRIORITY:
        result = CompareNumbers(a->priorityClass, b->priorityClass);
        if (result == 0) {
            result = lstrcmpiA(a->name, b->name);
        }
        break;
    case CELL_THREADS:
        result = CompareNumbers(a->threadCount, b->threadCount);
        if (result == 0) {
            result = lstrcmpiA(a->name, b->name);
        }
        break;
    case CELL_TYPE:
        result = CompareNumbers(a->kind, b->kind);
        if (result == 0) {
            result = lstrcmpiA(a->name, b->name);
        }
        break;
    case CELL_PATH:
        result = lstrcmpiA(a->path, b->path);
        if (result == 0) {
            result = CompareNumbers(a->processId, b->processId);
        }
        break;
    case CELL_CPU:
    case CELL_CPU_TIME:
    case CELL_WORKING_SET:
    case CELL_PRIVATE_BYTES:
    case CELL_HANDLES:
        result = CompareFigures(a, b, activeColumns.order[param->column]);
        if (result == 0) {
            result = lstrcmpiA(a->name, b->name);
        }
        break;
    default:
        result = -1;
        break;
    }
    return param->direction < 0 ? -result : result;
}

void UpdateSortArrow(HWND list, int reload) {
    // New system colours: the arrows are loaded again in them, and the old
    // bitmaps go once every header that showed them holds the new ones.
    ArrowBitmaps old = {nullptr, nullptr};
    if (reload) {
        old = BeginArrowReload();
    }
    PlaceSortArrow(list, &arrowColumn, sortColumn, sortDirection);
    if (reload) {
        EndArrowReload(old);
    }
}

static void LoadPriorityNames() {
    for (int i = 0; i < 6; i++) {
        LoadStringA(appInstance, IDS_PRIORITY_REALTIME + i, priorityNames[i], 260);
    }
}

// The name of a priority class; strings 408 to 413 hold real time, high,
// normal, idle, below normal and above normal.
static const char* PriorityClassName(DWORD priorityClass) {
    switch (priorityClass) {
    case REALTIME_PRIORITY_CLASS:
        return priorityNames[0];
    case HIGH_PRIORITY_CLASS:
        return priorityNames[1];
    case NORMAL_PRIORITY_CLASS:
        return priorityNames[2];
    case IDLE_PRIORITY_CLASS:
        return priorityNames[3];
    case BELOW_NORMAL_PRIORITY_CLASS:
        return priorityNames[4];
    case ABOVE_NORMAL_PRIORITY_CLASS:
        return priorityNames[5];
    default:
        return "";
    }
}

static void FormatPriority(const ProcessNode* node, char* text) {
    const char* name = PriorityClassName(node->priorityClass);
    int length;
    if (name[0] == 0 && node->basePriority == 0) {
        length = wsprintfA(text, "-");
    } else if (ntFamily) {
        length = wsprintfA(text, "%s", name);
    } else {
        length = wsprintfA(text, "%d  (%s)", node->basePriority, name);
    }
    if (node->affinityMask != 0 && processorCount > 1 && node->affinityMask != systemAffinityMask) {
        // The mask at the program's width: processors 32 to 63 too.
        ULONGLONG mask = node->affinityMask;
        DWORD high = static_cast<DWORD>(mask >> 32), low = static_cast<DWORD>(mask);
        if (high) {
            wsprintfA(text + length, ",0x%x%08x", high, low);
        } else {
            wsprintfA(text + length, ",0x%x", low);
        }
    }
}

void GetCellText(NMLVDISPINFOA* info) {
    if (!priorityNamesLoaded) {
        priorityNamesLoaded = 1;
        LoadPriorityNames();
    }
    int column = info->item.iSubItem;
    if (column < 0 || column >= activeColumns.count) {
        return;
    }
    ProcessNode* node = reinterpret_cast<ProcessNode*>(info->item.lParam);
    if (!node) {
        return;
    }
    switch (activeColumns.order[column]) {
    case CELL_NAME:
        info->item.pszText = node->name;
        return;
    case CELL_PATH:
        info->item.pszText = node->path;
        return;
    case CELL_ID:
        if (node->kind == KIND_WOW_TASK) {
            wsprintfA(cellText, hexProcessId ? "(%x)" : "(%u)", node->processId);
        } else {
            wsprintfA(cellText, hexProcessId ? "%x" : "%u", node->processId);
        }
        break;
    case CELL_PRIORITY:
        FormatPriority(node, cellText);
        break;
    case CELL_THREADS:
        wsprintfA(cellText, "%d", node->threadCount);
        break;
    case CELL_TYPE:
        wsprintfA(cellText, "%d-Bit", node->kind != KIND_WIN32 ? 16 : 32);
        break;
    case CELL_CPU:
    case CELL_CPU_TIME:
    case CELL_WORKING_SET:
    case CELL_PRIVATE_BYTES:
    case CELL_HANDLES:
        FormatFigure(node, activeColumns.order[column], cellText);
        break;
    default:
        return;
    }
    info->item.pszText = cellText;
}
