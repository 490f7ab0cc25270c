#include "views/memory.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "details/threads.h"
#include "res/resource.h"
#include "sysinfo/backend.h"
#include "sysinfo/platform.h"
#include "views/savelist.h"
#include "views/startinfo.h"

#include <stdlib.h>
#include <string.h>

enum {
    NOT_APPLICABLE_TEXT = 476,
    MEMORY_HEADER_TEXT = 490,
    PRIVATE_LABEL = 445,
    MAPPED_LABEL = 446,
    IMAGE_LABEL = 449,
};

static ValueName protectionNames[] = {
    {PAGE_NOACCESS, 428, nullptr},
    {PAGE_READONLY, 429, nullptr},
    {PAGE_READWRITE, 430, nullptr},
    {PAGE_WRITECOPY, 431, nullptr},
    {PAGE_EXECUTE, 432, nullptr},
    {PAGE_EXECUTE_READ, 433, nullptr},
    {PAGE_EXECUTE_READWRITE, 434, nullptr},
    {PAGE_EXECUTE_WRITECOPY, 435, nullptr},
    {PAGE_GUARD, 436, nullptr},
    {PAGE_GUARD | PAGE_READONLY, 437, nullptr},
    {PAGE_GUARD | PAGE_READWRITE, 438, nullptr},
    {PAGE_NOCACHE, 439, nullptr},
    {0, 0, nullptr},
};

// One table serves both the state and the type of a region.
static ValueName stateAndTypeNames[] = {
    {MEM_COMMIT, 440, nullptr},
    {MEM_RESERVE, 441, nullptr},
    {MEM_DECOMMIT, 442, nullptr},
    {MEM_RELEASE, 443, nullptr},
    {MEM_FREE, 444, nullptr},
    {MEM_PRIVATE, 445, nullptr},
    {MEM_MAPPED, 446, nullptr},
    {MEM_RESET, 447, nullptr},
    {MEM_TOP_DOWN, 448, nullptr},
    {MEM_IMAGE, 449, nullptr},
    {0, 0, nullptr},
};

// The modules of the walked process, newest first; they live for one walk.
struct ModuleRange {
    ULONGLONG baseAddress;
    DWORD imageSize;
    char* name;
    char* path;
    DWORD useCount;
    ModuleRange* next;
};
static ModuleRange* moduleRanges;

static HWND memoryList;
static HWND memoryTotals;
static HWND memoryHeader;
static RECT memoryClientRect;
static RECT memoryHeaderRect;

static DWORD lastPrivateKb, lastMappedKb, lastImageKb;
static char* totalLabels[3];
static char* notApplicableText;

static const char* CachedText(char** text, UINT stringId) {
    if (!*text) {
        *text = LoadText(stringId);
    }
    return *text ? *text : "";
}

const char* LookupValueName(DWORD value, ValueName* table, char* scratch) {
    for (ValueName* entry = table; entry->value != 0; entry++) {
        if (entry->value == value) {
            return CachedText(&entry->text, entry->stringId);
        }
    }
    wsprintfA(scratch, "(%x)", value);
    return scratch;
}

int CollectModuleRange(ULONG_PTR, HWND, const char* moduleName, ULONGLONG baseAddress,
                       DWORD imageSize, const char* fullPath) {
    for (ModuleRange* range = moduleRanges; range; range = range->next) {
        if (range->baseAddress == baseAddress && lstrcmpiA(range->path, fullPath) == 0 &&
            lstrcmpiA(range->name, moduleName) == 0) {
            range->useCount++;
            return 0;
        }
    }
    ModuleRange* range = static_cast<ModuleRange*>(calloc(1, sizeof(ModuleRange)));
    if (!range) {
        return 0;
    }
    range->name = _strdup(moduleName);
    range->path = _strdup(fullPath);
    if (!range->name || !range->path) {
        free(range->name);
        free(range->path);
        free(range);
        return 0;
    }
    range->baseAddress = baseAddress;
    range->imageSize = imageSize;
    range->useCount = 1;
    range->next = moduleRanges;
    moduleRanges = range;
    return 0;
}

static void FreeModuleRanges() {
    while (moduleRanges) {
        ModuleRange* next = moduleRanges->next;
        free(moduleRanges->name);
        free(moduleRanges->path);
        free(moduleRanges);
        moduleRanges = next;
    }
}

static ULONGLONG Address(const void* pointer) {
    return reinterpret_cast<ULONG_PTR>(pointer);
}

// A region's size in bytes, right-aligned at a width that holds the largest
// region of the program's address space.
static void FormatRegionSize(SIZE_T size, char* buffer) {
#ifdef _WIN64
    char digits[24];
    _ui64toa(size, digits, 10);
    wsprintfA(buffer, "%15s", digits);
#else
    wsprintfA(buffer, "%10u", static_cast<DWORD>(size));
#endif
}

void FormatRegionRow(const MEMORY_BASIC_INFORMATION* region, char* buffer) {
    const char* none = CachedText(&notApplicableText, NOT_APPLICABLE_TEXT);
    int isFree = region->State == MEM_FREE;
    char scratch[4][16];
    char base[24], allocationBase[24], size[24];
    FormatAddress(Address(region->BaseAddress), base);
    FormatAddress(Address(region->AllocationBase), allocationBase);
    FormatRegionSize(region->RegionSize, size);
    int length = wsprintfA(
        buffer, "%s\t%s\t%s\t%s\t%s\t%s\t%s", base, isFree ? none : allocationBase,
        isFree ? none : LookupValueName(region->AllocationProtect, protectionNames, scratch[0]),
        size, LookupValueName(region->State, stateAndTypeNames, scratch[1]),
        isFree || region->State == MEM_RESERVE
            ? none
            : LookupValueName(region->Protect, protectionNames, scratch[2]),
        isFree ? none : LookupValueName(region->Type, stateAndTypeNames, scratch[3]));
    // The owning module: of image regions on NT, of private ones on the 95 family.
    DWORD ownedType = ntFamily ? MEM_IMAGE : MEM_PRIVATE;
    if (region->Type != ownedType) {
        return;
    }
    for (const ModuleRange* range = moduleRanges; range; range = range->next) {
        if (range->baseAddress == Address(region->AllocationBase)) {
            wsprintfA(buffer + length, "\t%.255s", range->name);
            return;
        }
    }
}

// The addresses' columns hold ADDRESS_DIGITS digits, the size's column the
// largest region of the program's address space; the module's name follows
// the last stop.
enum {
    ADDRESS_STOP = ADDRESS_DIGITS > 8 ? 55 : 40,
    SIZE_STOP = ADDRESS_DIGITS > 8 ? 70 : 40,
    MEMORY_TAB_COUNT = 7,
};
static const int memoryTabStops[MEMORY_TAB_COUNT] = {ADDRESS_STOP,
                                                     2 * ADDRESS_STOP,
                                                     2 * ADDRESS_STOP + 60,
                                                     2 * ADDRESS_STOP + 60 + SIZE_STOP,
                                                     2 * ADDRESS_STOP + 120 + SIZE_STOP,
                                                     2 * ADDRESS_STOP + 180 + SIZE_STOP,
                                                     2 * ADDRESS_STOP + 240 + SIZE_STOP};

// The header line scrolls sideways with the list: it stands as far left of
// the window as the list is scrolled, as wide as the list's view plus that.
static int headerScrolled;

static void FollowListScroll() {
    if (!memoryHeader || !memoryList) {
        return;
    }
    RECT window;
    GetClientRect(GetParent(memoryHeader), &window);
    int scrolled = GetScrollPos(memoryList, SB_HORZ);
    headerScrolled = scrolled;
    SetWindowPos(memoryHeader, nullptr, -scrolled, 0, window.right + scrolled,
                 memoryHeaderRect.bottom - memoryHeaderRect.top, SWP_NOZORDER);
}

static WNDPROC listBoxProc;

// Whatever scrolled the list sideways (its scroll bar, a key, a wheel, a
// narrower range), the header follows.
static LRESULT CALLBACK MemoryListScrollProc(HWND list, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    LRESULT result = CallWindowProcA(listBoxProc, list, message, wParam, lParam);
    if (message != WM_PAINT && GetScrollPos(list, SB_HORZ) != headerScrolled) {
        FollowListScroll();
    }
    return result;
}

static void EndListUpdate(HWND list, LRESULT top) {
    if (top >= 0) {
        SendMessageA(list, LB_SETTOPINDEX, top, 0);
    }
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

static DWORD Kilobytes(ULONGLONG bytes) {
    return static_cast<DWORD>((bytes + 1023) / 1024);
}

int WalkMemory(HWND list, HWND totals, DWORD processId) {
    if (!totalLabels[0]) {
        CachedText(&totalLabels[0], PRIVATE_LABEL);
        CachedText(&totalLabels[1], MAPPED_LABEL);
        CachedText(&totalLabels[2], IMAGE_LABEL);
    }
    LRESULT top = -1;
    if (list) {
        if (totals) {
            lastPrivateKb = lastMappedKb = lastImageKb = 0;
        }
        SendMessageA(list, WM_SETREDRAW, FALSE, 0);
        top = SendMessageA(list, LB_GETTOPINDEX, 0, 0);
        SendMessageA(list, LB_RESETCONTENT, 0, 0);
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (!process) {
        if (list) {
            EndListUpdate(list, -1);
        }
        return 0;
    }
    // One module listing per walk names every image region; a walk for the
    // totals alone needs no names.
    if (list) {
        ListModules(nullptr, processId, CollectModuleRange, 0);
    }
    ULONGLONG privateBytes = 0, mappedBytes = 0, imageBytes = 0;
    ULONG_PTR address = 0;
    MEMORY_BASIC_INFORMATION region;
    do {
        if (!QueryRegion(process, address, &region, &address)) {
            break;
        }
        if (list) {
            char row[REGION_ROW_SIZE];
            FormatRegionRow(&region, row);
            SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row));
        }
        if (region.State == MEM_COMMIT) {
            if (region.Type == MEM_PRIVATE) {
                privateBytes += region.RegionSize;
            } else if (region.Type == MEM_MAPPED) {
                mappedBytes += region.RegionSize;
            } else if (region.Type == MEM_IMAGE) {
                imageBytes += region.RegionSize;
            }
        }
    } while (address != 0);
    FreeModuleRanges();
    if (list) {
        FitHorizontalExtent(list, MEMORY_TAB_COUNT, memoryTabStops);
        EndListUpdate(list, top);
    }
    DWORD privateKb = Kilobytes(privateBytes);
    DWORD mappedKb = Kilobytes(mappedBytes);
    DWORD imageKb = Kilobytes(imageBytes);
    int changed = privateKb != lastPrivateKb || mappedKb != lastMappedKb || imageKb != lastImageKb;
    if (changed) {
        lastPrivateKb = privateKb;
        lastMappedKb = mappedKb;
        lastImageKb = imageKb;
        if (totals) {
            char text[900];
            wsprintfA(text, "%s: %d K, %s: %d K, %s: %d K", totalLabels[0], privateKb,
                      totalLabels[1], mappedKb, totalLabels[2], imageKb);
            SetWindowTextA(totals, text);
        }
    }
    CloseHandle(process);
    return changed;
}

// The totals line at the bottom of a client area of the given height.
static void PlaceMemoryTotals(int clientHeight) {
    RECT totals;
    GetWindowRect(memoryTotals, &totals);
    int totalsHeight = totals.bottom - totals.top;
    // Bits copied from the old place would be those of whatever covered the
    // line there: it is drawn anew.
    SetWindowPos(memoryTotals, nullptr, 0, clientHeight - totalsHeight, totals.right - totals.left,
                 totalsHeight, SWP_NOZORDER | SWP_NOCOPYBITS);
    InvalidateRect(memoryTotals, nullptr, TRUE);
}

static void LayoutMemoryWindow(HWND dialog, LPARAM newSize) {
    if (!ResizeToClient(dialog, memoryList, newSize, &memoryClientRect)) {
        return;
    }
    PlaceMemoryTotals(HIWORD(newSize));
    FollowListScroll();
}

INT_PTR CALLBACK MemoryDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        ApplyDialogFont(dialog);
        GetClientRect(dialog, &memoryClientRect);
        memoryList = GetDlgItem(dialog, IDC_MEMORY_LIST);
        memoryTotals = GetDlgItem(dialog, IDC_MEMORY_TOTAL);
        memoryHeader = GetDlgItem(dialog, IDC_MEMORY_HEADER);
        // The outer size: the edit keeps its height, borders included.
        GetWindowRect(memoryHeader, &memoryHeaderRect);
        // The line stands where every resize puts it from the start, so that
        // it does not move on the first one.
        PlaceMemoryTotals(memoryClientRect.bottom);
        SetWindowTextA(dialog, detailText);
        SetListHeader(dialog, IDC_MEMORY_LIST, IDC_MEMORY_HEADER, MEMORY_HEADER_TEXT,
                      MEMORY_TAB_COUNT, memoryTabStops);
        listBoxProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            memoryList, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(MemoryListScrollProc)));
        WalkMemory(memoryList, memoryTotals, selectedProcessId);
        if (memoryRefreshSeconds != 0) {
            SetTimer(dialog, REFRESH_TIMER_ID, RefreshPeriodMilliseconds(memoryRefreshSeconds),
                     nullptr);
        }
        return TRUE;
    case WM_TIMER:
        // The list is rebuilt only when a total changed.
        if (!DetailProcessEnded(dialog) && WalkMemory(nullptr, memoryTotals, selectedProcessId)) {
            WalkMemory(memoryList, nullptr, selectedProcessId);
        }
        return TRUE;
    case WM_VKEYTOITEM:
        if (LOWORD(wParam) == 'S' || LOWORD(wParam) == VK_F2) {
            SaveListBoxRows(dialog, memoryList);
        } else if (LOWORD(wParam) == VK_F5 && !DetailProcessEnded(dialog)) {
            WalkMemory(memoryList, memoryTotals, selectedProcessId);
        }
        return -1;
    case WM_SIZE:
        LayoutMemoryWindow(dialog, lParam);
        return FALSE;
    default:
        return EndDetailDialog(dialog, message, wParam);
    }
}

LRESULT OpenMemoryWindow(HWND, WPARAM, WPARAM, LPARAM) {
    selectedProcessId = BuildDetailTitle(memoryTitlePrefix);
    if (selectedProcessId != 0) {
        DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_MEMORY), mainWindow, MemoryDlgProc, 0);
    }
    ReleaseChosenProcess(&chosenProcess);
    return 0;
}
