// The main window's notifications from its list and toolbar: cell texts,
// colours, header clicks, deleted rows, clicks and keys, tooltips and the
// finder's drag.
#include "views/processlist.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "res/resource.h"
#include "sysinfo/suspend.h"
#include "views/columns.h"
#include "views/finder.h"

static int AnyProcessSuspended() {
    for (const ProcessNode* node = processListHead; node; node = node->next) {
        if (IsProcessSuspended(node)) {
            return 1;
        }
    }
    return 0;
}

// The rows of suspended processes are grayed; with the colours on, new
// and ended processes' rows are marked. Without either, the rows are drawn
// without asking.
static LRESULT OnCustomDraw(NMHDR* header) {
    NMCUSTOMDRAW* draw = reinterpret_cast<NMCUSTOMDRAW*>(header);
    if (draw->dwDrawStage == CDDS_PREPAINT) {
        int colours = colorize && mainRefreshSeconds != 0;
        return colours || (header->hwndFrom == listWindow && AnyProcessSuspended())
                   ? CDRF_NOTIFYITEMDRAW
                   : CDRF_DODEFAULT;
    }
    if (draw->dwDrawStage != CDDS_ITEMPREPAINT) {
        return 0;
    }
    // Other controls' items carry no node; only the list's rows are coloured.
    if (header->hwndFrom == listWindow) {
        NMLVCUSTOMDRAW* item = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
        const ProcessNode* node = reinterpret_cast<const ProcessNode*>(draw->lItemlParam);
        if (node && IsProcessSuspended(node)) {
            item->clrText = GetSysColor(COLOR_GRAYTEXT);
        }
        if (!colorize || mainRefreshSeconds == 0) {
            return CDRF_NEWFONT;
        }
        if (node && (node->flags & NODE_NEW)) {
            item->clrTextBk = RGB(150, 255, 255);
        } else if (node && (node->flags & NODE_GONE)) {
            item->clrTextBk = RGB(255, 200, 200);
        }
    }
    return CDRF_NEWFONT;
}

static void OnColumnClick(WPARAM controlId, NMLISTVIEW* click) {
    int column = click->iSubItem;
    // A figure column shows the largest first, a text column A to Z.
    int firstDirection =
        column < activeColumns.count && IsFigureCell(activeColumns.order[column]) ? -1 : 1;
    sortDirection = column == sortColumn ? -sortDirection : firstDirection;
    sortColumn = column;
    SortParam param = {static_cast<int>(controlId), column, sortDirection};
    SendMessageA(listWindow, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&param),
                 reinterpret_cast<LPARAM>(CompareNodes));
    UpdateSortArrow(listWindow, 0);
}

struct ToolTipRow {
    UINT commandId;
    UINT stringId;
};

static const ToolTipRow toolTips[] = {
    {IDM_REFRESH, 17},      {IDM_TERMINATE, 18},    {IDM_DEBUG, 19},        {IDM_THREADS, 20},
    {IDM_VERSION, 25},      {IDM_SWITCH_TO, 26},    {IDM_MODULES, 21},      {IDM_MEMORY, 22},
    {IDM_HEAPS, 24},        {IDM_PRIORITY, 23},     {IDM_FINDER, 27},       {IDM_SAVE_LIST, 28},
    {IDM_PROCESS_TREE, 29}, {IDM_MODULE_USAGE, 30}, {IDM_APPLICATIONS, 32}, {IDM_STARTUP_INFO, 34},
    {IDM_COPY_PATH, 35},
};

static void OnToolTipText(NMTTDISPINFOA* info) {
    for (const ToolTipRow& row : toolTips) {
        if (row.commandId == info->hdr.idFrom) {
            info->lpszText = MAKEINTRESOURCEA(row.stringId);
            break;
        }
    }
    info->hinst = appInstance;
}

LRESULT OnProcessListNotify(HWND window, WPARAM wParam, NMHDR* header) {
    switch (header->code) {
    case LVN_GETDISPINFOA:
        if (wParam == IDC_LIST_MAIN) {
            GetCellText(reinterpret_cast<NMLVDISPINFOA*>(header));
        }
        return 0;
    case LVN_COLUMNCLICK:
        OnColumnClick(wParam, reinterpret_cast<NMLISTVIEW*>(header));
        return 0;
    case LVN_DELETEITEM:
        ReleaseRowNode(header->hwndFrom, reinterpret_cast<NMLISTVIEW*>(header)->iItem);
        return 0;
    case NM_CUSTOMDRAW:
        return OnCustomDraw(header);
    case NM_CLICK:
    case NM_DBLCLK:
    case NM_RCLICK:
    case LVN_KEYDOWN:
        if (wParam == IDC_LIST_MAIN) {
            if (header->code == LVN_KEYDOWN) {
                OnMainListKey(reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey);
            }
            PostMessageA(window, MSG_LIST_EVENT, header->code, IDC_LIST_MAIN);
        }
        return 0;
    case TBN_BEGINDRAG:
        if (wParam == IDC_TOOLBAR && reinterpret_cast<NMTOOLBARA*>(header)->iItem == IDM_FINDER &&
            !findDragging) {
            BeginFindDrag();
        }
        return 0;
    case TTN_NEEDTEXTA:
        OnToolTipText(reinterpret_cast<NMTTDISPINFOA*>(header));
        return 0;
    default:
        return 0;
    }
}
