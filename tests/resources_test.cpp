// Checks that tolvane.exe carries its complete resource set: the string table
// read back through the ANSI functions, the menus, the accelerator table, the
// dialog templates (parsed from the executable and created for real), the
// artwork and the version record.

#include <windows.h>
#include <commctrl.h>
#include <winver.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "res/resource.h"
#include "testutil.h"
#include "tolvane_version.h"

namespace {

// ---------------------------------------------------------------------------
// Helpers

std::wstring Wide(const std::string& utf8) {
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(n, L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                            static_cast<int>(utf8.size()), &wide[0], n);
    }
    return wide;
}

// The text as the program sees it through the ANSI functions.
std::string Ansi(const std::string& utf8) {
    std::wstring wide = Wide(utf8);
    int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string ansi(n, '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &ansi[0], n,
                            nullptr, nullptr);
    }
    return ansi;
}

// True when the ANSI code page holds the text without substitutions; otherwise
// comparing ANSI texts would compare question marks.
bool AnsiCanHold(const std::string& utf8) {
    std::wstring wide = Wide(utf8);
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                        &lossy);
    return !lossy;
}

std::string ExeDirectory() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir = path;
    size_t slash = dir.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
}

std::string ProductPath() {
    return ExeDirectory() + PROGRAM_FILE;
}

// tolvane.exe, mapped as a data file: only its resources are used.
HMODULE Product() {
    static HMODULE module =
        LoadLibraryExA(ProductPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return module;
}

std::string LoadAnsiString(HMODULE module, UINT id) {
    char buffer[260] = ""; // the size the program loads its texts into
    int n = LoadStringA(module, id, buffer, sizeof buffer);
    return std::string(buffer, n > 0 ? n : 0);
}

std::string ClassOf(HWND hwnd) {
    char name[256] = "";
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

bool SameName(const std::string& a, const std::string& b) {
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

struct Resource {
    const BYTE* data = nullptr;
    DWORD size = 0;
};

Resource FindRes(HMODULE module, LPCSTR name, LPCSTR type) {
    Resource res;
    HRSRC info = FindResourceA(module, name, type);
    if (info != nullptr) {
        HGLOBAL handle = LoadResource(module, info);
        res.data = static_cast<const BYTE*>(LockResource(handle));
        res.size = SizeofResource(module, info);
    }
    return res;
}

// ---------------------------------------------------------------------------
// Expected string table (UTF-8).

struct StringEntry {
    UINT id;
    const char* text;
};

const StringEntry kStrings[] = {
    {1, "Tolvane"},
    {2, "Tolvane"},
    {3, "进程"},
    {4, "ID"},
    {5, "优先级"},
    {6, "线程"},
    {7, "类型"},
    {8, "完整路径"},
    {13, "没有足够的内存来运行此程序"},
    {14, "此文件不是有效的可执行格式"},
    {15, "不能找到指定的文件"},
    {16, "不能找到指定的路径"},
    {17, "刷新当前列表"},
    {18, "结束进程"},
    {19, "调试进程"},
    {20, "显示线程"},
    {21, "显示模块"},
    {22, "显示内存"},
    {23, "设置优先级"},
    {24, "显示堆栈"},
    {25, "显示版本"},
    {26, "切换到进程"},
    {27, "通过拖动查找工具到进程窗口上来查找进程"},
    {28, "保存当前列表"},
    {29, "查看进程树"},
    {30, "显示模块使用情况"},
    {31, "带到前台"},
    {32, "显示应用程序"},
    {33, "窗口标题"},
    {34, "显示启动信息"},
    {35, "复制应用程序路径到剪贴板"},
    {400, "Tolvane 需要 PSAPI.DLL"},
    {401, "此进程中不包含任何能被激活的窗口."},
    {402, "此进程中不包含任何能被激活的窗口."},
    {403, "此进程无法被中止."},
    {404, "无法得到优先等级的信息."},
    {405, "无法设置新的优先级"},
    {406, "\n无法启动调试器"},
    {408, "实时"},
    {409, "高"},
    {410, "普通"},
    {411, "空闲"},
    {412, "低于普通"},
    {413, "高于普通"},
    {416, "(最低)"},
    {417, "(低于普通)"},
    {418, "(普通)"},
    {419, "(高于普通)"},
    {420, "(最高)"},
    {421, "(实时)"},
    {422, "(空闲)"},
    {423, "默认"},
    {424, "共享"},
    {425, "空闲"},
    {426, "[未知]"},
    {427, "[禁止访问]"},
    {428, "禁止访问"},
    {429, "只读"},
    {430, "可读写"},
    {431, "写复制"},
    {432, "执行"},
    {433, "执行读出"},
    {434, "执行读写"},
    {435, "执行写复制"},
    {436, "保护"},
    {437, "R/O 保护"},
    {438, "R/W 保护"},
    {439, "无缓存"},
    {440, "托管"},
    {441, "保留"},
    {442, "解除托管"},
    {443, "释放"},
    {444, "空闲"},
    {445, "独占"},
    {446, "映射"},
    {447, "重置"},
    {448, "顺序"},
    {449, "映像"},
    {450, "文件版本"},
    {451, "公司名"},
    {452, "内部名称"},
    {453, "产品版本"},
    {454, "产品名称"},
    {455, "文件描述"},
    {456, "合法商标"},
    {457, "原文件名"},
    {460, "不正确的版本"},
    {461, "进程树"},
    {462, "启动信息 -- "},
    {463, "线程 -- "},
    {464, "优先级 -- "},
    {465, "内存 -- "},
    {466, "堆 -- "},
    {467, "禁止访问."},
    {468, "空闲优先级"},
    {469, "普通优先级"},
    {470, "高优先级"},
    {471, "实时优先级"},
    {472, "低于普通"},
    {473, "高于普通"},
    {474, "无法定位系统调试器位置.\n"
          "请检查你的 'win.ini' 文件或注册表中的 [AeDebug] 段.\n"
          "查看 \\\"Debugger=<path_to_system_debugger> -p %ld -e %ld\\\" 的设置是否正确."},
    {475, "Tolvane 需要 TOOLHELP API 导出于 'KERNEL32.DLL"},
    {476, "无"},
    {477, "无法访问与所选择的窗口相匹配的进程"},
    {478, "文件(&F)"},
    {479, "文本文档 (*.txt)|*.txt|所有文件 (*.*)|*.*|"},
    {480, "方案工作空间 (*.mdp;*.dsw)|*.MDP;*.DSW|方案文件 (*.dsp)|*.DSP|构造文件 "
          "(*.mak)|*.MAK|全部文件 (*.*)|*.*|"},
    {481, "个进程"},
    {482, "txt"},
    {483, "进程(&P)"},
    {484, "Tolvane"},
    {485, "名称"},
    {486, "基地址"},
    {487, "大小"},
    {488, "创建时间"},
    {489, "模块\t基地址\t大小\t创建时间\t完整路径"},
    {490, "基地址\t分配基址\t分配保护\t大小\t状态\t保护\t类型\t模块"},
    {491, "模块\t基地址\t大小\t数量\t完整路径"},
    {492, "地址\t大小\t标志"},
    {493, "堆ID\t大小\t已用\t剩余\t标志"},
    {494, "ID\t优先级"},
    {495, "托盘"},
    {496, "亲和 -- "},
    {497, "亲和掩码不能为空!"},
    {498, "无法设置新的亲和掩码"},
    {499, "复制"},
    {500, "模块"},
    {501, "使用"},
    {502, "数量"},
    {503, "模块"},
    {504, "此进程没有响应终止请求, 继续等待吗?"},
    {520, "(32 位程序看不全 64 位进程的模块)"},
    {521, "本程序无法读取 64 位进程的启动信息"},
    {522, " [已在 64 KB 处截断]"},
    // The resource columns, the machine's load and the tray tip.
    {530, "CPU"},
    {531, "CPU 时间"},
    {532, "工作集"},
    {533, "专用字节"},
    {534, "句柄"},
    {535, "CPU 使用: %d%%"},
    {536, "内存使用: %d%%"},
    {537, "Tolvane - CPU 使用: %d%%"},
    {538, " (最忙: %s)"},
    {539, " K"},
    {540, "所选进程已经结束, 没有对任何进程执行此操作."},
    {541, " [进程已结束]"},
    {542, "设置的系统调试器是 32 位程序, 无法附加到 64 位进程."},
    {543, "≥"},
    {544, "无法确认所选进程是否仍在运行, 没有对任何进程执行此操作."},
    {545, " [无法确认进程]"},
    {546, "筛选 (Ctrl+E)"},
    {547, "显示 %d / 共 %d 个进程"},
    {548, "已挂起"},
    {549, "结束进程 %s 及其下的 %d 个进程?"},
    {550, "以下进程未能结束:"},
    {551, "挂起 Tolvane 本身后, 它将停止响应, 只能用其他程序恢复或结束它. 仍要挂起吗?"},
    {552, "%s 是桌面或系统自身的进程: 挂起它可能使整个桌面停止响应. 仍要挂起吗?"},
    {553, "无法挂起进程 %s"},
    {554, "无法恢复进程 %s"},
    {555, "无法打开文件位置 %s"},
    {556, "模块 -- "},
    {557, "找不到帮助文件 %s"},
    {558, "无法打开帮助文件 %s"},
};

class ResourcesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(Product(), nullptr) << "cannot map " << ProductPath();
    }
};

// ---------------------------------------------------------------------------
// String table

TEST_F(ResourcesTest, EveryStringLoadsWithItsExactTextThroughTheAnsiCodePage) {
    for (const StringEntry& entry : kStrings) {
        ASSERT_TRUE(AnsiCanHold(entry.text))
            << "the ANSI code page (" << GetACP() << ") cannot hold string " << entry.id;
    }
    for (const StringEntry& entry : kStrings) {
        EXPECT_EQ(LoadAnsiString(Product(), entry.id), Ansi(entry.text)) << "string " << entry.id;
    }
}

TEST_F(ResourcesTest, NoStringExistsBesideTheTable) {
    std::set<UINT> listed;
    for (const StringEntry& entry : kStrings) {
        listed.insert(entry.id);
    }
    for (UINT id = 0; id < 2048; ++id) {
        if (listed.count(id) == 0) {
            char buffer[16] = "";
            EXPECT_EQ(LoadStringA(Product(), id, buffer, sizeof buffer), 0) << "string " << id;
        }
    }
    char buffer[16] = "x";
    EXPECT_EQ(LoadStringA(Product(), 9, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
}

TEST_F(ResourcesTest, ActivationMessageExistsUnderBothIds) {
    std::string first = LoadAnsiString(Product(), 401);
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(LoadAnsiString(Product(), 402), first);
}

// ---------------------------------------------------------------------------
// Menus

// One line per item: indentation for the depth, caption, then ">" for a
// pop-up or the command id, then the states that are set.
void DumpMenu(HMENU menu, int depth, std::vector<std::string>& lines) {
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char text[256] = "";
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof text;
        ASSERT_TRUE(GetMenuItemInfoA(menu, i, TRUE, &info));
        std::string line(depth * 2, ' ');
        if (info.fType & MFT_SEPARATOR) {
            line += "----";
        } else {
            line += text;
            line += info.hSubMenu != nullptr ? std::string(" >") : " " + std::to_string(info.wID);
            if (info.fState & MFS_GRAYED) {
                line += " grayed";
            }
            if (info.fState & MFS_CHECKED) {
                line += " checked";
            }
        }
        lines.push_back(line);
        if (info.hSubMenu != nullptr) {
            DumpMenu(info.hSubMenu, depth + 1, lines);
        }
    }
}

std::vector<std::string> LoadMenuLines(int id) {
    std::vector<std::string> lines;
    HMENU menu = LoadMenuA(Product(), MAKEINTRESOURCEA(id));
    EXPECT_NE(menu, nullptr) << "menu " << id;
    if (menu != nullptr) {
        DumpMenu(menu, 0, lines);
        DestroyMenu(menu);
    }
    return lines;
}

std::vector<std::string> AnsiLines(const std::vector<const char*>& utf8) {
    std::vector<std::string> lines;
    for (const char* line : utf8) {
        lines.push_back(Ansi(line));
    }
    return lines;
}

TEST_F(ResourcesTest, MainMenuBarHasItsPopupsItemsAndStartStates) {
    const std::vector<const char*> expected = {
        "文件(&F) >",
        "  重新载入进程列表(&R) 40028",
        "  另存为(&S)...\tF2 40021",
        "  ----",
        "  退出(&X) 40001",
        "查看(&V) >",
        "  进程树(&P) 40022",
        "  模块使用(&M) 40023",
        "  应用程序(&A) 40025",
        "  ----",
        "  刷新(&R)\tF5 40002",
        "  ----",
        "  选项(&O) >",
        "    启动时最小化(&S) 40013",
        "    系统栏中显示图标(&T) 40012 checked",
        "    允许同时运行多个程序(&I) 40015",
        "    十六进制进程标识(&H) 40026",
        "    自动运行Tolvane(&L)... 40027",
        "    进程列表中使用颜色(&U) 40039",
        "    显示资源使用列(&C) 40032",
        "    ----",
        "    设置刷新时间(&R)... 40014",
        "进程(&P) >",
        "  线程(&T) 40006 grayed",
        "  模块(&M) 40007 grayed",
        "  堆(&H) 40010 grayed",
        "  内存(&E) 40008 grayed",
        "  版本(&V) 40019 grayed",
        "  启动信息(&I) 40029 grayed",
        "  ----",
        "  复制路径(&C) 40030 grayed",
        "  打开文件位置(&L)\tCtrl+L 40044 grayed",
        "  ----",
        "  切换到(&S) 40018 grayed",
        "  带到前台(&B) 40024 grayed",
        "  设置优先级(&P) 40009 grayed",
        "  设置亲和(&A) 40031 grayed",
        "  调试(&D) 40005 grayed",
        "  挂起(&U)\tCtrl+P 40042 grayed",
        "  恢复(&M)\tCtrl+R 40043 grayed",
        "  中止进程(&K) 40003 grayed",
        "  结束进程树(&T)\tShift+Del 40041 grayed",
        "帮助(&H) >",
        "  帮助(&H)...\tF1 40017",
        "  关于(&A)... 40004",
    };
    EXPECT_EQ(LoadMenuLines(IDR_MAIN_MENU), AnsiLines(expected));
}

TEST_F(ResourcesTest, ContextMenuHoldsFourPopups) {
    const std::vector<const char*> expected = {
        "托盘 >", // tray icon
        "  打开进程窗口(&O) 40011",
        "  ----",
        "  退出 Tolvane(&X) 40001",
        "复制 >", // copy
        "  复制(&C) 40030",
        "模块 >", // modules window
        "  版本(&V) 40034",
        "  ----",
        "  复制模块路径(&C) 40030",
        "使用 >", // module usage window
        "  版本(&V) 40034",
        "  ----",
        "  复制模块路径(&C) 40030",
    };
    EXPECT_EQ(LoadMenuLines(IDR_CONTEXT_MENU), AnsiLines(expected));
}

// The code finds pop-ups by comparing their captions with string-table texts.
TEST_F(ResourcesTest, PopupsAreFoundByTheirStringTableCaptions) {
    struct Lookup {
        int menu;
        UINT captionString;
        UINT firstCommand;
    };
    const Lookup lookups[] = {
        {IDR_MAIN_MENU, 478, IDM_RELOAD},
        {IDR_MAIN_MENU, IDS_PROCESS_POPUP, IDM_THREADS},
        {IDR_CONTEXT_MENU, IDS_TRAY_POPUP, IDM_OPEN_WINDOW},
        {IDR_CONTEXT_MENU, IDS_COPY_POPUP, IDM_COPY_PATH},
        {IDR_CONTEXT_MENU, IDS_MODULE_POPUP, IDM_MODULE_VERSION},
        {IDR_CONTEXT_MENU, IDS_USAGE_POPUP, IDM_MODULE_VERSION},
    };
    for (const Lookup& lookup : lookups) {
        SCOPED_TRACE("string " + std::to_string(lookup.captionString));
        std::string caption = LoadAnsiString(Product(), lookup.captionString);
        HMENU menu = LoadMenuA(Product(), MAKEINTRESOURCEA(lookup.menu));
        ASSERT_NE(menu, nullptr);
        int matches = 0;
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            char text[256] = "";
            GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
            if (caption == text) {
                ++matches;
                HMENU popup = GetSubMenu(menu, i);
                ASSERT_NE(popup, nullptr);
                EXPECT_EQ(GetMenuItemID(popup, 0), lookup.firstCommand);
            }
        }
        EXPECT_EQ(matches, 1);
        DestroyMenu(menu);
    }
}

// ---------------------------------------------------------------------------
// Accelerators

TEST_F(ResourcesTest, AcceleratorsLoadUnderTheMainClassName) {
    std::string className = LoadAnsiString(Product(), IDS_CLASS_NAME);
    HACCEL table = LoadAcceleratorsA(Product(), className.c_str());
    ASSERT_NE(table, nullptr);
    ACCEL entries[16] = {};
    int count = CopyAcceleratorTableA(table, entries, 16);
    DestroyAcceleratorTable(table);

    std::set<std::string> actual;
    for (int i = 0; i < count; ++i) {
        BYTE modifiers = entries[i].fVirt & (FVIRTKEY | FSHIFT | FCONTROL | FALT);
        actual.insert(std::to_string(modifiers) + " " + std::to_string(entries[i].key) + " " +
                      std::to_string(entries[i].cmd));
    }
    auto line = [](BYTE modifiers, WORD key, WORD cmd) {
        return std::to_string(modifiers) + " " + std::to_string(key) + " " + std::to_string(cmd);
    };
    std::set<std::string> expected = {
        line(FVIRTKEY | FCONTROL, 'Q', IDM_EXIT),
        line(FVIRTKEY, VK_F1, IDM_HELP),
        line(FVIRTKEY, VK_F2, IDM_SAVE_LIST),
        line(FVIRTKEY, VK_F5, IDM_REFRESH),
        line(FVIRTKEY | FCONTROL, 'E', IDM_FOCUS_FILTER),
        line(FVIRTKEY | FCONTROL, 'F', IDM_FOCUS_FILTER),
    };
    EXPECT_EQ(count, 6);
    EXPECT_EQ(actual, expected);
}

// ---------------------------------------------------------------------------
// Dialog templates

struct ControlLayout {
    int id;
    const char* cls;
    DWORD mask;  // style bits that are checked ...
    DWORD value; // ... and the value they must have
    const char* text;
};

ControlLayout Ctl(int id, const char* cls, DWORD style, const char* text = nullptr) {
    return {id, cls, style, style, text};
}

ControlLayout Button(int id, DWORD type, const char* text) {
    return {id, "Button", BS_TYPEMASK, type, text};
}

// A label and the control it names (left of it or above it).
struct LabelLayout {
    const char* text;
    int control;
};

struct DialogLayout {
    int id;
    const char* title;
    short cx, cy;
    bool resizable;
    std::vector<ControlLayout> controls;
    std::vector<LabelLayout> labels;
    std::vector<const char*> texts; // further texts shown by some control
};

const std::vector<DialogLayout>& Dialogs() {
    const DWORD listBox = LBS_SORT | LBS_USETABSTOPS | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT |
                          LBS_WANTKEYBOARDINPUT | WS_VSCROLL;
    const DWORD header = ES_MULTILINE | ES_READONLY;
    const DWORD value = ES_READONLY | ES_AUTOHSCROLL;
    const DWORD tree = TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_DISABLEDRAGDROP;
    const ControlLayout ok = Button(IDOK, BS_DEFPUSHBUTTON, "确定");
    const ControlLayout cancel = Button(IDCANCEL, BS_PUSHBUTTON, "取消");
    static const std::vector<DialogLayout> dialogs = {
        {IDD_ATTACH_DEBUGGER,
         "附件调试器",
         308,
         71,
         false,
         {Button(IDOK, BS_DEFPUSHBUTTON, "调试"),
          Ctl(IDC_MODULE_PATH, "Edit", ES_AUTOHSCROLL | WS_DISABLED),
          {IDC_PROJECT_PATH, "Edit", ES_AUTOHSCROLL | WS_DISABLED, ES_AUTOHSCROLL, nullptr},
          Button(IDC_BROWSE, BS_PUSHBUTTON, "浏览...")},
         {{"模块路径:", IDC_MODULE_PATH}, {"方案路径:", IDC_PROJECT_PATH}},
         {}},
        {IDD_THREADS,
         "线程",
         168,
         89,
         true,
         {Ctl(IDC_THREAD_HEADER, "Edit", header),
          Ctl(IDC_THREAD_LIST, "ListBox", listBox | LBS_NOSEL)},
         {},
         {}},
        {IDD_TERMINATE,
         "中止",
         187,
         93,
         false,
         {Button(IDOK, BS_DEFPUSHBUTTON, "中止"), Button(IDCANCEL, BS_PUSHBUTTON, "取消"),
          Button(4 /* notify */, BS_PUSHBUTTON, "通知"), Ctl(IDC_TERMINATE_NAME, "Static", 0)},
         {},
         {"警告: 结束进程可能造成不可预料的后果,\n\r包括丢失数据或造成系统的不稳定.\n\r"
          "在进程被终止之前它不会\n\r保存目前的工作状态.\n\r\n\r你是否确定要结束如下进程?"}},
        {IDD_MEMORY,
         "内存",
         448,
         158,
         true,
         {Ctl(IDC_MEMORY_HEADER, "Edit", header),
          Ctl(IDC_MEMORY_LIST, "ListBox", listBox),
          {IDC_MEMORY_TOTAL, "Static", SS_TYPEMASK, SS_CENTER, "总计"}},
         {},
         {}},
        {IDD_PRIORITY,
         "优先权",
         130,
         63,
         false,
         {Ctl(IDC_PRIORITY_COMBO, "ComboBox", CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL), ok,
          cancel},
         {{"选择进程新的优先权:", IDC_PRIORITY_COMBO}},
         {}},
        {IDD_ABOUT,
         "关于",
         156,
         98,
         false,
         {},
         {},
         {"Tolvane v" TOLVANE_VERSION_TEXT TOLVANE_EDITION_TEXT}},
        {IDD_HEAPS,
         "堆",
         238,
         106,
         false,
         {Ctl(IDC_HEAP_HEADER, "Edit", ES_READONLY), Ctl(IDC_HEAP_LIST, "ListBox", listBox)},
         {},
         {}},
        {IDD_HEAP_BLOCKS,
         "堆块",
         147,
         119,
         false,
         {Ctl(IDC_HEAP_BLOCK_HEADER, "Edit", ES_READONLY),
          Ctl(IDC_HEAP_BLOCK_LIST, "ListBox",
              LBS_SORT | LBS_USETABSTOPS | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT)},
         {},
         {}},
        {IDD_REFRESH_TIMES,
         "刷新",
         119,
         108,
         false,
         {Ctl(IDC_REFRESH_MAIN, "Edit", ES_NUMBER), Ctl(IDC_REFRESH_THREADS, "Edit", ES_NUMBER),
          Ctl(IDC_REFRESH_MODULES, "Edit", ES_NUMBER), Ctl(IDC_REFRESH_MEMORY, "Edit", ES_NUMBER),
          ok, cancel},
         {{"主窗口:", IDC_REFRESH_MAIN},
          {"线程窗口:", IDC_REFRESH_THREADS},
          {"模块窗口:", IDC_REFRESH_MODULES},
          {"内存窗口:", IDC_REFRESH_MEMORY}},
         {"时间(单位:秒)"}},
        {IDD_VERSION,
         "版本",
         245,
         170,
         false,
         {Ctl(0, "Edit", ES_READONLY), Ctl(IDC_VER_FILE_VERSION, "Edit", value),
          Ctl(IDC_VER_CREATED, "Edit", value), Ctl(IDC_VER_MODIFIED, "Edit", value),
          Ctl(IDC_VER_COMPANY, "Edit", value), Ctl(IDC_VER_INTERNAL_NAME, "Edit", value),
          Ctl(IDC_VER_LANGUAGE, "Edit", value), Ctl(IDC_VER_ORIGINAL_NAME, "Edit", value),
          Ctl(IDC_VER_PRODUCT_VERSION, "Edit", value), Ctl(IDC_VER_DESCRIPTION, "Edit", value),
          Ctl(IDC_VER_PRODUCT_NAME, "Edit", ES_READONLY)},
         {{"文件版本:", IDC_VER_FILE_VERSION},
          {"创建时间:", IDC_VER_CREATED},
          {"修改时间:", IDC_VER_MODIFIED},
          {"公司名:", IDC_VER_COMPANY},
          {"内部名称:", IDC_VER_INTERNAL_NAME},
          {"语言:", IDC_VER_LANGUAGE},
          {"原文件名:", IDC_VER_ORIGINAL_NAME},
          {"产品版本:", IDC_VER_PRODUCT_VERSION},
          {"描述:", IDC_VER_DESCRIPTION},
          {"产品名称:", IDC_VER_PRODUCT_NAME}},
         {"版本信息"}},
        {IDD_PROCESS_TREE,
         "进程树",
         225,
         206,
         true,
         {Ctl(IDC_TREE, "SysTreeView32", tree)},
         {},
         {}},
        {IDD_APPLICATIONS, "应用程序", 198, 118, true, {}, {}, {}},
        {IDD_STARTUP_INFO,
         "启动信息",
         404,
         185,
         true,
         {Ctl(IDC_STARTUP_DIRECTORY, "Edit", ES_READONLY),
          Ctl(IDC_STARTUP_COMMAND_LINE, "Edit", ES_READONLY),
          Ctl(IDC_STARTUP_ENVIRONMENT, "ListBox",
              LBS_SORT | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_HSCROLL)},
         {{"启动目录", IDC_STARTUP_DIRECTORY},
          {"命令行", IDC_STARTUP_COMMAND_LINE},
          {"环境", IDC_STARTUP_ENVIRONMENT}},
         {}},
        {IDD_MODULES,
         "模块",
         432,
         134,
         true,
         {{IDC_MODULE_LIST, "SysListView32", LVS_TYPEMASK | LVS_SINGLESEL,
           LVS_REPORT | LVS_SINGLESEL, nullptr}},
         {},
         {}},
        {IDD_AFFINITY,
         "亲和",
         143,
         66,
         false,
         {Button(IDC_AFFINITY_ALL, BS_AUTOCHECKBOX, nullptr),
          Button(1065, BS_AUTOCHECKBOX, nullptr), Button(1066, BS_AUTOCHECKBOX, nullptr),
          Button(1067, BS_AUTOCHECKBOX, nullptr), Button(1068, BS_AUTOCHECKBOX, nullptr),
          Button(1069, BS_AUTOCHECKBOX, nullptr), Button(1070, BS_AUTOCHECKBOX, nullptr),
          Button(1071, BS_AUTOCHECKBOX, nullptr), Button(1072, BS_AUTOCHECKBOX, nullptr), ok,
          cancel},
         {{"全部", IDC_AFFINITY_ALL},
          {"8", 1072},
          {"7", 1071},
          {"6", 1070},
          {"5", 1069},
          {"4", 1068},
          {"3", 1067},
          {"2", 1066},
          {"1", 1065}},
         {"为此进程选择处理器"}},
        {IDD_MODULE_USAGE,
         "模块使用 -- 每个模块被几个进程使用",
         432,
         134,
         true,
         {{IDC_USAGE_LIST, "SysListView32", LVS_TYPEMASK | LVS_SINGLESEL,
           LVS_REPORT | LVS_SINGLESEL, nullptr}},
         {},
         {}},
    };
    return dialogs;
}

// A dialog template as stored (DLGTEMPLATE or DLGTEMPLATEEX).
struct TemplateItem {
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::wstring cls;  // name, or "#n" for an ordinal
    std::wstring text; // text, or "#n" for an ordinal (icon controls)
};

struct Template {
    bool ok = false;
    bool extended = false;
    DWORD style = 0;
    short cx = 0, cy = 0;
    std::wstring menu, cls, title, face;
    WORD pointSize = 0;
    std::vector<TemplateItem> items;
};

class TemplateReader {
  public:
    TemplateReader(const BYTE* data, size_t size) : data_(data), size_(size) {}
    bool ok() const {
        return ok_;
    }
    WORD Word() {
        WORD value = 0;
        Read(&value, sizeof value);
        return value;
    }
    DWORD Dword() {
        DWORD value = 0;
        Read(&value, sizeof value);
        return value;
    }
    BYTE Byte() {
        BYTE value = 0;
        Read(&value, sizeof value);
        return value;
    }
    std::wstring String() {
        std::wstring text;
        for (WORD ch = Word(); ok_ && ch != 0; ch = Word()) {
            text += static_cast<wchar_t>(ch);
        }
        return text;
    }
    std::wstring StringOrOrdinal() {
        WORD first = Word();
        if (first == 0xFFFF) {
            return L"#" + std::to_wstring(Word());
        }
        if (first == 0) {
            return std::wstring();
        }
        return static_cast<wchar_t>(first) + String();
    }
    void AlignDword() {
        offset_ = (offset_ + 3) & ~static_cast<size_t>(3);
    }
    void Skip(size_t bytes) {
        offset_ += bytes;
    }

  private:
    void Read(void* out, size_t bytes) {
        if (offset_ + bytes > size_) {
            ok_ = false;
            return;
        }
        memcpy(out, data_ + offset_, bytes);
        offset_ += bytes;
    }
    const BYTE* data_;
    size_t size_;
    size_t offset_ = 0;
    bool ok_ = true;
};

std::wstring ClassFromOrdinal(const std::wstring& cls) {
    static const wchar_t* const names[] = {L"Button",  L"Edit",      L"Static",
                                           L"ListBox", L"ScrollBar", L"ComboBox"};
    for (int i = 0; i < 6; ++i) {
        if (cls == L"#" + std::to_wstring(0x80 + i)) {
            return names[i];
        }
    }
    return cls;
}

Template ParseTemplate(const Resource& res) {
    Template dlg;
    TemplateReader in(res.data, res.size);
    WORD version = in.Word();
    WORD signature = in.Word();
    dlg.extended = version == 1 && signature == 0xFFFF;
    WORD count = 0;
    if (dlg.extended) {
        in.Dword(); // help id
        in.Dword(); // extended style
        dlg.style = in.Dword();
    } else {
        dlg.style = MAKELONG(version, signature);
        in.Dword(); // extended style
    }
    count = in.Word();
    in.Word(); // x
    in.Word(); // y
    dlg.cx = static_cast<short>(in.Word());
    dlg.cy = static_cast<short>(in.Word());
    dlg.menu = in.StringOrOrdinal();
    dlg.cls = in.StringOrOrdinal();
    dlg.title = in.String();
    if (dlg.style & DS_SETFONT) {
        dlg.pointSize = in.Word();
        if (dlg.extended) {
            in.Word(); // weight
            in.Byte(); // italic
            in.Byte(); // character set
        }
        dlg.face = in.String();
    }
    for (WORD i = 0; i < count && in.ok(); ++i) {
        TemplateItem item;
        in.AlignDword();
        if (dlg.extended) {
            in.Dword(); // help id
            in.Dword(); // extended style
            item.style = in.Dword();
        } else {
            item.style = in.Dword();
            in.Dword(); // extended style
        }
        item.x = static_cast<short>(in.Word());
        item.y = static_cast<short>(in.Word());
        item.cx = static_cast<short>(in.Word());
        item.cy = static_cast<short>(in.Word());
        item.id = dlg.extended ? static_cast<int>(in.Dword()) : static_cast<short>(in.Word());
        item.cls = ClassFromOrdinal(in.StringOrOrdinal());
        item.text = in.StringOrOrdinal();
        WORD extra = in.Word();
        in.Skip(extra);
        dlg.items.push_back(item);
    }
    dlg.ok = in.ok() && dlg.items.size() == count;
    return dlg;
}

TEST_F(ResourcesTest, DialogTemplatesDeclareClassFontSizeTitleAndControls) {
    for (const DialogLayout& layout : Dialogs()) {
        SCOPED_TRACE("dialog " + std::to_string(layout.id));
        Resource res = FindRes(Product(), MAKEINTRESOURCEA(layout.id), RT_DIALOG);
        ASSERT_NE(res.data, nullptr);
        Template dlg = ParseTemplate(res);
        ASSERT_TRUE(dlg.ok);

        EXPECT_EQ(dlg.cls, L"TOLVANE95DLG");
        EXPECT_TRUE(dlg.menu.empty());
        EXPECT_TRUE(dlg.style & DS_SETFONT);
        EXPECT_EQ(dlg.face, Wide("宋体"));
        EXPECT_EQ(dlg.pointSize, 9);
        EXPECT_EQ(dlg.cx, layout.cx);
        EXPECT_EQ(dlg.cy, layout.cy);
        EXPECT_EQ(dlg.title, Wide(layout.title));
        EXPECT_EQ((dlg.style & (WS_POPUP | WS_CAPTION | WS_SYSMENU)),
                  static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU));
        EXPECT_EQ((dlg.style & WS_THICKFRAME) != 0, layout.resizable);

        for (const ControlLayout& control : layout.controls) {
            SCOPED_TRACE("control " + std::to_string(control.id));
            int found = 0;
            for (const TemplateItem& item : dlg.items) {
                if (item.id != control.id) {
                    continue;
                }
                ++found;
                EXPECT_EQ(_wcsicmp(item.cls.c_str(), Wide(control.cls).c_str()), 0);
                EXPECT_EQ(item.style & control.mask, control.value);
                if (control.text != nullptr) {
                    EXPECT_EQ(item.text, Wide(control.text));
                }
            }
            EXPECT_EQ(found, 1);
        }
        std::vector<const char*> texts = layout.texts;
        for (const LabelLayout& label : layout.labels) {
            texts.push_back(label.text);
        }
        for (const char* text : texts) {
            bool found = false;
            for (const TemplateItem& item : dlg.items) {
                found = found || item.text == Wide(text);
            }
            EXPECT_TRUE(found) << "no control shows " << text;
        }
    }
}

TEST_F(ResourcesTest, ApplicationsDialogHasNoControls) {
    Template dlg = ParseTemplate(FindRes(Product(), MAKEINTRESOURCEA(IDD_APPLICATIONS), RT_DIALOG));
    ASSERT_TRUE(dlg.ok);
    EXPECT_TRUE(dlg.items.empty());
}

// The tests create dialogs from their own copy of the resources (the test
// executable links the same script); this proves the copies are the same.
TEST_F(ResourcesTest, TestExecutableCarriesTheSameTemplates) {
    for (const DialogLayout& layout : Dialogs()) {
        SCOPED_TRACE("dialog " + std::to_string(layout.id));
        Resource product = FindRes(Product(), MAKEINTRESOURCEA(layout.id), RT_DIALOG);
        Resource own = FindRes(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(layout.id), RT_DIALOG);
        ASSERT_NE(product.data, nullptr);
        ASSERT_NE(own.data, nullptr);
        ASSERT_EQ(product.size, own.size);
        EXPECT_EQ(memcmp(product.data, own.data, own.size), 0);
    }
}

// ---------------------------------------------------------------------------
// Dialogs created for real

INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

// The program's dialog class: a copy of the system dialog class under the
// name the templates use.
bool RegisterDialogClass() {
    static bool registered = [] {
        INITCOMMONCONTROLSEX controls = {sizeof controls,
                                         ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        WNDCLASSA wc = {};
        if (!GetClassInfoA(nullptr, reinterpret_cast<LPCSTR>(0x8002), &wc)) {
            return false;
        }
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "TOLVANE95DLG";
        return RegisterClassA(&wc) != 0;
    }();
    return registered;
}

class LiveDialog {
  public:
    explicit LiveDialog(int id) {
        if (RegisterDialogClass()) {
            hwnd_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr,
                                       QuietDialogProc, 0);
        }
    }
    ~LiveDialog() {
        if (hwnd_ != nullptr) {
            DestroyWindow(hwnd_);
        }
    }
    LiveDialog(const LiveDialog&) = delete;
    LiveDialog& operator=(const LiveDialog&) = delete;
    HWND hwnd() const {
        return hwnd_;
    }
    std::vector<HWND> Children() const {
        std::vector<HWND> children;
        for (HWND child = GetWindow(hwnd_, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            children.push_back(child);
        }
        return children;
    }
    // A child's rectangle in the dialog's client coordinates.
    RECT RectOf(HWND child) const {
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    }
    HWND Labelled(const char* utf8) const {
        for (HWND child : Children()) {
            if (SameName(ClassOf(child), "Static") && WindowText(child) == Ansi(utf8)) {
                return child;
            }
        }
        return nullptr;
    }

  private:
    HWND hwnd_ = nullptr;
};

bool IsGroupBox(HWND child) {
    return SameName(ClassOf(child), "Button") &&
           (GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
}

bool IsEmpty(const RECT& rect) {
    return rect.right <= rect.left || rect.bottom <= rect.top;
}

std::string Describe(HWND child) {
    return ClassOf(child) + " " + std::to_string(GetDlgCtrlID(child)) + " \"" + WindowText(child) +
           "\"";
}

TEST_F(ResourcesTest, DialogsCreateWithTheProgramClassAndTheirControls) {
    for (const DialogLayout& layout : Dialogs()) {
        SCOPED_TRACE("dialog " + std::to_string(layout.id));
        LiveDialog dlg(layout.id);
        ASSERT_NE(dlg.hwnd(), nullptr);
        EXPECT_EQ(ClassOf(dlg.hwnd()), "TOLVANE95DLG");
        EXPECT_EQ(WindowText(dlg.hwnd()), Ansi(layout.title));
        for (const ControlLayout& control : layout.controls) {
            SCOPED_TRACE("control " + std::to_string(control.id));
            HWND child = GetDlgItem(dlg.hwnd(), control.id);
            ASSERT_NE(child, nullptr);
            EXPECT_TRUE(SameName(ClassOf(child), control.cls)) << ClassOf(child);
            // Live windows drop the scroll-bar bits while there is nothing to
            // scroll, and the dialog manager moves the default-button style
            // with the focus; the template test checks both as stored.
            DWORD mask = control.mask & ~static_cast<DWORD>(WS_VSCROLL | WS_HSCROLL);
            DWORD value = control.value & mask;
            if (SameName(control.cls, "Button") && control.value == BS_DEFPUSHBUTTON) {
                mask &= ~static_cast<DWORD>(BS_DEFPUSHBUTTON);
                value = BS_PUSHBUTTON;
            }
            EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE)) & mask, value);
            if (control.text != nullptr) {
                EXPECT_EQ(WindowText(child), Ansi(control.text));
            }
        }
        for (const LabelLayout& label : layout.labels) {
            EXPECT_NE(dlg.Labelled(label.text), nullptr) << label.text;
        }
    }
}

// Every control lies inside the client area, no two overlap (group boxes
// excepted, which must hold whatever they touch whole), and every label sits
// left of its control on the same row or just above it.
TEST_F(ResourcesTest, DialogLayoutsKeepControlsApartAndLabelsBesideTheirControls) {
    for (const DialogLayout& layout : Dialogs()) {
        SCOPED_TRACE("dialog " + std::to_string(layout.id));
        LiveDialog dlg(layout.id);
        ASSERT_NE(dlg.hwnd(), nullptr);
        RECT client;
        GetClientRect(dlg.hwnd(), &client);
        std::vector<HWND> children = dlg.Children();
        for (size_t i = 0; i < children.size(); ++i) {
            RECT a = dlg.RectOf(children[i]);
            if (IsEmpty(a)) {
                continue;
            }
            EXPECT_TRUE(a.left >= 0 && a.top >= 0 && a.right <= client.right &&
                        a.bottom <= client.bottom)
                << Describe(children[i]) << " leaves the client area";
            for (size_t j = i + 1; j < children.size(); ++j) {
                RECT b = dlg.RectOf(children[j]);
                RECT overlap;
                if (IsEmpty(b) || !IntersectRect(&overlap, &a, &b)) {
                    continue;
                }
                if (IsGroupBox(children[i]) || IsGroupBox(children[j])) {
                    const RECT& group = IsGroupBox(children[i]) ? a : b;
                    const RECT& inner = IsGroupBox(children[i]) ? b : a;
                    EXPECT_TRUE(inner.left > group.left && inner.right < group.right &&
                                inner.top > group.top && inner.bottom < group.bottom)
                        << Describe(children[j]) << " crosses the frame of "
                        << Describe(children[i]);
                } else {
                    ADD_FAILURE() << Describe(children[i]) << " overlaps " << Describe(children[j]);
                }
            }
        }
        for (const LabelLayout& label : layout.labels) {
            SCOPED_TRACE(label.text);
            HWND labelWindow = dlg.Labelled(label.text);
            HWND control = GetDlgItem(dlg.hwnd(), label.control);
            ASSERT_NE(labelWindow, nullptr);
            ASSERT_NE(control, nullptr);
            RECT l = dlg.RectOf(labelWindow);
            RECT c = dlg.RectOf(control);
            // Beside a taller control the label lines up with its first line.
            bool leftOf = l.right <= c.left && c.left - l.right <= 20 &&
                          (abs((l.top + l.bottom) / 2 - (c.top + c.bottom) / 2) <= 4 ||
                           abs(l.top - c.top) <= 4);
            bool above = l.bottom <= c.top && c.top - l.bottom <= 12 &&
                         (abs(l.left - c.left) <= 2 ||
                          abs((l.left + l.right) / 2 - (c.left + c.right) / 2) <= 2);
            EXPECT_TRUE(leftOf || above)
                << "label at " << l.left << "," << l.top << "-" << l.right << "," << l.bottom
                << ", control at " << c.left << "," << c.top << "-" << c.right << "," << c.bottom;
        }
    }
}

// Texts measured with the dialog's own font fit their controls: nothing is
// clipped or wrapped out of sight.
TEST_F(ResourcesTest, DialogTextsFitTheirControls) {
    HDC dc = GetDC(nullptr);
    for (const DialogLayout& layout : Dialogs()) {
        SCOPED_TRACE("dialog " + std::to_string(layout.id));
        LiveDialog dlg(layout.id);
        ASSERT_NE(dlg.hwnd(), nullptr);
        for (HWND child : dlg.Children()) {
            std::string text = WindowText(child);
            if (text.empty()) {
                continue;
            }
            RECT rect;
            GetClientRect(child, &rect);
            HGDIOBJ old =
                SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(child, WM_GETFONT, 0, 0)));
            DWORD style = GetWindowLongA(child, GWL_STYLE);
            std::string cls = ClassOf(child);
            if (SameName(cls, "Static") && (style & SS_TYPEMASK) <= SS_RIGHT) {
                RECT need = {0, 0, rect.right, 0};
                UINT flags = DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS;
                if (style & SS_NOPREFIX) {
                    flags |= DT_NOPREFIX;
                }
                DrawTextA(dc, text.c_str(), -1, &need, flags);
                EXPECT_LE(need.right, rect.right) << Describe(child);
                EXPECT_LE(need.bottom, rect.bottom) << Describe(child);
            } else if (SameName(cls, "Button")) {
                RECT need = {0, 0, 0, 0};
                DrawTextA(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_SINGLELINE);
                int margin = IsGroupBox(child) ? 16 : 8;
                EXPECT_LE(need.right + margin, rect.right) << Describe(child);
                EXPECT_LE(need.bottom, rect.bottom) << Describe(child);
            }
            SelectObject(dc, old);
        }
    }
    ReleaseDC(nullptr, dc);
}

// Enter presses the button with id 1 wherever a dialog has one; in the
// terminate dialog both 1 and 4 carry the default style and 1 must win.
TEST_F(ResourcesTest, EnterPressesButtonOne) {
    for (const DialogLayout& layout : Dialogs()) {
        LiveDialog dlg(layout.id);
        ASSERT_NE(dlg.hwnd(), nullptr);
        if (GetDlgItem(dlg.hwnd(), IDOK) == nullptr) {
            continue;
        }
        LRESULT defId = SendMessageA(dlg.hwnd(), DM_GETDEFID, 0, 0);
        EXPECT_EQ(HIWORD(defId), DC_HASDEFID) << "dialog " << layout.id;
        EXPECT_EQ(LOWORD(defId), IDOK) << "dialog " << layout.id;
    }
}

TEST_F(ResourcesTest, AffinityBoxesRunFromAllThenProcessorEightToOne) {
    LiveDialog dlg(IDD_AFFINITY);
    ASSERT_NE(dlg.hwnd(), nullptr);
    const int order[] = {IDC_AFFINITY_ALL, 1072, 1071, 1070, 1069, 1068, 1067, 1066, 1065};
    int previousRight = -1;
    HWND previous = nullptr;
    for (int id : order) {
        SCOPED_TRACE("box " + std::to_string(id));
        HWND box = GetDlgItem(dlg.hwnd(), id);
        ASSERT_NE(box, nullptr);
        RECT rect = dlg.RectOf(box);
        EXPECT_GE(rect.left, previousRight);
        previousRight = rect.right;
        if (previous != nullptr) {
            EXPECT_EQ(GetNextDlgTabItem(dlg.hwnd(), previous, FALSE), box) << "tab order";
            EXPECT_EQ(dlg.RectOf(previous).top, rect.top) << "one row";
        }
        previous = box;
    }
    EXPECT_EQ(dlg.RectOf(GetDlgItem(dlg.hwnd(), IDC_AFFINITY_CPU1)).right,
              previousRight); // processor 1 is the rightmost
}

TEST_F(ResourcesTest, VersionDialogFocusesItsEmptyEditFirst) {
    LiveDialog dlg(IDD_VERSION);
    ASSERT_NE(dlg.hwnd(), nullptr);
    HWND first = GetNextDlgTabItem(dlg.hwnd(), nullptr, FALSE);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetDlgCtrlID(first), 0);
    EXPECT_TRUE(SameName(ClassOf(first), "Edit"));
    EXPECT_TRUE(IsEmpty(dlg.RectOf(first)));
    EXPECT_EQ(GetWindowLongA(first, GWL_STYLE) & ES_READONLY, ES_READONLY);
}

std::string VersionValue(const std::vector<BYTE>& block, const std::string& path) {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), path.c_str(), &value, &length) || value == nullptr) {
        return "<missing>";
    }
    std::string text(static_cast<const char*>(value), length);
    return text.substr(0, text.find('\0'));
}

std::vector<BYTE> ProductVersionBlock() {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(ProductPath().c_str(), &handle);
    std::vector<BYTE> block(size);
    if (size == 0 || !GetFileVersionInfoA(ProductPath().c_str(), 0, size, block.data())) {
        block.clear();
    }
    return block;
}

TEST_F(ResourcesTest, AboutBoxShowsTheIconAndCentredLinesStartingWithTheVersion) {
    std::vector<BYTE> version = ProductVersionBlock();
    ASSERT_FALSE(version.empty());
    LiveDialog dlg(IDD_ABOUT);
    ASSERT_NE(dlg.hwnd(), nullptr);

    HWND icon = nullptr;
    std::vector<std::pair<LONG, std::string>> lines; // by vertical position
    for (HWND child : dlg.Children()) {
        if (!SameName(ClassOf(child), "Static")) {
            continue;
        }
        DWORD type = GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK;
        if (type == SS_ICON) {
            icon = child;
        } else {
            EXPECT_EQ(type, static_cast<DWORD>(SS_CENTER)) << Describe(child);
            lines.emplace_back(dlg.RectOf(child).top, WindowText(child));
        }
    }
    ASSERT_NE(icon, nullptr);
    EXPECT_NE(SendMessageA(icon, STM_GETICON, 0, 0), 0);
    std::sort(lines.begin(), lines.end());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_LE(lines.size(), 4u);
    EXPECT_EQ(lines[0].second,
              "Tolvane v" + VersionValue(version, "\\StringFileInfo\\080403a8\\ProductVersion") +
                  Ansi(TOLVANE_EDITION_TEXT));
    EXPECT_LT(dlg.RectOf(icon).bottom, dlg.RectOf(GetDlgItem(dlg.hwnd(), IDOK)).top);
}

// ---------------------------------------------------------------------------
// Artwork and version record

TEST_F(ResourcesTest, IconsAndCursorsLoad) {
    for (int id : {IDI_TOLVANE, IDI_FALLBACK_WINDOW}) {
        SCOPED_TRACE("icon " + std::to_string(id));
        HICON icon = LoadIconA(Product(), MAKEINTRESOURCEA(id));
        EXPECT_NE(icon, nullptr);
        // The group holds drawn images for both sizes (16 for the tray and
        // the caption, 32 for the About box), so neither is a scaled copy.
        Resource group = FindRes(Product(), MAKEINTRESOURCEA(id), RT_GROUP_ICON);
        ASSERT_NE(group.data, nullptr);
        ASSERT_GE(group.size, 6u);
        WORD count = 0;
        memcpy(&count, group.data + 4, sizeof count);
        std::set<int> sizes;
        for (WORD i = 0; i < count && 6u + 14u * (i + 1u) <= group.size; ++i) {
            const BYTE* entry = group.data + 6 + 14 * i;
            if (entry[0] == entry[1]) {
                sizes.insert(entry[0] == 0 ? 256 : entry[0]);
            }
        }
        EXPECT_EQ(sizes.count(16), 1u);
        EXPECT_EQ(sizes.count(32), 1u);
        // The program loads its icons at the small size as well.
        int small = GetSystemMetrics(SM_CXSMICON);
        HANDLE smallIcon = LoadImageA(Product(), MAKEINTRESOURCEA(id), IMAGE_ICON, small, small, 0);
        EXPECT_NE(smallIcon, nullptr);
        if (smallIcon != nullptr) {
            DestroyIcon(static_cast<HICON>(smallIcon));
        }
    }
    for (int id : {IDC_FINDER_WAIT, IDC_FINDER}) {
        EXPECT_NE(LoadCursorA(Product(), MAKEINTRESOURCEA(id)), nullptr) << "cursor " << id;
    }
}

TEST_F(ResourcesTest, BitmapsHaveTheirStripAndImageSizes) {
    struct Expected {
        int id;
        LONG width, height;
    };
    for (const Expected& expected : {Expected{IDB_TOOLBAR, 224, 15}, Expected{IDB_SORT_UP, 16, 16},
                                     Expected{IDB_SORT_DOWN, 16, 16}}) {
        SCOPED_TRACE("bitmap " + std::to_string(expected.id));
        HBITMAP bitmap = static_cast<HBITMAP>(
            LoadImageA(Product(), MAKEINTRESOURCEA(expected.id), IMAGE_BITMAP, 0, 0, 0));
        ASSERT_NE(bitmap, nullptr);
        BITMAP info = {};
        GetObjectA(bitmap, sizeof info, &info);
        EXPECT_EQ(info.bmWidth, expected.width);
        EXPECT_EQ(info.bmHeight, expected.height);
        DeleteObject(bitmap);
    }
}

TEST_F(ResourcesTest, VersionRecordNamesTheProduct) {
    std::vector<BYTE> block = ProductVersionBlock();
    ASSERT_FALSE(block.empty());

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    // Both numbers are the project's version, the one a release is named by.
    const DWORD high = MAKELONG(TOLVANE_VERSION_MINOR, TOLVANE_VERSION_MAJOR);
    const DWORD low = MAKELONG(0, TOLVANE_VERSION_PATCH);
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0804);
    EXPECT_EQ(translation[1], 936);

    const char* const values[][2] = {
        {"ProductName", "Tolvane"},
        {"InternalName", "Tolvane"},
        {"CompanyName", "Tolvane"},
        {"Comments", "Tolvane"},
        {"FileDescription", "Tolvane 应用程序" TOLVANE_EDITION_TEXT},
        {"OriginalFilename", TOLVANE_FILE_NAME},
        {"FileVersion", TOLVANE_VERSION_TEXT},
        {"ProductVersion", TOLVANE_VERSION_TEXT},
    };
    for (const auto& value : values) {
        EXPECT_EQ(VersionValue(block, std::string("\\StringFileInfo\\080403a8\\") + value[0]),
                  Ansi(value[1]))
            << value[0];
    }
}

// ---------------------------------------------------------------------------
// Inventory: exactly the listed resources, all in one language block.

struct Inventory {
    std::set<std::string> names; // "type/name", numbers as "#n"
    std::set<WORD> languages;
};

std::string ResourceName(LPCSTR name) {
    return IS_INTRESOURCE(name) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(name))
                                : std::string(name);
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<Inventory*>(param)->languages.insert(language);
    return TRUE;
}

BOOL CALLBACK CollectName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param) {
    Inventory* inventory = reinterpret_cast<Inventory*>(param);
    inventory->names.insert(ResourceName(type) + "/" + ResourceName(name));
    EnumResourceLanguagesA(module, type, name, CollectLanguage, param);
    return TRUE;
}

BOOL CALLBACK CollectType(HMODULE module, LPSTR type, LONG_PTR param) {
    if (type != RT_MANIFEST) { // the toolchain's own, not the program's
        EnumResourceNamesA(module, type, CollectName, param);
    }
    return TRUE;
}

TEST_F(ResourcesTest, ExecutableCarriesExactlyTheListedResourcesInOneLanguage) {
    Inventory inventory;
    EnumResourceTypesA(Product(), CollectType, reinterpret_cast<LONG_PTR>(&inventory));

    std::set<std::string> expected = {"#14/#101", "#14/#120",   "#12/#104", "#12/#118",
                                      "#2/#108",  "#2/#123",    "#2/#124",  "#4/#138",
                                      "#4/#139",  "#9/TOLVANE", "#16/#1"};
    for (const DialogLayout& layout : Dialogs()) {
        expected.insert("#5/#" + std::to_string(layout.id));
    }
    std::set<std::string> actual;
    for (const std::string& name : inventory.names) {
        // Single icon and cursor images and string blocks are numbered by
        // the resource compiler; they are checked through their users.
        if (name.rfind("#1/", 0) != 0 && name.rfind("#3/", 0) != 0 && name.rfind("#6/", 0) != 0) {
            actual.insert(name);
        }
    }
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(inventory.languages, std::set<WORD>{MAKELANGID(LANG_CHINESE, SUBLANG_NEUTRAL)});
}

} // namespace
