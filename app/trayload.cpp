#include "app/trayload.h"
#include "app/dbcs.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/machineload.h"
#include "sysinfo/platform.h"
#include "views/figures.h"

#include <string.h>

enum { TIP_SIZE = 64 };

static HICON loadIcon = nullptr;
static int iconPercent = -1;
static char shownTip[TIP_SIZE];

// A small icon: a dark well with a green bar that fills it from the bottom
// as far as the processor is in use.
static HICON DrawLoadIcon(int percent) {
    int width = GetSystemMetrics(SM_CXSMICON);
    int height = GetSystemMetrics(SM_CYSMICON);
    width = width > 0 ? width : 16;
    height = height > 0 ? height : 16;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP color = CreateCompatibleBitmap(screen, width, height);
    HBITMAP mask = CreateBitmap(width, height, 1, 1, nullptr);
    ReleaseDC(nullptr, screen);
    HICON icon = nullptr;
    if (dc && color && mask) {
        HGDIOBJ old = SelectObject(dc, color);
        RECT rect = {0, 0, width, height};
        HBRUSH frame = CreateSolidBrush(RGB(128, 128, 128));
        HBRUSH well = CreateSolidBrush(RGB(0, 0, 0));
        HBRUSH bar = CreateSolidBrush(RGB(0, 224, 0));
        FillRect(dc, &rect, frame);
        InflateRect(&rect, -1, -1);
        FillRect(dc, &rect, well);
        int inside = rect.bottom - rect.top;
        int filled = (inside * percent + 99) / 100;
        rect.top = rect.bottom - (filled > inside ? inside : filled);
        FillRect(dc, &rect, bar);
        DeleteObject(frame);
        DeleteObject(well);
        DeleteObject(bar);
        // The mask is black: every pixel of the icon is drawn.
        SelectObject(dc, mask);
        PatBlt(dc, 0, 0, width, height, BLACKNESS);
        SelectObject(dc, old);
        ICONINFO info;
        info.fIcon = TRUE;
        info.xHotspot = info.yHotspot = 0;
        info.hbmMask = mask;
        info.hbmColor = color;
        icon = CreateIconIndirect(&info);
    }
    if (dc) {
        DeleteDC(dc);
    }
    if (color) {
        DeleteObject(color);
    }
    if (mask) {
        DeleteObject(mask);
    }
    return icon;
}

// "Tolvane - CPU 使用: 12%" and the busiest process; the program's title
// while the use is not known yet.
static void BuildTip(char* tip, int size) {
    if (machineCpuPercent < 0) {
        CopyText(tip, size, mainTitle);
        return;
    }
    char format[260];
    char text[600];
    LoadStringA(appInstance, IDS_TRAY_LOAD_TIP, format, 200);
    int length = wsprintfA(text, format, machineCpuPercent);
    // The busiest process is known from the last refresh, which a hidden
    // window does not run: its tip names none.
    const ProcessNode* busiest = IsWindowVisible(mainWindow) ? BusiestProcess() : nullptr;
    if (busiest) {
        LoadStringA(appInstance, IDS_TRAY_BUSIEST, format, 200);
        char name[261];
        CopyText(name, sizeof name, busiest->name);
        wsprintfA(text + length, format, name);
    }
    CopyText(tip, size, text);
}

static int LoadShown() {
    return resourceColumns && ntFamily;
}

HICON TrayLoadIcon(char* tip, int size) {
    if (!LoadShown() || !loadIcon) {
        return nullptr;
    }
    CopyText(tip, size, shownTip);
    return loadIcon;
}

void ShowTrayLoad() {
    if (!LoadShown()) {
        if (loadIcon) {
            if (useSysTray) {
                ChangeTrayIcon(smallAppIcon, mainTitle);
            }
            DestroyIcon(loadIcon);
            loadIcon = nullptr;
            iconPercent = -1;
        }
        return;
    }
    // Without the icon nothing is drawn; the next pass draws it once it is back.
    if (!useSysTray) {
        return;
    }
    char tip[TIP_SIZE];
    BuildTip(tip, sizeof tip);
    int percent = machineCpuPercent < 0 ? 0 : machineCpuPercent;
    if (!loadIcon || percent != iconPercent) {
        HICON icon = DrawLoadIcon(percent);
        if (!icon) {
            return;
        }
        ChangeTrayIcon(icon, tip);
        if (loadIcon) {
            DestroyIcon(loadIcon);
        }
        loadIcon = icon;
        iconPercent = percent;
        CopyText(shownTip, sizeof shownTip, tip);
    } else if (strcmp(tip, shownTip) != 0) {
        ChangeTrayIcon(nullptr, tip);
        CopyText(shownTip, sizeof shownTip, tip);
    }
}

void FollowLoadWhileHidden(int hidden) {
    if (!mainWindow) {
        return;
    }
    KillTimer(mainWindow, LOAD_TIMER_ID);
    if (hidden && LoadShown() && useSysTray) {
        int seconds = mainRefreshSeconds > 0 ? mainRefreshSeconds : 2;
        SetTimer(mainWindow, LOAD_TIMER_ID, RefreshPeriodMilliseconds(seconds), nullptr);
    }
}
