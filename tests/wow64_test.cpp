// A 64-bit process seen from this 32-bit program: its loader list and its
// parameter block read through the native calls of the system's 32-bit
// layer, which the test plays through the ntApi table with crafted 64-bit
// memory (hostile lengths, cycles and addresses among it); the memory-map
// route over a real process; the modules window's note.
#include "app/mainwnd.h"
#include "details/modules.h"
#include "listfixture.h"
#include "res/resource.h"
#include "sysinfo/backend.h"
#include "sysinfo/ntbackend.h"
#include "sysinfo/startinfo.h"
#include "sysinfo/wow64.h"
#include "testutil.h"

#include <commctrl.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

// The crafted memory of the 64-bit process: a read succeeds only within
// one of these regions.
struct Region64 {
    ULONGLONG address;
    std::vector<BYTE> bytes;
};
std::vector<Region64> memory64;
ULONGLONG peb64;
int reads64;

void Put(ULONGLONG address, const void* data, size_t size) {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    memory64.push_back({address, std::vector<BYTE>(bytes, bytes + size)});
}

void PutWide(ULONGLONG address, const std::wstring& text) {
    Put(address, text.data(), text.size() * sizeof(WCHAR));
}

LONG WINAPI FakeQuery64(HANDLE, ULONG infoClass, void* buffer, ULONG size, ULONG*) {
    if (infoClass != 0 || size < 48) {
        return static_cast<LONG>(0xC0000004);
    }
    memset(buffer, 0, size);
    static_cast<ULONGLONG*>(buffer)[1] = peb64;
    return 0;
}

LONG WINAPI FakeRead64(HANDLE, ULONGLONG address, void* buffer, ULONGLONG size, ULONGLONG* read) {
    reads64++;
    *read = 0;
    for (const Region64& region : memory64) {
        if (address >= region.address && size <= region.bytes.size() &&
            address - region.address <= region.bytes.size() - size) {
            memcpy(buffer, region.bytes.data() + (address - region.address), size);
            *read = size;
            return 0;
        }
    }
    return static_cast<LONG>(0x8000000D); // partial copy
}

// This program runs in the 32-bit layer; every other process is 64-bit.
BOOL WINAPI FakeIsWow64(HANDLE process, BOOL* wow64) {
    *wow64 = process == GetCurrentProcess();
    return TRUE;
}

RemoteString64 Counted(WORD length, ULONGLONG buffer) {
    RemoteString64 string = {length, length, 0, buffer};
    return string;
}

// The public 64-bit layout of a loader entry, as far as the base name.
struct Entry64 {
    ULONGLONG links[6];
    ULONGLONG dllBase;
    ULONGLONG entryPoint;
    DWORD sizeOfImage;
    DWORD padding;
    RemoteString64 fullName;
    RemoteString64 baseName;
};

const ULONGLONG PEB = 0x7FF7F000ULL;
const ULONGLONG LDR = 0x7FF7E000ULL;
const ULONGLONG HEAD = LDR + 0x10;
const ULONGLONG ENTRIES = 0x200000000ULL; // entry i at ENTRIES + i * 0x1000

ULONGLONG EntryAt(int i) {
    return ENTRIES + static_cast<ULONGLONG>(i) * 0x1000;
}

// One loader entry with its two names laid out after it; `next` is the
// address of the next entry's links (HEAD closes the list).
void PutEntry(int i, ULONGLONG base, DWORD size, const std::wstring& path, const std::wstring& name,
              ULONGLONG next) {
    ULONGLONG at = EntryAt(i);
    Entry64 entry = {};
    entry.links[0] = next;
    entry.dllBase = base;
    entry.sizeOfImage = size;
    entry.fullName = Counted(static_cast<WORD>(path.size() * 2), at + 0x100);
    entry.baseName = Counted(static_cast<WORD>(name.size() * 2), at + 0x800);
    Put(at, &entry, sizeof entry);
    PutWide(at + 0x100, path);
    PutWide(at + 0x800, name);
}

// A fresh memory holding only a PEB, with one pointer set in it.
void PutPeb(size_t offset, ULONGLONG value) {
    memory64.clear();
    peb64 = PEB;
    BYTE peb[0x30] = {};
    memcpy(peb + offset, &value, sizeof value);
    Put(PEB, peb, sizeof peb);
}

// A PEB, its loader data and a list of the given entries, closed at HEAD.
void PutProcess(int entries) {
    PutPeb(0x18, LDR);
    BYTE data[0x30] = {};
    ULONGLONG first = entries ? EntryAt(0) : HEAD;
    memcpy(data + 0x10, &first, sizeof first);
    Put(LDR, data, sizeof data);
    const wchar_t* names[] = {L"notepad.exe", L"ntdll.dll", L"kernel32.dll"};
    const ULONGLONG bases[] = {0x140000000ULL, 0x7FFA12340000ULL, 0x7B600000ULL};
    for (int i = 0; i < entries; i++) {
        std::wstring name = names[i % 3];
        PutEntry(i, bases[i % 3] + static_cast<ULONGLONG>(i / 3) * 0x100000, 0x10000 * (i + 1),
                 L"\\??\\C:\\windows\\system32\\" + name, name,
                 i + 1 < entries ? EntryAt(i + 1) : HEAD);
    }
}

// Rewrites part of an entry already laid out (its region is the first one
// that starts there).
template <typename T> void Patch(ULONGLONG address, size_t offset, const T& value) {
    for (Region64& region : memory64) {
        if (region.address == address) {
            memcpy(region.bytes.data() + offset, &value, sizeof value);
            return;
        }
    }
}

// Points entry i's links at `to`.
void Link(int i, ULONGLONG to) {
    Patch(EntryAt(i), 0, to);
}

// Gives the first entry a base name of this length and place.
void BaseName(WORD length, ULONGLONG at) {
    Patch(EntryAt(0), 0x58, Counted(length, at));
}

typedef std::tuple<std::string, ULONGLONG, DWORD, std::string> Module;

int Collect(ULONG_PTR value, HWND, const char* name, ULONGLONG base, DWORD size, const char* path) {
    reinterpret_cast<std::vector<Module>*>(value)->emplace_back(name, base, size, path);
    return 0;
}

std::vector<Module> ListOf(DWORD processId, int* result) {
    std::vector<Module> modules;
    *result = ListModulesNt(nullptr, processId, Collect, reinterpret_cast<ULONG_PTR>(&modules));
    return modules;
}

class Wow64Test : public ListFixture {
  protected:
    void SetUp() override {
        PrepareProgramClasses();
        // The list fixture saves the table again when a test creates its
        // main window, after the fakes went in: the real one is kept here.
        realNtApi = ntApi;
        ntApi.isWow64Process = FakeIsWow64;
        ntApi.ntWow64QueryInformationProcess64 = FakeQuery64;
        ntApi.ntWow64ReadVirtualMemory64 = FakeRead64;
    }
    void TearDown() override {
        EndChild(helper);
        if (mainWindow) {
            ListFixture::TearDown();
        }
        ntApi = realNtApi;
        memory64.clear();
    }
    NtApi realNtApi;
    Child helper = {};
};

TEST_F(Wow64Test, TheLoaderListIsWalkedWithinItsBounds) {
    static const ULONGLONG NOWHERE = 0xDEAD00000ULL;
    static const ULONGLONG NAME = ENTRIES + 0x800; // the first entry's base name
    // The names of the modules visited, in order.
    static const char* const ALL = "notepad.exe ntdll.dll kernel32.dll";
    struct Case {
        const char* what;
        int entries;
        void (*change)();
        std::string names;
    } cases[] = {
        {"a whole list", 3, [] {}, ALL},
        {"an empty list", 0, [] {}, ""},
        {"the last entry leads back to the second", 3, [] { Link(2, EntryAt(1)); }, ALL},
        {"an entry that leads to itself", 2, [] { Link(0, EntryAt(0)); }, "notepad.exe"},
        {"an entry that leads nowhere", 3, [] { Link(1, NOWHERE); }, "notepad.exe ntdll.dll"},
        {"an entry that leads to 0", 3, [] { Link(0, 0); }, "notepad.exe"},
        {"too long a base name: the path's end", 1, [] { BaseName(0xFFFE, NAME); }, "notepad.exe"},
        {"a base name at no readable address", 1, [] { BaseName(22, NOWHERE); }, "notepad.exe"},
        {"an odd length ends before its half character", 1, [] { BaseName(7, NAME); }, "not"},
        {"a name of 300 characters is cut to the visitor's 255", 1,
         [] {
             PutWide(NAME - 0x1000000, std::wstring(300, L'n'));
             BaseName(600, NAME - 0x1000000);
         },
         std::string(255, 'n')},
    };
    for (const Case& test : cases) {
        PutProcess(test.entries);
        test.change();
        int result = 0;
        std::vector<Module> modules = ListOf(GetCurrentProcessId(), &result);
        EXPECT_EQ(result, 1) << test.what;
        std::string names;
        for (const Module& module : modules) {
            names += (names.empty() ? "" : " ") + std::get<0>(module);
        }
        EXPECT_EQ(names, test.names) << test.what;
    }

    // Bases above 4 GB come whole, sizes as read, paths in ordinary form;
    // a path that cannot be read is empty.
    PutProcess(3);
    Patch(EntryAt(2), 0x48, Counted(40, NOWHERE));
    int result = 0;
    std::vector<Module> modules = ListOf(GetCurrentProcessId(), &result);
    ASSERT_EQ(modules.size(), 3u);
    EXPECT_EQ(modules[0],
              Module("notepad.exe", 0x140000000ULL, 0x10000, "C:\\windows\\system32\\notepad.exe"));
    EXPECT_EQ(std::get<1>(modules[1]), 0x7FFA12340000ULL);
    EXPECT_EQ(modules[2], Module("kernel32.dll", 0x7B600000ULL, 0x30000, ""));

    // A list that never closes ends at 1024 modules.
    PutProcess(1100);
    modules = ListOf(GetCurrentProcessId(), &result);
    EXPECT_EQ(modules.size(), static_cast<size_t>(MODULE_LIMIT));
}

TEST_F(Wow64Test, WithoutTheLoaderListTheMemoryMapGivesTheImagesAndSaysItIsIncomplete) {
    // What the snapshot lists of this process, whose map the route walks.
    std::vector<Module> bySnapshot;
    ListModulesBySnapshot(nullptr, GetCurrentProcessId(), Collect,
                          reinterpret_cast<ULONG_PTR>(&bySnapshot));
    ASSERT_FALSE(bySnapshot.empty());
    // The same images at the same bases; a side-by-side library's mapped
    // file is the one in its assembly folder, so only the file names agree.
    auto fileName = [](const std::string& path) {
        return Lower(path.substr(path.rfind('\\') + 1));
    };
    std::set<std::pair<ULONGLONG, std::string>> expected;
    for (const Module& module : bySnapshot) {
        expected.insert({std::get<1>(module), fileName(std::get<3>(module))});
    }
    struct Case {
        const char* what;
        void (*change)();
    } cases[] = {
        {"no native calls",
         [] {
             ntApi.ntWow64QueryInformationProcess64 = nullptr;
             ntApi.ntWow64ReadVirtualMemory64 = nullptr;
         }},
        {"no environment block", [] { peb64 = 0; }},
        {"loader data that cannot be read", [] { memory64.erase(memory64.begin() + 1); }},
    };
    for (const Case& test : cases) {
        PutProcess(3);
        test.change();
        int result = 0;
        std::vector<Module> modules = ListOf(GetCurrentProcessId(), &result);
        EXPECT_EQ(result, MODULES_INCOMPLETE) << test.what;
        std::set<std::pair<ULONGLONG, std::string>> found;
        for (const Module& module : modules) {
            found.insert({std::get<1>(module), fileName(std::get<3>(module))});
            // The name is the path's last part; the size covers the image.
            const std::string& path = std::get<3>(module);
            EXPECT_EQ(std::get<0>(module), path.substr(path.rfind('\\') + 1)) << test.what;
            EXPECT_GE(std::get<2>(module), 0x1000u) << path;
        }
        EXPECT_EQ(found, expected) << test.what;
        ntApi.ntWow64QueryInformationProcess64 = FakeQuery64;
        ntApi.ntWow64ReadVirtualMemory64 = FakeRead64;
    }
    // A process of this program's own width is listed as ever.
    ntApi.isWow64Process = realNtApi.isWow64Process;
    int result = 0;
    EXPECT_EQ(ListOf(GetCurrentProcessId(), &result).size(), bySnapshot.size());
    EXPECT_EQ(result, 1);
}

TEST_F(Wow64Test, BasesAboveFourGigabytesAreShownInSixteenDigits) {
    const struct {
        ULONGLONG base;
        const char* shown;
    } cases[] = {
        {0x400000ULL, "00400000"},
        {0xFFFFFFFFULL, "ffffffff"},
        {0x100000000ULL, "0000000100000000"},
        {0x7FFA12340000ULL, "00007ffa12340000"},
    };
    for (const auto& test : cases) {
        char text[20];
        FormatModuleBase(test.base, text);
        EXPECT_STREQ(text, test.shown);
    }
}

TEST_F(Wow64Test, TheModulesWindowShowsTheNoteUnderTheModulesOfTheMemoryMap) {
    ntApi.ntWow64QueryInformationProcess64 = nullptr;
    ntApi.ntWow64ReadVirtualMemory64 = nullptr;
    CreateMainWindowFor(1, true);
    helper = StartChild("\"" + BinPath("tvhelper.exe") + "\" --lifetime=60000");
    ASSERT_TRUE(helper.started);
    ASSERT_TRUE(PumpUntil(
        [&] {
            int result = 0;
            return !ListOf(helper.info.dwProcessId, &result).empty();
        },
        20000));
    ProcessEntry entry = MakeEntry(helper.info.dwProcessId, "tvhelper.exe");
    MergeEntry(listWindow, &entry);
    ASSERT_EQ(SelectProcessById(helper.info.dwProcessId), 1);
    int count = 0, descendingCount = 0;
    std::string last, lastName, descendingLast, status;
    auto read = [&](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_MODULE_LIST);
        count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        last = ListViewText(list, count - 1, 4);
        lastName = ListViewText(list, count - 1, 0);
        char text[300] = "";
        SendDlgItemMessageA(dialog, IDC_STATUS, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
        status = text;
        // Sorted by name, descending: the note stays last.
        moduleSortDirection = -1;
        SortModuleList(list, IDC_MODULE_LIST);
        descendingCount = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        descendingLast = ListViewText(list, descendingCount - 1, 4);
        SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    };
    ASSERT_TRUE(WithDialog([] { SendMessageA(mainWindow, WM_COMMAND, IDM_MODULES, 0); }, read));
    moduleSortDirection = 1;
    ASSERT_GE(count, 2);
    std::string note = ToAnsi("(32 位程序看不全 64 位进程的模块)");
    EXPECT_EQ(last, note);
    EXPECT_EQ(lastName, "");
    EXPECT_EQ(descendingLast, note);
    // The status bar counts the modules, not the note.
    EXPECT_EQ(status, std::to_string(count - 1) + " " + ToAnsi("模块"));
}

const ULONGLONG PARAMETERS = 0x300000000ULL;
const ULONGLONG ENVIRONMENT = 0x300100000ULL;

// A 64-bit parameter block: normalised (addresses) or not (offsets from
// the block), with its strings and an environment block.
void PutParameters(bool normalized, const std::wstring& environment) {
    PutPeb(0x20, PARAMETERS);
    BYTE block[0x88] = {};
    DWORD flags = normalized ? 1 : 0;
    memcpy(block + 0x8, &flags, sizeof flags);
    ULONGLONG base = normalized ? PARAMETERS : 0;
    RemoteString64 directory = Counted(16, base + 0x200);
    RemoteString64 line = Counted(22, base + 0x400);
    ULONGLONG environmentAddress = ENVIRONMENT;
    memcpy(block + 0x38, &directory, sizeof directory);
    memcpy(block + 0x70, &line, sizeof line);
    memcpy(block + 0x80, &environmentAddress, sizeof environmentAddress);
    Put(PARAMETERS, block, sizeof block);
    PutWide(PARAMETERS + 0x200, L"C:\\work\\");
    PutWide(PARAMETERS + 0x400, L"app.exe -64");
    // The environment, one region per whole page as the system maps it.
    std::vector<BYTE> bytes(reinterpret_cast<const BYTE*>(environment.data()),
                            reinterpret_cast<const BYTE*>(environment.data() + environment.size()));
    bytes.resize((bytes.size() + 0xFFF) & ~static_cast<size_t>(0xFFF));
    for (size_t at = 0; at < bytes.size(); at += 0x1000) {
        Put(ENVIRONMENT + at, bytes.data() + at, std::min<size_t>(0x1000, bytes.size() - at));
    }
}

TEST_F(Wow64Test, TheSixtyFourBitParameterBlockIsReadByItsLengths) {
    const std::wstring small(L"B=2\0=C:=C:\\x\0A=1\0\0", 19);
    // 70,000 bytes of variables, more than one read takes.
    std::wstring big;
    for (int i = 0; big.size() * 2 < 70000; i++) {
        big += L"V" + std::to_wstring(10000 + i) + L"=" + std::wstring(90, L'v') + L'\0';
    }
    big += L'\0';
    std::string cut = ToAnsi(" [已在 64 KB 处截断]");
    // An environment that fills its page to the end, where the memory ends.
    const std::wstring toPageEnd = std::wstring(L"B=2\0C=", 6) + std::wstring(2042, L'c');
    // What the window then shows: the command line, the directory, then the
    // environment's rows.
    const std::vector<std::string> read = {"app.exe -64", "C:\\work\\", "A=1", "B=2"};
    struct Case {
        const char* what;
        bool normalized;
        const std::wstring* environment;
        void (*change)();
        int result;
        std::vector<std::string> shown;
    } cases[] = {
        {"normalised", true, &small, [] {}, 1, read},
        {"offsets from the block", false, &small, [] {}, 1, read},
        {"a command line longer than its memory",
         true,
         &small,
         [] { Patch(PARAMETERS, 0x70, Counted(0xFFFE, PARAMETERS + 0x400)); },
         1,
         {"", "C:\\work\\", "A=1", "B=2"}},
        {"a block that cannot be read",
         true,
         &small,
         [] { memory64.erase(memory64.begin() + 1); },
         0,
         {"", ""}},
        {"no environment block", true, &small, [] { peb64 = 0; }, 0, {"", ""}},
        {"the environment ends with its memory",
         true,
         &toPageEnd,
         [] {},
         1,
         {"app.exe -64", "C:\\work\\", "B=2", "C=" + std::string(2042, 'c')}},
    };
    for (const Case& test : cases) {
        PutParameters(test.normalized, *test.environment);
        test.change();
        StartupControls controls;
        EXPECT_EQ(controls.Read(ReadStartupInfoNt, GetCurrentProcessId()), test.result)
            << test.what;
        std::vector<std::string> shown = {WindowText(controls.commandLine),
                                          WindowText(controls.directory)};
        for (const std::string& row : ListBoxRows(controls.environment)) {
            shown.push_back(row);
        }
        EXPECT_EQ(shown, test.shown) << test.what;
    }

    // An environment beyond the read limit: its last, cut row says so.
    PutParameters(true, big);
    reads64 = 0;
    StartupControls controls;
    ASSERT_EQ(controls.Read(ReadStartupInfoNt, GetCurrentProcessId()), 1);
    std::vector<std::string> rows = ListBoxRows(controls.environment);
    ASSERT_FALSE(rows.empty());
    int marked = 0;
    for (const std::string& row : rows) {
        if (row.size() > cut.size() && row.compare(row.size() - cut.size(), cut.size(), cut) == 0) {
            marked++;
            // 65,536 bytes end 32,768 characters in: the row holds what fits.
            EXPECT_LT(row.size() - cut.size(), 96u) << row;
        }
    }
    EXPECT_EQ(marked, 1);
    EXPECT_LE(reads64, 100);

    // Without the native calls: one line that says so.
    ntApi.ntWow64QueryInformationProcess64 = nullptr;
    StartupControls without;
    EXPECT_EQ(without.Read(ReadStartupInfoNt, GetCurrentProcessId()), 1);
    EXPECT_EQ(ListBoxRows(without.environment),
              (std::vector<std::string>{ToAnsi("本程序无法读取 64 位进程的启动信息")}));
    EXPECT_EQ(WindowText(without.commandLine), "");
}

} // namespace
