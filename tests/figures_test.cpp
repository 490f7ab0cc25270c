// The resource columns with real helpers: one that keeps a processor busy,
// one idle, one that touched 100 MB; the option switched through its menu
// command, the figures read from the real native table.
#include "listfixture.h"
#include "testutil.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/trayload.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/machineload.h"
#include "sysinfo/privileges.h"
#include "views/figures.h"
#include "views/nodetable.h"
#include "views/savelist.h"

#include <commctrl.h>
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <sstream>

namespace {

enum { CPU = 3, CPU_TIME, WORKING_SET, PRIVATE_BYTES, HANDLES, PATH };

class FiguresTest : public ListFixture {
  protected:
    void SetUp() override {
        for (const char* options : {"--busy", "", "--touch=100"}) {
            helpers.push_back(
                StartChild("\"" + BinPath("tvhelper.exe") + "\" --lifetime=90000 " + options));
        }
        CountProcessors(); // as start-up does
        CreateMainWindowFor(1, false);
        SendMessageA(mainWindow, WM_COMMAND, IDM_RESOURCE_COLUMNS, 0);
    }
    void TearDown() override {
        ListFixture::TearDown();
        for (Child& helper : helpers) {
            EndChild(helper);
        }
    }

  public:
    // The table's cases check through these.
    using ListFixture::CellText;
    using ListFixture::ClickHeader;
    using ListFixture::ResetCounters;
    using ListFixture::RowIds;
    using ListFixture::RowOf;
    // A pass about a second after the last one, as the timer makes them.
    void Pass() {
        PumpMessages(1000);
        RefreshProcessList();
        Paint();
    }
    std::string Cell(int helper, int column) {
        return CellText(RowOf(helpers[helper].info.dwProcessId), column);
    }
    static long Number(std::string text) {
        text.erase(std::remove(text.begin(), text.end(), ','), text.end());
        return atol(text.c_str());
    }
    std::vector<Child> helpers;
};

// Processor counts as the system's calls give them. Where the newer call is
// missing its slot is filled again as the program starts: one that answers
// nothing takes the program down the same road.
DWORD fakeProcessors;
bool newerCall;
DWORD WINAPI FakeActiveProcessorCount(WORD group) {
    return !newerCall ? 0 : group == 0xFFFF ? fakeProcessors : 1;
}
void WINAPI FakeNativeSystemInfo(SYSTEM_INFO* info) {
    GetSystemInfo(info);
    info->dwNumberOfProcessors = fakeProcessors;
}

// The width a list view takes for a text when it sizes a column to it: the
// first column of a list of the same font holding the text alone.
int FittedWidth(HWND list, const std::string& text, bool caption) {
    HWND scratch = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | LVS_REPORT, 0, 0, 400, 100,
                                   mainWindow, nullptr, GetModuleHandleA(nullptr), nullptr);
    SendMessageA(scratch, WM_SETFONT, SendMessageA(list, WM_GETFONT, 0, 0), 0);
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = 10;
    column.pszText = const_cast<char*>(caption ? text.c_str() : "");
    // A last column would be widened to the list's end.
    for (int index : {0, 1}) {
        SendMessageA(scratch, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
    }
    if (!caption) {
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.pszText = const_cast<char*>(text.c_str());
        SendMessageA(scratch, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
    ListView_SetColumnWidth(scratch, 0, caption ? LVSCW_AUTOSIZE_USEHEADER : LVSCW_AUTOSIZE);
    int width = ListView_GetColumnWidth(scratch, 0);
    DestroyWindow(scratch);
    return width;
}

// Every caption of the list shows whole beside the sort arrow (the header
// puts a margin of three edges on both sides of the bitmap), and each
// listed column fits each of its texts.
void ExpectTextsFit(HWND list, const std::vector<std::pair<int, std::vector<std::string>>>& texts) {
    HWND header = ListView_GetHeader(list);
    int arrowRoom = 16 + 2 * 3 * GetSystemMetrics(SM_CXEDGE);
    for (int column = 0; column < Header_GetItemCount(header); column++) {
        char caption[64] = "";
        HDITEMA item = {};
        item.mask = HDI_TEXT;
        item.pszText = caption;
        item.cchTextMax = sizeof caption;
        Header_GetItem(header, column, &item);
        EXPECT_GE(ListView_GetColumnWidth(list, column),
                  FittedWidth(list, caption, true) + arrowRoom)
            << caption;
    }
    for (const auto& columnTexts : texts) {
        for (const std::string& text : columnTexts.second) {
            EXPECT_GE(ListView_GetColumnWidth(list, columnTexts.first),
                      FittedWidth(list, text, false))
                << "column " << columnTexts.first << ": " << text;
        }
    }
}

// Every number of `count` digits written with one digit only: the widest of
// them is as wide as any number of that length can be.
std::vector<std::string> Repeated(const char* digits, int count) {
    std::vector<std::string> texts;
    for (const char* digit = digits; *digit; digit++) {
        texts.push_back(std::string(count, *digit));
    }
    return texts;
}

struct FigureCase {
    const char* what;
    std::function<void(FiguresTest&)> check;
};

const FigureCase figureCases[] = {
    {"the busy helper's share reaches 30 within three periods, the idle one's stays blank",
     [](FiguresTest& t) {
         long share = 0;
         for (int pass = 0; pass < 3 && share < 300; pass++) {
             t.Pass();
             share = static_cast<long>(atof(t.Cell(0, CPU).c_str()) * 10 + 0.5);
         }
         // One busy processor of two is 50 %.
         EXPECT_GE(share, 600 / static_cast<long>(processorCount));
         EXPECT_EQ(t.Cell(1, CPU), "");
         EXPECT_NE(t.Cell(0, CPU_TIME).find(':'), std::string::npos);
     }},
    {"the toucher of 100 MB shows them in both memory columns, grouped and in K",
     [](FiguresTest& t) {
         t.Pass();
         for (int column : {WORKING_SET, PRIVATE_BYTES}) {
             std::string cell = t.Cell(2, column);
             EXPECT_GE(FiguresTest::Number(cell), 100000) << cell;
             EXPECT_NE(cell.find(','), std::string::npos) << cell;
             EXPECT_EQ(cell.substr(cell.size() - 2), " K");
         }
         EXPECT_GT(FiguresTest::Number(t.Cell(2, HANDLES)), 0);
     }},
    {"a share is the time over every active processor: 1, 2, 48 and 96, also by the older count",
     [](FiguresTest& t) {
         AffinityApi saved = affinityApi;
         affinityApi.getActiveProcessorCount = FakeActiveProcessorCount;
         affinityApi.getNativeSystemInfo = FakeNativeSystemInfo;
         for (bool newer : {true, false}) {
             for (DWORD count : {1u, 2u, 48u, 96u}) {
                 fakeProcessors = count;
                 newerCall = newer;
                 processorCount = 0;
                 CountProcessors();
                 t.Pass();
                 ProcessNode* node = FindNode(t.helpers[0].info.dwProcessId, KIND_WIN32);
                 ASSERT_NE(node, nullptr);
                 ULONGLONG cpu = node->cpuTime, at = node->figureTime;
                 t.Pass();
                 double expected =
                     100.0 * (node->cpuTime - cpu) / (double(node->figureTime - at) * count);
                 expected = expected > 100 ? 100 : expected;
                 double shown = atof(t.Cell(0, CPU).c_str());
                 EXPECT_NEAR(shown, expected, expected / 10 + 0.05)
                     << count << " processors, newer call " << newer;
             }
         }
         affinityApi = saved;
         processorCount = 0;
         CountProcessors();
     }},
    {"sorted by CPU at the first click the busy helper comes first, the selection stays",
     [](FiguresTest& t) {
         t.Pass();
         SelectProcessById(t.helpers[1].info.dwProcessId);
         t.ClickHeader(CPU); // the largest first
         for (int pass = 0; pass < 2; pass++) {
             t.Pass();
             EXPECT_EQ(t.RowIds().front(), t.helpers[0].info.dwProcessId);
             EXPECT_EQ(GetSelectedProcess(listWindow, nullptr, 0), t.helpers[1].info.dwProcessId);
         }
         t.ClickHeader(0);
     }},
    {"an unchanged pass draws changed figure cells only; a saved line carries the five figures",
     [](FiguresTest& t) {
         // Every highlight has run out and been drawn plain.
         SetRefreshTimer(0);
         for (ProcessNode* node = processListHead; node; node = node->next) {
             node->markTime = 0;
         }
         ExpireHighlights();
         t.Pass();
         t.ResetCounters();
         t.Pass();
         // The list view asks for a row's first cell to draw any of its
         // cells; the other cells that did not change are never asked for.
         for (int column : listCounters.requestedColumns) {
             EXPECT_TRUE(column == 0 || (column >= CPU && column <= HANDLES)) << column;
         }
         std::string path = BinPath("figures.txt");
         ASSERT_TRUE(WithDialog([] { SaveProcessList(nullptr, 0, 0, 0); },
                                [&](HWND dialog) { SaveAsIn(dialog, path); }));
         std::string line = ReadFileBytes(path);
         line = line.substr(line.find("\t" + std::to_string(t.helpers[2].info.dwProcessId) + "\t"));
         line = line.substr(0, line.find('\r'));
         EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 8) << line;
         EXPECT_NE(line.find(t.Cell(2, PRIVATE_BYTES)), std::string::npos) << line;
         DeleteFileA(path.c_str());
     }},
    {"the status bar and the tray tip show the machine's load as GetSystemTimes counts it",
     [](FiguresTest& t) {
         SelectProcessById(0);
         t.Pass();
         FILETIME idle[2], kernel[2], user[2];
         machineLoadApi.getSystemTimes(&idle[0], &kernel[0], &user[0]);
         t.Pass();
         machineLoadApi.getSystemTimes(&idle[1], &kernel[1], &user[1]);
         auto since = [](FILETIME* time) {
             return FileTimeValue(time[1]) - FileTimeValue(time[0]);
         };
         double all = double(since(kernel) + since(user));
         std::string status = WindowText(statusWindow), label = ToAnsi("CPU 使用: ");
         ASSERT_NE(status.find(label), std::string::npos) << status;
         int shown = atoi(status.c_str() + status.find(label) + label.size());
         EXPECT_NEAR(shown, 100.0 * (all - since(idle)) / all, 6) << status;
         EXPECT_NE(status.find(ToAnsi("内存使用: ")), std::string::npos);
         useSysTray = 1;
         ShowTrayLoad();
         char tip[64];
         HICON icon = TrayLoadIcon(tip, sizeof tip);
         ASSERT_NE(icon, nullptr);
         EXPECT_EQ(std::string(tip).find(ToAnsi("Tolvane - ") + label), 0u) << tip;
         EXPECT_EQ(atoi(tip + ToAnsi("Tolvane - ").size() + label.size()), shown) << tip;
         ShowTrayLoad(); // the same percent: the same icon
         EXPECT_EQ(TrayLoadIcon(tip, sizeof tip), icon);
         SendMessageA(mainWindow, WM_COMMAND, IDM_RESOURCE_COLUMNS, 0);
         EXPECT_EQ(TrayLoadIcon(tip, sizeof tip), nullptr);
         EXPECT_EQ(SendMessageA(HWND(SendMessageA(listWindow, LVM_GETHEADER, 0, 0)),
                                HDM_GETITEMCOUNT, 0, 0),
                   4);
         useSysTray = 0;
         SendMessageA(mainWindow, WM_COMMAND, IDM_RESOURCE_COLUMNS, 0);
     }},
    {"hidden in the tray, the icon alone follows the load, its tip names no process",
     [](FiguresTest& t) {
         t.Pass();
         useSysTray = 1;
         SendMessageA(mainWindow, WM_SYSCOMMAND, SC_MINIMIZE, 0);
         ResetMachineLoad();
         PumpMessages(4500); // two periods of the load's own timer
         EXPECT_EQ(refreshTimerRunning, 0u);
         EXPECT_GE(machineCpuPercent, 0);
         char tip[64] = "";
         TrayLoadIcon(tip, sizeof tip);
         EXPECT_EQ(std::string(tip).find(ToAnsi("Tolvane - CPU 使用: ")), 0u) << tip;
         EXPECT_EQ(std::string(tip).find('('), std::string::npos) << tip;
         SendMessageA(mainWindow, WM_SYSCOMMAND, SC_RESTORE, 0);
         useSysTray = 0;
     }},
    {"captions show whole beside the arrow; memory figures, addresses, sizes and paths fit",
     [](FiguresTest& t) {
         // The largest memory figure: the commit limit, or in the 32-bit
         // program the mark of one of at least 4 GB.
         ProcessNode node = {};
         node.figureTime = 1;
         MEMORYSTATUS status = {};
         status.dwLength = sizeof status;
         GlobalMemoryStatus(&status);
         node.workingSet = sizeof(void*) == 8 ? status.dwTotalPageFile : FIGURE_AT_LEAST_4GB;
         char largest[64];
         FormatFigure(&node, CELL_WORKING_SET, largest);
         ExpectTextsFit(listWindow, {{WORKING_SET, {largest}}, {PRIVATE_BYTES, {largest}}});
         // The modules window and the module-usage window: the base address
         // and the image size (a 32-bit number).
         SelectProcessById(t.helpers[2].info.dwProcessId);
         for (UINT command : {IDM_MODULES, IDM_MODULE_USAGE}) {
             EXPECT_TRUE(WithDialog(
                 [&] { SendMessageA(mainWindow, WM_COMMAND, command, 0); },
                 [&](HWND dialog) {
                     HWND list = FindWindowExA(dialog, nullptr, WC_LISTVIEWA, nullptr);
                     ExpectTextsFit(list, {{1, Repeated("0123456789abcdef", ADDRESS_DIGITS)},
                                           {2, Repeated("0123456789", 10)}});
                     // The path column reaches the list's right edge, also
                     // after the window grows.
                     for (int grow : {0, 200}) {
                         RECT rect;
                         GetWindowRect(dialog, &rect);
                         SetWindowPos(dialog, nullptr, 0, 0, rect.right - rect.left + grow,
                                      rect.bottom - rect.top, SWP_NOMOVE | SWP_NOZORDER);
                         GetClientRect(list, &rect);
                         int columns = 0;
                         for (int column = 0; column < 5; column++) {
                             columns += ListView_GetColumnWidth(list, column);
                         }
                         EXPECT_GE(columns, rect.right - GetSystemMetrics(SM_CXVSCROLL)) << grow;
                     }
                     PostMessageA(dialog, WM_CLOSE, 0, 0);
                 }))
                 << command;
         }
     }},
    {"a memory figure of a process starting or ending (0 bytes) shows nothing",
     [](FiguresTest&) {
         ProcessNode node = {};
         node.figureTime = 1;
         char text[64];
         for (int kind : {CELL_WORKING_SET, CELL_PRIVATE_BYTES}) {
             FormatFigure(&node, kind, text);
             EXPECT_STREQ(text, "");
         }
         node.workingSet = 4096;
         FormatFigure(&node, CELL_WORKING_SET, text);
         EXPECT_STREQ(text, "4 K");
     }},
    {"without the native table the columns stay blank",
     [](FiguresTest& t) {
         ntApi.ntQuerySystemInformation = nullptr;
         ReloadProcessList();
         t.Pass();
         for (int column = CPU; column <= HANDLES; column++) {
             EXPECT_EQ(t.Cell(2, column), "");
         }
     }},
    {"the option and the widths round-trip through a restart, also widths written with it off",
     [](FiguresTest&) {
         ListView_SetColumnWidth(listWindow, WORKING_SET, 123);
         DestroyWindow(mainWindow);
         SetSettingsText("ResourceColumns", "1");
         LoadSettings();
         EXPECT_EQ(activeColumns.count, 9);
         EXPECT_EQ(GetColumnWidth(WORKING_SET), 123);
         SetSettingsText("ColomnSize", " 101 76 77 251");
         LoadSettings();
         EXPECT_EQ(GetColumnWidth(2), 77);
         EXPECT_EQ(GetColumnWidth(PATH), 251);
         EXPECT_EQ(GetColumnWidth(CPU), 70);
         SetSettingsText("ColomnSize", " 102 76 77 70 70 80 80 50 252");
         for (const char* other : {"0", "yes", ""}) {
             SetSettingsText("ResourceColumns", other);
             LoadSettings();
             EXPECT_EQ(activeColumns.count, 4) << other;
             EXPECT_EQ(GetColumnWidth(3), 252);
         }
         mainWindow = nullptr;
     }},
};

TEST_F(FiguresTest, ResourceColumns) {
    for (const FigureCase& figureCase : figureCases) {
        SCOPED_TRACE(figureCase.what);
        if (!mainWindow) {
            CreateMainWindowFor(1, false);
            SendMessageA(mainWindow, WM_COMMAND, IDM_RESOURCE_COLUMNS, 0);
        }
        figureCase.check(*this);
        ntApi = savedNtApi;
    }
}

} // namespace
