// The NT family back-end against real processes, the real list view and the
// real process-status functions; failing calls, 16-bit tasks and odd module
// paths are played through the ntApi table.
#include "listfixture.h"
#include "app/mainwnd.h"
#include "app/uiops.h"
#include "sysinfo/chosenprocess.h"
#include "sysinfo/backend.h"
#include "sysinfo/ntbackend.h"
#include "sysinfo/privileges.h"
#include "testutil.h"
#include "views/figures.h"

#include <commctrl.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const DWORD NOBODY = 0x7FFFFFF0; // an id no process has

// The real table, for fakes that pass calls through.
NtApi realApi;

// What the fake process enumeration reports.
std::vector<DWORD> reportedIds;
DWORD enumerationBufferSize;

BOOL WINAPI ReportIds(DWORD* ids, DWORD size, DWORD* returned) {
    enumerationBufferSize = size;
    DWORD count = std::min<DWORD>(static_cast<DWORD>(reportedIds.size()), size / sizeof(DWORD));
    std::copy(reportedIds.begin(), reportedIds.begin() + count, ids);
    *returned = count * sizeof(DWORD);
    return TRUE;
}

// Fills the whole buffer and claims twice as much.
BOOL WINAPI OverfullEnumeration(DWORD* ids, DWORD size, DWORD* returned) {
    enumerationBufferSize = size;
    DWORD count = size / sizeof(DWORD);
    for (DWORD i = 0; i < count; i++) {
        ids[i] = i < reportedIds.size() ? reportedIds[i] : NOBODY - 0x10000 + i;
    }
    *returned = 2 * size;
    return TRUE;
}

BOOL WINAPI FailingEnumeration(DWORD*, DWORD, DWORD* returned) {
    *returned = 0;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// Calls of the reading functions, passed through to the real ones.
struct ReadCalls {
    int modules;
    int baseName;
    int fileName;
    int query;
};
ReadCalls readCalls;

BOOL WINAPI CountingEnumProcessModules(HANDLE process, HMODULE* modules, DWORD size,
                                       DWORD* needed) {
    readCalls.modules++;
    return realApi.enumProcessModules(process, modules, size, needed);
}

DWORD WINAPI CountingBaseName(HANDLE process, HMODULE module, char* buffer, DWORD size) {
    readCalls.baseName++;
    return realApi.getModuleBaseNameA(process, module, buffer, size);
}

DWORD WINAPI CountingFileName(HANDLE process, HMODULE module, char* buffer, DWORD size) {
    readCalls.fileName++;
    return realApi.getModuleFileNameExA(process, module, buffer, size);
}

LONG WINAPI CountingQuery(HANDLE process, ULONG infoClass, void* buffer, ULONG size,
                          ULONG* returned) {
    readCalls.query++;
    return realApi.ntQueryInformationProcess(process, infoClass, buffer, size, returned);
}

BOOL WINAPI FailingEnumProcessModules(HANDLE, HMODULE*, DWORD, DWORD*) {
    SetLastError(ERROR_PARTIAL_COPY);
    return FALSE;
}

// Fails after more than a pass's time for new processes.
BOOL WINAPI SlowFailingEnumProcessModules(HANDLE process, HMODULE* modules, DWORD size,
                                          DWORD* needed) {
    Sleep(40);
    return FailingEnumProcessModules(process, modules, size, needed);
}

// 1500 module handles, of which it writes as many as fit, as the system
// does, and the size all of them would need.
BOOL WINAPI ManyModules(HANDLE, HMODULE* modules, DWORD size, DWORD* needed) {
    const DWORD count = 1500;
    for (DWORD i = 0; i < count && (i + 1) * sizeof(HMODULE) <= size; i++) {
        modules[i] = reinterpret_cast<HMODULE>(static_cast<DWORD_PTR>(0x10000000 + i * 0x10000));
    }
    *needed = count * sizeof(HMODULE);
    return TRUE;
}

// Where a record of the native table holds the name's address, the base
// priority and the process id, in the test program's width.
const ULONG RECORD_NAME_ADDRESS = sizeof(void*) == 8 ? 0x40 : 0x3C;
const ULONG RECORD_PRIORITY = sizeof(void*) == 8 ? 0x48 : 0x40;
const ULONG RECORD_ID = sizeof(void*) == 8 ? 0x50 : 0x44;

void PutRecordId(BYTE* record, DWORD processId) {
    ULONG_PTR id = processId;
    memcpy(record + RECORD_ID, &id, sizeof id);
}

// A native process table of 3000 records of 0x100 bytes: this process first,
// then ids that nobody has. Too small a buffer gets the size it needs.
LONG WINAPI OverfullSystemQuery(ULONG infoClass, void* buffer, ULONG size, ULONG* returned) {
    const ULONG count = 3000, recordSize = 0x100;
    if (infoClass != 5) {
        return static_cast<LONG>(0xC0000003);
    }
    if (returned) {
        *returned = count * recordSize;
    }
    if (size < count * recordSize) {
        return static_cast<LONG>(0xC0000004);
    }
    memset(buffer, 0, count * recordSize);
    for (ULONG i = 0; i < count; i++) {
        BYTE* record = static_cast<BYTE*>(buffer) + i * recordSize;
        *reinterpret_cast<DWORD*>(record) = i + 1 < count ? recordSize : 0; // the next record
        *reinterpret_cast<LONG*>(record + RECORD_PRIORITY) = 8;
        PutRecordId(record, i == 0 ? GetCurrentProcessId() : NOBODY - 0x10000 + i);
    }
    return 0;
}

// Fails, though it leaves a plausible block behind.
LONG WINAPI FailingQuery(HANDLE, ULONG, void* buffer, ULONG size, ULONG*) {
    if (size >= 6 * sizeof(ULONG_PTR)) {
        static_cast<ULONG_PTR*>(buffer)[5] = 0x1234;
    }
    return static_cast<LONG>(0xC0000001);
}

// Answers only the basic information class, in the program's width.
LONG WINAPI BasicInformationQuery(HANDLE, ULONG infoClass, void* buffer, ULONG size,
                                  ULONG* returned) {
    // The basic information has six pointer-sized fields.
    if (infoClass != 0 || size != 6 * sizeof(ULONG_PTR)) {
        return static_cast<LONG>(0xC0000004);
    }
    const ULONG_PTR block[6] = {11, 22, 33, 44, 55, 66};
    memcpy(buffer, block, sizeof block);
    if (returned) {
        *returned = sizeof block;
    }
    return 0;
}

// The module file name the fake reports, copied like the system does.
std::string fakeModuleFileName;

DWORD WINAPI FakeModuleFileName(HANDLE, HMODULE, char* buffer, DWORD size) {
    lstrcpynA(buffer, fakeModuleFileName.c_str(), static_cast<int>(size));
    return static_cast<DWORD>(strlen(buffer));
}

struct VisitedModule {
    HWND window;
    std::string name;
    ULONGLONG base;
    DWORD size;
    std::string path;
};

int RecordModule(ULONG_PTR userValue, HWND window, const char* moduleName, ULONGLONG baseAddress,
                 DWORD imageSize, const char* fullPath) {
    reinterpret_cast<std::vector<VisitedModule>*>(static_cast<DWORD_PTR>(userValue))
        ->push_back({window, moduleName, baseAddress, imageSize, fullPath});
    return 1;
}

std::string OwnPath() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

std::string OwnBaseName() {
    std::string path = OwnPath();
    return path.substr(path.rfind('\\') + 1);
}

const char* const testVariables[] = {"TolvaneTestRoot", "TolvaneUnsetVariable",
                                     "Tv\x95\x5c"
                                     "Root"};

class NtBackendTest : public ListFixture {
  protected:
    void SetUp() override {
        CreateMainWindowFor(1);
        // Passes run only when a test asks for one.
        SetRefreshTimer(0);
        realApi = savedNtApi;
        reportedIds.clear();
        enumerationBufferSize = 0;
        readCalls = ReadCalls{};
        ClearWowTasks();
        self = GetCurrentProcessId();
        memset(&helper, 0, sizeof helper);
    }

    void TearDown() override {
        EndChild(helper);
        for (Child& child : helpers) {
            EndChild(child);
        }
        for (const char* name : testVariables) {
            SetEnvironmentVariableA(name, nullptr);
        }
        ListFixture::TearDown();
    }

    // Starts the helper at high priority and waits until it has set it.
    void StartHelper() {
        helper = StartChild("\"" + BinPath("tvhelper.exe") + "\" --priority=high");
        ASSERT_TRUE(helper.started);
        ASSERT_TRUE(PumpUntil(
            [&] { return GetPriorityClass(helper.info.hProcess) == HIGH_PRIORITY_CLASS; }, 10000));
    }

    // The fake enumeration with these ids, the rest of the table real.
    static void Report(const std::vector<DWORD>& ids) {
        reportedIds = ids;
        ntApi.enumProcesses = ReportIds;
        ntApi.ntQuerySystemInformation = nullptr;
        ntApi.ntQuerySystemInformation = nullptr;
    }

    // A pass and the slices it leaves, as the message loop would run them.
    static void Pass() {
        RefreshPass(listWindow);
        CompleteProcessList(listWindow);
    }

    // Nothing but the module list names a process.
    static void WithoutImageCalls() {
        ntApi.queryFullProcessImageNameA = nullptr;
        ntApi.getProcessImageFileNameA = nullptr;
    }

    static int NodeCount() {
        int count = 0;
        for (ProcessNode* node = processListHead; node; node = node->next) {
            count++;
        }
        return count;
    }

    static std::string Normalized(const std::string& fileName, DWORD size = MAX_PATH) {
        fakeModuleFileName = fileName;
        ntApi.getModuleFileNameExA = FakeModuleFileName;
        std::vector<char> buffer(size + 16, '#');
        NormalizeModulePath(GetCurrentProcess(), nullptr, buffer.data(), size);
        for (DWORD i = size; i < buffer.size(); i++) {
            EXPECT_EQ(buffer[i], '#') << "written past the buffer: " << fileName;
        }
        return std::string(buffer.data(), strnlen(buffer.data(), size));
    }

    DWORD self;
    Child helper;
    std::vector<Child> helpers; // more, for the tests that need many
};

TEST_F(NtBackendTest, HelperProcessRowFromTheRealSystemUntilItEnds) {
    ntApi = savedNtApi;
    ASSERT_NO_FATAL_FAILURE(StartHelper());
    DWORD helperId = helper.info.dwProcessId;
    Pass();

    int row = RowOf(helperId);
    ASSERT_GE(row, 0);
    ProcessNode* node = FindNode(helperId, KIND_WIN32);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(CellText(row, 0), "tvhelper.exe");
    EXPECT_EQ(CellText(row, 1), std::to_string(helperId));
    EXPECT_EQ(CellText(row, 2), ToAnsi("高"));
    EXPECT_EQ(Lower(CellText(row, 3)), Lower(BinPath("tvhelper.exe")));
    EXPECT_EQ(Lower(node->path), Lower(BinPath("tvhelper.exe")));
    EXPECT_EQ(node->parentProcessId, self);
    EXPECT_EQ(node->priorityClass, static_cast<DWORD>(HIGH_PRIORITY_CLASS));
    EXPECT_EQ(node->flags & ENTRY_NO_ACCESS, 0u);
    // This process is listed as well.
    EXPECT_GE(RowOf(self), 0);

    int kept = KeptProcessHandleCount();
    EXPECT_GT(kept, 0);

    // Ended: the next pass marks the row gone and closes the kept handle.
    EndChild(helper);
    Pass();
    row = RowOf(helperId);
    ASSERT_GE(row, 0);
    node = FindNode(helperId, KIND_WIN32);
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(node->flags & NODE_GONE);
    EXPECT_EQ(KeptProcessHandleCount(), kept - 1);
    EXPECT_FALSE(FindNode(self, KIND_WIN32)->flags & NODE_GONE);

    // Once the mark has expired, the next pass deletes the row.
    node->markTime = 0;
    ExpireHighlights();
    Pass();
    EXPECT_EQ(RowOf(helperId), -1);
    EXPECT_EQ(FindNode(helperId, KIND_WIN32), nullptr);
    EXPECT_GE(RowOf(self), 0);
}

TEST_F(NtBackendTest, LaterPassesReadOnlyPriorityThroughTheKeptHandle) {
    ASSERT_NO_FATAL_FAILURE(StartHelper());
    DWORD helperId = helper.info.dwProcessId;
    ntApi.enumProcessModules = CountingEnumProcessModules;
    ntApi.getModuleBaseNameA = CountingBaseName;
    ntApi.getModuleBaseNameW = nullptr;
    ntApi.getModuleFileNameExA = CountingFileName;
    ntApi.ntQueryInformationProcess = CountingQuery;
    Report({helperId});

    Pass();
    ASSERT_GE(RowOf(helperId), 0);
    EXPECT_GT(readCalls.modules, 0);
    EXPECT_GT(readCalls.baseName, 0);
    EXPECT_GT(readCalls.fileName, 0);
    EXPECT_GT(readCalls.query, 0);
    EXPECT_EQ(KeptProcessHandleCount(), 1);

    // A new priority class shows after the next pass, which reads nothing else.
    HANDLE process = OpenProcess(PROCESS_SET_INFORMATION, FALSE, helperId);
    ASSERT_NE(process, nullptr);
    ASSERT_TRUE(SetPriorityClass(process, IDLE_PRIORITY_CLASS));
    CloseHandle(process);
    readCalls = ReadCalls{};
    Pass();
    int row = RowOf(helperId);
    ASSERT_GE(row, 0);
    EXPECT_EQ(FindNode(helperId, KIND_WIN32)->priorityClass,
              static_cast<DWORD>(IDLE_PRIORITY_CLASS));
    EXPECT_EQ(CellText(row, 2), ToAnsi("空闲"));
    EXPECT_EQ(CellText(row, 0), "tvhelper.exe");
    EXPECT_EQ(readCalls.modules, 0);
    EXPECT_EQ(readCalls.baseName, 0);
    EXPECT_EQ(readCalls.fileName, 0);
    EXPECT_EQ(readCalls.query, 0);
    EXPECT_EQ(KeptProcessHandleCount(), 1);

    // A cleared list is filled again from the kept handle, without a second one.
    ClearProcessList(listWindow);
    Pass();
    row = RowOf(helperId);
    ASSERT_GE(row, 0);
    EXPECT_EQ(CellText(row, 0), "tvhelper.exe");
    EXPECT_EQ(FindNode(helperId, KIND_WIN32)->parentProcessId, self);
    EXPECT_EQ(KeptProcessHandleCount(), 1);

    // No longer reported: the handle is closed though the process lives.
    Report({});
    Pass();
    EXPECT_EQ(KeptProcessHandleCount(), 0);
    EXPECT_TRUE(FindNode(helperId, KIND_WIN32)->flags & NODE_GONE);

    // Reported again: opened and read anew.
    readCalls = ReadCalls{};
    Report({helperId});
    Pass();
    EXPECT_EQ(KeptProcessHandleCount(), 1);
    EXPECT_GT(readCalls.modules, 0);
    EXPECT_EQ(CellText(RowOf(helperId), 2), ToAnsi("空闲"));

    ReleaseProcessHandles();
    EXPECT_EQ(KeptProcessHandleCount(), 0);
    readCalls = ReadCalls{};
    Pass();
    EXPECT_GT(readCalls.modules, 0);
    EXPECT_EQ(KeptProcessHandleCount(), 1);
}

// Each module list costs 10 ms more: a pass meets more new processes than
// it reads in its time.
BOOL WINAPI SlowEnumProcessModules(HANDLE process, HMODULE* modules, DWORD size, DWORD* needed) {
    Sleep(10);
    return CountingEnumProcessModules(process, modules, size, needed);
}

TEST_F(NtBackendTest, ABurstOfNewProcessesGetsEveryRowInSlicesNoneLostOrDoubled) {
    helpers.resize(12);
    for (Child& child : helpers) {
        child = StartChild("\"" + BinPath("tvhelper.exe") + "\"");
        ASSERT_TRUE(child.started);
    }
    for (Child& child : helpers) {
        WaitForInputIdle(child.info.hProcess, 10000);
    }
    ntApi = savedNtApi;
    ntApi.enumProcessModules = SlowEnumProcessModules;
    auto RowsOf = [](DWORD processId) {
        std::vector<DWORD> ids = RowIds();
        return static_cast<int>(std::count(ids.begin(), ids.end(), processId));
    };
    auto waiting = [] { return ReadWaitingProcesses(listWindow, 0); };
    auto waitingHelpers = [&] {
        std::vector<size_t> indexes;
        for (size_t i = 0; i < helpers.size(); i++) {
            if (RowOf(helpers[i].info.dwProcessId) == -1) {
                indexes.push_back(i);
            }
        }
        return indexes;
    };

    // The pass reads what its time allows and leaves the rest waiting.
    ClearProcessList(listWindow);
    RefreshPass(listWindow);
    ASSERT_GT(waiting(), 0);
    std::vector<size_t> unread = waitingHelpers();
    ASSERT_GE(unread.size(), 3u);

    // One slice reads some of them, not all.
    int before = waiting();
    ReadWaitingRows(listWindow);
    EXPECT_LT(waiting(), before);
    EXPECT_GT(waiting(), 0);
    unread = waitingHelpers();
    ASSERT_GE(unread.size(), 2u);

    // One waiting helper ends; another is selected (found by the finder, the
    // tree or the applications window), which reads it at once.
    Child& ended = helpers[unread.front()];
    DWORD endedId = ended.info.dwProcessId;
    EndChild(ended);
    DWORD chosenId = helpers[unread.back()].info.dwProcessId;
    ASSERT_TRUE(SelectProcessById(chosenId));
    EXPECT_EQ(RowsOf(chosenId), 1);

    // A pass while they wait takes no running process's row away, and the
    // message loop then reads the rest.
    RefreshPass(listWindow);
    ASSERT_TRUE(PumpUntil([&] { return waiting() == 0; }, 30000));
    for (const Child& child : helpers) {
        DWORD id = child.info.dwProcessId;
        if (id == endedId) {
            EXPECT_EQ(RowsOf(id), 0);
            continue;
        }
        EXPECT_EQ(RowsOf(id), 1) << id;
        const ProcessNode* node = FindNode(id, KIND_WIN32);
        ASSERT_NE(node, nullptr);
        EXPECT_STREQ(node->name, "tvhelper.exe");
        EXPECT_EQ(Lower(node->path), Lower(BinPath("tvhelper.exe")));
        EXPECT_EQ(node->parentProcessId, self);
        EXPECT_FALSE(node->flags & (NODE_GONE | ENTRY_NO_ACCESS));
    }
    std::vector<DWORD> ids = RowIds();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end()) << "a row doubled";

    // A reload starts over in slices, and the selected process keeps its row
    // and its selection at once; a window that walks the list (the tree,
    // module usage) has the rest read at once.
    ReloadProcessList();
    EXPECT_GT(waiting(), 0);
    int selected = static_cast<int>(SendMessageA(listWindow, LVM_GETNEXTITEM, -1, LVNI_SELECTED));
    ASSERT_NE(selected, -1);
    EXPECT_EQ(GetRowNode(selected)->processId, chosenId);
    CompleteProcessList(listWindow);
    EXPECT_EQ(waiting(), 0);
    for (const Child& child : helpers) {
        EXPECT_EQ(RowsOf(child.info.dwProcessId), child.info.dwProcessId == endedId ? 0 : 1);
    }
}

TEST_F(NtBackendTest, UnopenableIdIsKeptWithoutRowBesideThisProcess) {
    Report({NOBODY, self});
    Pass();
    for (int pass = 0; pass < 2; pass++) {
        ProcessNode* nobody = FindNode(NOBODY, KIND_WIN32);
        ASSERT_NE(nobody, nullptr) << pass;
        EXPECT_TRUE(nobody->flags & ENTRY_NO_ACCESS);
        EXPECT_EQ(std::string(nobody->name), ToAnsi("[禁止访问]"));
        EXPECT_EQ(nobody->parentProcessId, 0u);
        EXPECT_EQ(nobody->priorityClass, 0u);
        EXPECT_EQ(std::string(nobody->path), "");
        EXPECT_EQ(RowOf(NOBODY), -1);

        int row = RowOf(self);
        ASSERT_GE(row, 0) << pass;
        ProcessNode* node = FindNode(self, KIND_WIN32);
        EXPECT_EQ(Lower(node->name), Lower(OwnBaseName()));
        EXPECT_EQ(Lower(node->path), Lower(OwnPath()));
        EXPECT_EQ(node->priorityClass, GetPriorityClass(GetCurrentProcess()));
        EXPECT_FALSE(node->flags & (ENTRY_NO_ACCESS | NODE_GONE));
        EXPECT_EQ(RowIds(), std::vector<DWORD>{self});
        Pass();
    }
}

TEST_F(NtBackendTest, AtMost2048IdsAreReadFromOnePass) {
    reportedIds = {self};
    ntApi.enumProcesses = OverfullEnumeration;
    ntApi.ntQuerySystemInformation = nullptr;
    Pass();
    EXPECT_EQ(enumerationBufferSize, 2048 * sizeof(DWORD));
    EXPECT_EQ(NodeCount(), 2048);
    EXPECT_EQ(RowIds(), std::vector<DWORD>{self});
}

DWORD WINAPI ModuleBaseNameOfItsAddress(HANDLE, HMODULE module, char* buffer, DWORD) {
    return static_cast<DWORD>(
        wsprintfA(buffer, "m%x.dll", static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(module))));
}

BOOL WINAPI ModuleInformationOfItsAddress(HANDLE, HMODULE module, MODULEINFO* info, DWORD) {
    info->lpBaseOfDll = module;
    info->SizeOfImage = 0x1000;
    info->EntryPoint = nullptr;
    return TRUE;
}

TEST_F(NtBackendTest, AtMost1024ModulesAreListedThroughTheProcessStatusCalls) {
    ntApi.enumProcessModules = ManyModules;
    ntApi.getModuleBaseNameA = ModuleBaseNameOfItsAddress;
    ntApi.getModuleBaseNameW = nullptr;
    ntApi.getModuleInformation = ModuleInformationOfItsAddress;
    fakeModuleFileName = "C:\\m.dll";
    ntApi.getModuleFileNameExA = FakeModuleFileName;
    std::vector<VisitedModule> visited;
    EXPECT_EQ(
        ListModulesPsapi(listWindow, self, RecordModule, reinterpret_cast<ULONG_PTR>(&visited)), 1);
    ASSERT_EQ(visited.size(), 1024u);
    EXPECT_EQ(visited.back().base, 0x10000000u + 1023 * 0x10000);
    EXPECT_EQ(visited.back().name, "m13ff0000.dll");
}

TEST_F(NtBackendTest, UnreadableModulesGiveUnknownNameWithTheParent) {
    ASSERT_NO_FATAL_FAILURE(StartHelper());
    DWORD helperId = helper.info.dwProcessId;
    ntApi.enumProcessModules = FailingEnumProcessModules;
    WithoutImageCalls();
    Report({helperId});
    Pass();
    ProcessNode* node = FindNode(helperId, KIND_WIN32);
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(node->flags & ENTRY_NO_ACCESS);
    EXPECT_EQ(std::string(node->name), ToAnsi("[未知]"));
    EXPECT_EQ(node->parentProcessId, self);
    EXPECT_EQ(std::string(node->path), "");
    EXPECT_EQ(RowOf(helperId), -1);
}

int affinityQueries;
BOOL(WINAPI* realGetAffinity)(HANDLE, DWORD_PTR*, DWORD_PTR*);
BOOL WINAPI CountingGetAffinity(HANDLE process, DWORD_PTR* mask, DWORD_PTR* systemMask) {
    affinityQueries++;
    return realGetAffinity(process, mask, systemMask);
}

// Each known process is asked its affinity once in AFFINITY_PASSES passes,
// so a mask changed from outside shows within that many; one this program
// changed is asked at the next pass.
TEST_F(NtBackendTest, EachKnownProcessIsAskedItsAffinityOnceInSoManyPasses) {
    CountProcessors();
    if (systemAffinityMask == 1) {
        GTEST_SKIP() << "one processor: no affinity is asked";
    }
    ASSERT_NO_FATAL_FAILURE(StartHelper());
    DWORD helperId = helper.info.dwProcessId;
    Report({self, helperId});
    Pass();
    ASSERT_GE(RowOf(helperId), 0);
    realGetAffinity = affinityApi.getProcessAffinityMask;
    affinityApi.getProcessAffinityMask = CountingGetAffinity;
    struct Restore {
        ~Restore() {
            affinityApi.getProcessAffinityMask = realGetAffinity;
        }
    } restore;
    int known = KeptProcessHandleCount();
    affinityQueries = 0;
    for (int i = 0; i < AFFINITY_PASSES; i++) {
        Pass();
    }
    EXPECT_NEAR(affinityQueries, known, 2) << known << " processes";

    for (DWORD_PTR mask : {static_cast<DWORD_PTR>(1), systemAffinityMask}) {
        ASSERT_TRUE(SetProcessAffinityMask(helper.info.hProcess, mask));
        int passes = 0;
        while (passes < AFFINITY_PASSES && FindNode(helperId, KIND_WIN32)->affinityMask != mask) {
            Pass();
            passes++;
        }
        EXPECT_EQ(FindNode(helperId, KIND_WIN32)->affinityMask, mask);
    }
    ASSERT_TRUE(SetProcessAffinityMask(helper.info.hProcess, 1));
    ForgetKeptAffinity(helperId);
    Pass();
    EXPECT_EQ(FindNode(helperId, KIND_WIN32)->affinityMask, 1u);
}

TEST_F(NtBackendTest, ParentIdComesOnlyFromASucceedingNativeQuery) {
    ASSERT_NO_FATAL_FAILURE(StartHelper());
    DWORD helperId = helper.info.dwProcessId;
    Report({helperId});
    struct Case {
        LONG(WINAPI* query)(HANDLE, ULONG, void*, ULONG, ULONG*);
        DWORD parent;
    } cases[] = {{nullptr, 0}, {FailingQuery, 0}, {BasicInformationQuery, 66}};
    for (const Case& c : cases) {
        // A process met for the first time each round.
        ClearProcessList(listWindow);
        ReleaseProcessHandles();
        ntApi.ntQueryInformationProcess = c.query;
        Pass();
        int row = RowOf(helperId);
        ASSERT_GE(row, 0) << c.parent;
        EXPECT_EQ(CellText(row, 0), "tvhelper.exe");
        EXPECT_EQ(FindNode(helperId, KIND_WIN32)->parentProcessId, c.parent);
    }
}

TEST_F(NtBackendTest, FailedEnumerationMergesNothingAndSkipsTheTasks) {
    Report({self});
    fakeNtvdms = {self};
    fakeTasks = {{self, 0x7001, 0x11, "WRITE", "C:\\WINDOWS\\WRITE.EXE"}};
    ntApi.vdmEnumProcessWow = FakeEnumProcessWow;
    ntApi.vdmEnumTaskWowEx = FakeEnumTaskWowEx;
    Pass();
    ASSERT_GE(RowOf(self), 0);
    ASSERT_GE(RowOf(0x7001, KIND_WOW_TASK), 0);
    EXPECT_EQ(processWowCalls, 1);

    ntApi.enumProcesses = FailingEnumeration;
    ntApi.ntQuerySystemInformation = nullptr;
    Pass();
    EXPECT_EQ(processWowCalls, 1);
    ASSERT_GE(RowOf(self), 0);
    EXPECT_TRUE(FindNode(self, KIND_WIN32)->flags & NODE_GONE);
    EXPECT_TRUE(FindNode(0x7001, KIND_WOW_TASK)->flags & NODE_GONE);
}

TEST_F(NtBackendTest, WowTasksGetTheirNamesAndSortBesideTheirNtvdm) {
    ASSERT_EQ(GetACP(), 936u);
    // "昞" ends in 0x5C, the byte of a backslash.
    const std::string doubleByte = "\x95\x5c";
    const std::string longName(300, 'L');
    Report({self});
    fakeNtvdms = {self, NOBODY};
    fakeTasks = {
        {self, 0x7001, 0x11, "WRITE", "C:\\WINDOWS\\WRITE.EXE"},
        {self, 0x7002, 0x12, "CLOCK", "CLOCK.EXE"},
        {self, 0x7003, 0x13, "DB", "C:\\W16\\" + doubleByte + "a" + doubleByte + ".EXE"},
        {self, 0x7004, 0x14, "LONG", "C:\\" + longName + ".EXE"},
        {NOBODY, 0x7005, 0x15, "OTHER", "C:\\OTHER.EXE"},
    };
    ntApi.vdmEnumProcessWow = FakeEnumProcessWow;
    ntApi.vdmEnumTaskWowEx = FakeEnumTaskWowEx;
    // Two rows that the NTVDM sorts between by name.
    ProcessEntry first = MakeEntry(0x7FFFFF01, "aaa.exe");
    ProcessEntry last = MakeEntry(0x7FFFFF02, "zzz.exe");
    MergeEntry(listWindow, &first);
    MergeEntry(listWindow, &last);

    Pass();
    EXPECT_EQ(processWowCalls, 1);
    EXPECT_EQ(processWowCallback, &ProcessWowVisitor);
    EXPECT_EQ(processWowUserValue, reinterpret_cast<LPARAM>(listWindow));
    EXPECT_EQ(taskEnumerations, (std::vector<DWORD>{self, NOBODY}));
    EXPECT_EQ(ntvdmVisitResults, (std::vector<BOOL>{FALSE, FALSE}));

    struct Expected {
        DWORD threadId;
        std::string name;
        std::string path;
    } expected[] = {
        {0x7001, "  WRITE.EXE", "C:\\WINDOWS\\WRITE.EXE"},
        {0x7002, "  CLOCK", "CLOCK.EXE"},
        {0x7003, "  " + doubleByte + "a" + doubleByte + ".EXE", fakeTasks[2].fileName},
        {0x7004, "  " + longName.substr(0, 257), fakeTasks[3].fileName.substr(0, 259)},
        {0x7005, "  OTHER.EXE", "C:\\OTHER.EXE"},
    };
    for (int pass = 0; pass < 2; pass++) {
        for (size_t i = 0; i < sizeof expected / sizeof expected[0]; i++) {
            const Expected& task = expected[i];
            ProcessNode* node = FindNode(task.threadId, KIND_WOW_TASK);
            ASSERT_NE(node, nullptr) << task.threadId;
            EXPECT_EQ(std::string(node->name), task.name) << task.threadId;
            EXPECT_EQ(std::string(node->path), task.path) << task.threadId;
            EXPECT_EQ(node->parentProcessId, fakeTasks[i].ntvdmId) << task.threadId;
            EXPECT_EQ(node->task16, fakeTasks[i].task16) << task.threadId;
            EXPECT_FALSE(node->flags & (NODE_GONE | ENTRY_NO_ACCESS)) << task.threadId;
            int row = RowOf(task.threadId, KIND_WOW_TASK);
            ASSERT_GE(row, 0) << task.threadId;
            EXPECT_EQ(CellText(row, 1), "(" + std::to_string(task.threadId) + ")");
        }
        // This process and its tasks stand together between the rows that
        // frame it by name.
        std::vector<int> rows = {RowOf(self)};
        for (DWORD threadId : {0x7001u, 0x7002u, 0x7003u, 0x7004u}) {
            rows.push_back(RowOf(threadId, KIND_WOW_TASK));
        }
        std::sort(rows.begin(), rows.end());
        EXPECT_EQ(RowOf(0x7FFFFF01), 0) << pass;
        EXPECT_EQ(rows, (std::vector<int>{1, 2, 3, 4, 5})) << pass;
        EXPECT_GT(RowOf(0x7FFFFF02), 5) << pass;
        // Reported again by the next pass: kept, not marked gone.
        Pass();
    }
    // The tasks are not taken for Win32 processes.
    EXPECT_EQ(FindNode(0x7001, KIND_WIN32), nullptr);
}

TEST_F(NtBackendTest, WithoutTaskEnumerationAnNtvdmContributesNoTask) {
    Report({self});
    fakeNtvdms = {self};
    fakeTasks = {{self, 0x7001, 0x11, "WRITE", "C:\\WINDOWS\\WRITE.EXE"}};
    ntApi.vdmEnumProcessWow = FakeEnumProcessWow;
    ntApi.vdmEnumTaskWowEx = nullptr;
    Pass();
    EXPECT_EQ(processWowCalls, 1);
    EXPECT_EQ(ntvdmVisitResults, std::vector<BOOL>{FALSE});
    EXPECT_TRUE(taskEnumerations.empty());
    EXPECT_EQ(FindNode(0x7001, KIND_WOW_TASK), nullptr);
    EXPECT_EQ(RowIds(), std::vector<DWORD>{self});
}

TEST_F(NtBackendTest, ModulePathsInKernelFormsBecomeOrdinaryPaths) {
    // Ordinary already.
    EXPECT_EQ(Normalized("C:\\x\\y.exe"), "C:\\x\\y.exe");
    EXPECT_EQ(Normalized("\\\\server\\share\\y.exe"), "\\\\server\\share\\y.exe");
    EXPECT_EQ(Normalized(""), "");
    EXPECT_EQ(Normalized("\\??\\C:\\x\\y.exe"), "C:\\x\\y.exe");

    ASSERT_TRUE(SetEnvironmentVariableA("TolvaneTestRoot", "D:\\Root"));
    EXPECT_EQ(Normalized("\\TolvaneTestRoot\\a\\b.exe"), "D:\\Root\\a\\b.exe");
    char systemRoot[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("SystemRoot", systemRoot, sizeof systemRoot);
    if (length > 0 && length < sizeof systemRoot) {
        EXPECT_EQ(Normalized("\\SystemRoot\\System32\\smss.exe"),
                  std::string(systemRoot) + "\\System32\\smss.exe");
    }
    // A variable whose name holds a double-byte character ending in 0x5C.
    ASSERT_TRUE(SetEnvironmentVariableA(testVariables[2], "E:\\Dbcs"));
    EXPECT_EQ(Normalized(std::string("\\") + testVariables[2] + "\\c.exe"), "E:\\Dbcs\\c.exe");

    // Left as they were: an unset variable, no element after the first.
    SetEnvironmentVariableA("TolvaneUnsetVariable", nullptr);
    EXPECT_EQ(Normalized("\\TolvaneUnsetVariable\\a.exe"), "\\TolvaneUnsetVariable\\a.exe");
    EXPECT_EQ(Normalized("\\TolvaneTestRoot"), "\\TolvaneTestRoot");

    // Without the function the path is empty.
    ntApi.getModuleFileNameExA = nullptr;
    char buffer[8] = "garbage";
    NormalizeModulePath(GetCurrentProcess(), nullptr, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "");
}

TEST_F(NtBackendTest, ExpandedModulePathMustFitTheBuffer) {
    // "\TolvaneTestRoot\a\b.exe" is 24 characters; the value replaces 16 of them.
    const std::string original = "\\TolvaneTestRoot\\a\\b.exe";
    const DWORD size = 32;
    std::string value = "C:\\" + std::string(20, 'V'); // 23 characters: exactly fills 31
    ASSERT_TRUE(SetEnvironmentVariableA("TolvaneTestRoot", value.c_str()));
    EXPECT_EQ(Normalized(original, size), value + "\\a\\b.exe");

    value += "W"; // one more: no longer fits
    ASSERT_TRUE(SetEnvironmentVariableA("TolvaneTestRoot", value.c_str()));
    EXPECT_EQ(Normalized(original, size), original);

    // A value longer than any path.
    value = "C:\\" + std::string(400, 'V');
    ASSERT_TRUE(SetEnvironmentVariableA("TolvaneTestRoot", value.c_str()));
    EXPECT_EQ(Normalized(original), original);

    // The file name itself is cut to the buffer, and "\??\" still removed.
    EXPECT_EQ(Normalized("\\??\\C:\\abcdefgh.exe", 12), "C:\\abcd");
}

// Fills the buffer with the file name as far as it goes, without a
// terminator when it is cut, as NT 5 does.
DWORD WINAPI UnterminatedModuleFileName(HANDLE, HMODULE, char* buffer, DWORD size) {
    DWORD length = std::min<DWORD>(size, static_cast<DWORD>(fakeModuleFileName.size()));
    memcpy(buffer, fakeModuleFileName.data(), length);
    return length;
}

TEST_F(NtBackendTest, PathsLongerThanTheBufferAreCutBetweenCharacters) {
    // "C:\a" and double-byte characters whose second bytes are those of
    // '\\' and '|': 259 bytes would end inside a character.
    std::string path = "C:\\a";
    while (path.size() < 300) {
        path += "\x95\x5c\x8c\x7c";
    }
    fakeModuleFileName = path;
    ntApi.getModuleFileNameExA = UnterminatedModuleFileName;
    char buffer[MAX_PATH + 16];
    memset(buffer, '#', sizeof buffer);
    NormalizeModulePath(GetCurrentProcess(), nullptr, buffer, MAX_PATH);
    EXPECT_EQ(std::string(buffer), path.substr(0, 258));
    EXPECT_EQ(std::string(buffer + MAX_PATH, 16), std::string(16, '#'));
}

TEST_F(NtBackendTest, ModulesOfThisProcessStartWithTheExecutable) {
    std::vector<VisitedModule> visited;
    ULONG_PTR userValue = reinterpret_cast<ULONG_PTR>(&visited);
    EXPECT_EQ(ListModulesNt(listWindow, self, RecordModule, userValue), 1);
    ASSERT_GE(visited.size(), 2u);
    const VisitedModule& executable = visited[0];
    EXPECT_EQ(executable.window, listWindow);
    EXPECT_EQ(Lower(executable.name), Lower(OwnBaseName()));
    EXPECT_EQ(Lower(executable.path), Lower(OwnPath()));
    EXPECT_EQ(executable.base, reinterpret_cast<ULONG_PTR>(GetModuleHandleA(nullptr)));
    EXPECT_NE(executable.size, 0u);

    ULONGLONG kernelBase = reinterpret_cast<ULONG_PTR>(GetModuleHandleA("kernel32.dll"));
    auto kernel = std::find_if(visited.begin(), visited.end(), [&](const VisitedModule& module) {
        return Lower(module.name) == "kernel32.dll";
    });
    ASSERT_NE(kernel, visited.end());
    EXPECT_EQ(kernel->base, kernelBase);
    EXPECT_NE(kernel->size, 0u);
    EXPECT_NE(kernel->path.find('\\'), std::string::npos);

    // A process that cannot be opened, or whose modules cannot be read.
    visited.clear();
    EXPECT_EQ(ListModulesNt(listWindow, NOBODY, RecordModule, userValue), 1);
    EXPECT_TRUE(visited.empty());
    ntApi.enumProcessModules = FailingEnumProcessModules;
    EXPECT_EQ(ListModulesPsapi(listWindow, self, RecordModule, userValue), 1);
    EXPECT_TRUE(visited.empty());
}

TEST_F(NtBackendTest, TerminateWowTaskNeedsTheVdmFunction) {
    ntApi.vdmTerminateTaskWow = nullptr;
    EXPECT_EQ(TerminateWowTask(0x1234, 0x5678), 0);

    ntApi.vdmTerminateTaskWow = FakeTerminateTaskWow;
    terminateResult = 2;
    EXPECT_EQ(TerminateWowTask(0x1234, 0xABCD), 1);
    EXPECT_EQ(terminateCalls, 1);
    EXPECT_EQ(terminatedNtvdm, 0x1234u);
    EXPECT_EQ(terminatedTask, 0xABCD);

    terminateResult = FALSE;
    EXPECT_EQ(TerminateWowTask(0x4321, 0x0001), 0);
    EXPECT_EQ(terminatedNtvdm, 0x4321u);
    EXPECT_EQ(terminatedTask, 0x0001);
}

// ---------------------------------------------------------------------------
// The native process table and processes read again.

// Buffer sizes the pass offered the native process-table call.
std::vector<ULONG> tableSizes;

LONG WINAPI CountingSystemQuery(ULONG infoClass, void* buffer, ULONG size, ULONG* returned) {
    tableSizes.push_back(size);
    return realApi.ntQuerySystemInformation(infoClass, buffer, size, returned);
}

// Claims the table needs 256 KB; answers from there on.
LONG WINAPI StingySystemQuery(ULONG infoClass, void* buffer, ULONG size, ULONG* returned) {
    tableSizes.push_back(size);
    if (size < 0x40000) {
        *returned = 0x40000;
        return static_cast<LONG>(0xC0000004);
    }
    return realApi.ntQuerySystemInformation(infoClass, buffer, size, returned);
}

LONG WINAPI FailingSystemQuery(ULONG, void*, ULONG size, ULONG*) {
    tableSizes.push_back(size);
    return static_cast<LONG>(0xC0000001);
}

// Everything the list kept of a process's entry, without the list's own fields.
std::string NodeFields(const ProcessNode* node) {
    if (!node) {
        return "none";
    }
    return std::to_string(node->flags & ENTRY_NO_ACCESS) + "|" + node->name + "|" +
           std::to_string(node->processId) + "|" + std::to_string(node->parentProcessId) + "|" +
           std::to_string(node->priorityClass) + "|" + std::to_string(node->basePriority) + "|" +
           std::to_string(node->threadCount) + "|" + std::to_string(node->kind) + "|" +
           std::to_string(node->task16) + "|" + std::to_string(node->affinityMask) + "|" +
           node->path;
}

TEST_F(NtBackendTest, BothEnumerationsHandOverTheSameEntries) {
    ntApi = savedNtApi;
    ASSERT_NE(realApi.ntQuerySystemInformation, nullptr) << "this system's NTDLL lacks the call";
    const char* options[] = {"", " --priority=high", " --priority=below"};
    std::vector<Child> helpers;
    std::vector<DWORD> ids = {self};
    for (const char* option : options) {
        helpers.push_back(StartChild("\"" + BinPath("tvhelper.exe") + "\"" + option));
        ASSERT_TRUE(helpers.back().started);
        ASSERT_EQ(WaitForInputIdle(helpers.back().info.hProcess, 10000), 0u);
        ids.push_back(helpers.back().info.dwProcessId);
    }
    HANDLE changing = helpers.back().info.hProcess;
    auto nodes = [&] {
        std::vector<std::string> fields;
        for (DWORD id : ids) {
            fields.push_back(NodeFields(FindNode(id, KIND_WIN32)));
        }
        return fields;
    };
    auto passBy = [&](bool native) {
        ntApi.ntQuerySystemInformation = native ? realApi.ntQuerySystemInformation : nullptr;
        Pass();
        return nodes();
    };
    const DWORD classes[] = {ABOVE_NORMAL_PRIORITY_CLASS, IDLE_PRIORITY_CLASS,
                             NORMAL_PRIORITY_CLASS, HIGH_PRIORITY_CLASS};
    int next = 0;
    for (bool native : {true, false}) {
        // Met for the first time by one route, then known to the other.
        ASSERT_TRUE(SetPriorityClass(changing, BELOW_NORMAL_PRIORITY_CLASS));
        ClearProcessList(listWindow);
        ReleaseProcessHandles();
        std::vector<std::string> first = passBy(native);
        for (size_t i = 0; i < ids.size(); i++) {
            EXPECT_EQ(first[i].find("|tvhelper.exe|") != std::string::npos, i > 0) << first[i];
        }
        EXPECT_EQ(passBy(!native), first);
        EXPECT_EQ(FindNode(ids.back(), KIND_WIN32)->priorityClass,
                  static_cast<DWORD>(BELOW_NORMAL_PRIORITY_CLASS));

        // A new class between passes shows through either route.
        for (bool changedBy : {native, !native}) {
            DWORD priorityClass = classes[next++];
            ASSERT_TRUE(SetPriorityClass(changing, priorityClass));
            std::vector<std::string> changed = passBy(changedBy);
            EXPECT_EQ(FindNode(ids.back(), KIND_WIN32)->priorityClass, priorityClass) << changedBy;
            EXPECT_EQ(passBy(!changedBy), changed) << changedBy;
        }
    }
    for (Child& child : helpers) {
        EndChild(child);
    }
}

TEST_F(NtBackendTest, NativeTableIsAskedOncePerPassWithTheSizeThatLastSufficed) {
    ntApi = savedNtApi;
    ASSERT_NE(realApi.ntQuerySystemInformation, nullptr);
    reportedIds = {self};
    ntApi.enumProcesses = ReportIds;

    // Too small at first: the pass grows the buffer and keeps that size.
    tableSizes.clear();
    ntApi.ntQuerySystemInformation = StingySystemQuery;
    Pass();
    ASSERT_GE(tableSizes.size(), 2u);
    EXPECT_LT(tableSizes.front(), 0x40000u);
    EXPECT_GE(tableSizes.back(), 0x40000u);
    ASSERT_GE(RowOf(self), 0);
    EXPECT_GT(RowIds().size(), 1u); // the whole table, not the fake enumeration
    ULONG sufficed = tableSizes.back();
    tableSizes.clear();
    ntApi.ntQuerySystemInformation = CountingSystemQuery;
    Pass();
    Pass();
    EXPECT_EQ(tableSizes, (std::vector<ULONG>{sufficed, sufficed}));
    EXPECT_EQ(enumerationBufferSize, 0u);

    // When the call fails, EnumProcesses answers the pass.
    ntApi.ntQuerySystemInformation = FailingSystemQuery;
    Pass();
    EXPECT_EQ(enumerationBufferSize, 2048 * sizeof(DWORD));
    EXPECT_FALSE(FindNode(self, KIND_WIN32)->flags & NODE_GONE);
    int gone = 0;
    for (ProcessNode* node = processListHead; node; node = node->next) {
        gone += (node->flags & NODE_GONE) ? 1 : 0;
    }
    EXPECT_GT(gone, 0);
}

TEST_F(NtBackendTest, SuspendedProcessGetsItsRowOnceItRuns) {
    // With the image calls it is named by its image while still loading;
    // without them it is known without a row until it runs.
    for (int round = 0; round < 4; round++) {
        bool native = round % 2 == 0;
        bool imageCalls = round < 2;
        ClearProcessList(listWindow);
        ReleaseProcessHandles();
        ntApi = savedNtApi;
        if (!native) {
            ntApi.ntQuerySystemInformation = nullptr;
        }
        if (!imageCalls) {
            WithoutImageCalls();
        }
        std::string commandLine = "\"" + BinPath("tvhelper.exe") + "\"";
        std::vector<char> line(commandLine.begin(), commandLine.end());
        line.push_back(0);
        STARTUPINFOA startup;
        memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        helper.started =
            CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                           nullptr, &startup, &helper.info) != 0;
        ASSERT_TRUE(helper.started);
        DWORD helperId = helper.info.dwProcessId;

        Pass();
        ProcessNode* node = FindNode(helperId, KIND_WIN32);
        ASSERT_NE(node, nullptr) << native;
        if (imageCalls) {
            ASSERT_GE(RowOf(helperId), 0) << native;
            EXPECT_EQ(CellText(RowOf(helperId), 0), "tvhelper.exe");
            EXPECT_EQ(Lower(CellText(RowOf(helperId), 3)), Lower(BinPath("tvhelper.exe")));
        } else {
            EXPECT_TRUE(node->flags & ENTRY_NO_ACCESS) << native;
            EXPECT_EQ(RowOf(helperId), -1) << native;
            Pass();
            EXPECT_EQ(RowOf(helperId), -1) << native;
        }

        // Running: a row within two passes, highlighted as new.
        ResumeThread(helper.info.hThread);
        ASSERT_EQ(WaitForInputIdle(helper.info.hProcess, 10000), 0u);
        Pass();
        if (RowOf(helperId) == -1) {
            Pass();
        }
        int row = RowOf(helperId);
        ASSERT_GE(row, 0) << native;
        EXPECT_EQ(CellText(row, 0), "tvhelper.exe");
        EXPECT_EQ(Lower(CellText(row, 3)), Lower(BinPath("tvhelper.exe")));
        node = FindNode(helperId, KIND_WIN32);
        EXPECT_EQ(node->flags & (ENTRY_NO_ACCESS | NODE_NEW), static_cast<DWORD>(NODE_NEW));
        EXPECT_EQ(node->parentProcessId, self);
        EndChild(helper);
    }
}

TEST_F(NtBackendTest, UnreadableProcessIsReadAgainThroughItsKeptHandle) {
    ASSERT_NO_FATAL_FAILURE(StartHelper());
    DWORD helperId = helper.info.dwProcessId;
    Report({helperId});
    ntApi.enumProcessModules = FailingEnumProcessModules;
    WithoutImageCalls();
    Pass();
    EXPECT_EQ(RowOf(helperId), -1);
    EXPECT_EQ(std::string(FindNode(helperId, KIND_WIN32)->name), ToAnsi("[未知]"));
    EXPECT_EQ(KeptProcessHandleCount(), 1);

    ntApi.enumProcessModules = CountingEnumProcessModules;
    Pass();
    ASSERT_GE(RowOf(helperId), 0);
    EXPECT_EQ(readCalls.modules, 1);
    EXPECT_EQ(CellText(RowOf(helperId), 0), "tvhelper.exe");
    EXPECT_EQ(CellText(RowOf(helperId), 2), ToAnsi("高"));
    EXPECT_EQ(KeptProcessHandleCount(), 1);
    // Readable from now on: not read again.
    Pass();
    EXPECT_EQ(readCalls.modules, 1);
}

DWORD WINAPI NoBaseNameYet(HANDLE, HMODULE, char* buffer, DWORD) {
    buffer[0] = 0;
    return 0;
}

DWORD WINAPI NoWideBaseNameYet(HANDLE, HMODULE, WCHAR* buffer, DWORD) {
    buffer[0] = 0;
    return 0;
}

TEST_F(NtBackendTest, ProcessWhoseNameIsNotReadableYetGetsItsRowWithItsName) {
    ASSERT_NO_FATAL_FAILURE(StartHelper());
    DWORD helperId = helper.info.dwProcessId;
    // Its executable is listed, the name not yet there (still loading, or
    // a process that emptied its loader entry's name): the image names it
    // at once; without the image calls it is read again once readable.
    for (bool imageCalls : {true, false}) {
        ClearProcessList(listWindow);
        ReleaseProcessHandles();
        Report({helperId});
        auto savedBaseName = ntApi.getModuleBaseNameA;
        ntApi.getModuleBaseNameA = NoBaseNameYet;
        ntApi.getModuleBaseNameW = NoWideBaseNameYet;
        if (!imageCalls) {
            WithoutImageCalls();
        }
        Pass();
        EXPECT_EQ(RowOf(helperId) >= 0, imageCalls);
        ntApi.getModuleBaseNameA = savedBaseName;
        ntApi.getModuleBaseNameW = realApi.getModuleBaseNameW;
        Pass();
        ASSERT_GE(RowOf(helperId), 0) << imageCalls;
        EXPECT_EQ(CellText(RowOf(helperId), 0), "tvhelper.exe");
        EXPECT_EQ(Lower(CellText(RowOf(helperId), 3)), Lower(BinPath("tvhelper.exe")));
        ntApi = realApi;
    }
}

// The table's buffer keeps the size this test makes it grow to: it comes
// after the test of how the buffer grows.
TEST_F(NtBackendTest, AtMost2048RecordsAreReadFromTheNativeTable) {
    ntApi.ntQuerySystemInformation = OverfullSystemQuery;
    ntApi.enumProcesses = FailingEnumeration;
    Pass();
    EXPECT_EQ(NodeCount(), 2048);
    EXPECT_EQ(RowIds(), std::vector<DWORD>{self});
}

// ---------------------------------------------------------------------------
// Processes whose module list cannot be read, and ids taken over.

// A native table of one record, for this process, with the image name and
// creation time a test sets.
enum NamePlace { NAME_INSIDE, NAME_OUTSIDE, NAME_AT_BUFFER_END };
struct CraftedRecord {
    std::vector<BYTE> name; // UTF-16 bytes as the record holds them
    USHORT length;          // the length the record claims, in bytes
    NamePlace place;
    ULONGLONG createTime;
    DWORD firstId; // when set, a plain record of this process comes first
};
CraftedRecord craftedRecord;
// The record's working set and private bytes, in the program's width.
SIZE_T craftedMemory[2];

LONG WINAPI CraftedSystemQuery(ULONG infoClass, void* buffer, ULONG size, ULONG* returned) {
    const ULONG nameAt = 0x100, needed = nameAt + 0x10000;
    if (returned) {
        *returned = needed;
    }
    if (infoClass != 5 || size < needed) {
        return static_cast<LONG>(0xC0000004);
    }
    BYTE* table = static_cast<BYTE*>(buffer);
    memset(table, 0, needed);
    if (craftedRecord.firstId) {
        table[0] = 0x80; // the offset of the crafted record
        PutRecordId(table, craftedRecord.firstId);
        table += 0x80;
    }
    memcpy(table + 0x20, &craftedRecord.createTime, sizeof craftedRecord.createTime);
    memcpy(table + nameAt, craftedRecord.name.data(), craftedRecord.name.size());
    *reinterpret_cast<USHORT*>(table + 0x38) = craftedRecord.length;
    *reinterpret_cast<USHORT*>(table + 0x3A) = craftedRecord.length;
    static WCHAR outside[] = L"outside.exe";
    BYTE* name = table + nameAt;
    if (craftedRecord.place == NAME_OUTSIDE) {
        name = reinterpret_cast<BYTE*>(outside);
    } else if (craftedRecord.place == NAME_AT_BUFFER_END) {
        name = static_cast<BYTE*>(buffer) + size - 4;
    }
    memcpy(table + RECORD_NAME_ADDRESS, &name, sizeof name);
    *reinterpret_cast<LONG*>(table + RECORD_PRIORITY) = 8;
    PutRecordId(table, GetCurrentProcessId());
    memcpy(table + (sizeof(void*) == 8 ? 0x90 : 0x68), &craftedMemory[0], sizeof(SIZE_T));
    memcpy(table + (sizeof(void*) == 8 ? 0xB8 : 0x7C), &craftedMemory[1], sizeof(SIZE_T));
    return 0;
}

std::vector<BYTE> Utf16Bytes(const std::wstring& text) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.data());
    return std::vector<BYTE>(bytes, bytes + text.size() * sizeof(WCHAR));
}

TEST_F(NtBackendTest, ProcessesWithoutReadableModulesGetTheRowsTheModuleRouteGives) {
    ntApi = savedNtApi;
    std::vector<Child> helpers;
    std::vector<DWORD> ids = {self};
    for (const char* option : {"", " --priority=high", " --priority=idle"}) {
        helpers.push_back(StartChild("\"" + BinPath("tvhelper.exe") + "\"" + option));
        ASSERT_TRUE(helpers.back().started);
        ASSERT_EQ(WaitForInputIdle(helpers.back().info.hProcess, 10000), 0u);
        ids.push_back(helpers.back().info.dwProcessId);
    }
    auto firstPass = [&](bool native) {
        ClearProcessList(listWindow);
        ReleaseProcessHandles();
        ntApi.ntQuerySystemInformation = native ? realApi.ntQuerySystemInformation : nullptr;
        Pass();
        std::vector<std::string> fields;
        for (DWORD id : ids) {
            fields.push_back(NodeFields(FindNode(id, KIND_WIN32)));
        }
        return fields;
    };
    struct Case {
        const char* what;
        void (*unreadable)();
    } cases[] = {
        {"module list fails", [] { ntApi.enumProcessModules = FailingEnumProcessModules; }},
        {"module name reads empty", [] { ntApi.getModuleBaseNameW = NoWideBaseNameYet; }},
        {"drive path from the device path",
         [] {
             ntApi.enumProcessModules = FailingEnumProcessModules;
             ntApi.queryFullProcessImageNameA = nullptr;
         }},
    };
    for (bool native : {true, false}) {
        ntApi = realApi;
        std::vector<std::string> byModules = firstPass(native);
        for (size_t i = 0; i < ids.size(); i++) {
            EXPECT_EQ(byModules[i].find("|tvhelper.exe|") != std::string::npos, i > 0);
            EXPECT_EQ(byModules[i][0], '0') << byModules[i]; // a row of its own
        }
        for (const Case& c : cases) {
            ntApi = realApi;
            c.unreadable();
            EXPECT_EQ(firstPass(native), byModules) << c.what << ", native table " << native;
            for (DWORD id : ids) {
                EXPECT_GE(RowOf(id), 0) << c.what;
            }
        }
    }
    for (Child& child : helpers) {
        EndChild(child);
    }
}

TEST_F(NtBackendTest, ImageNamesFromTheNativeTableAreCopiedByTheirLength) {
    // Named by the table: no module list.
    ntApi.ntQuerySystemInformation = CraftedSystemQuery;
    ntApi.enumProcessModules = FailingEnumProcessModules;
    std::wstring doubleByte(400, L'\u8868');
    std::string doubleByteCut;
    for (int i = 0; i < 129; i++) {
        doubleByteCut += ToAnsi("\xE8\xA1\xA8");
    }
    std::wstring longName(400, L'n');
    struct Case {
        std::vector<BYTE> name;
        USHORT length;
        NamePlace place;
        std::string shown;
    } cases[] = {
        {Utf16Bytes(L"plain.exeGARBAGE"), 18, NAME_INSIDE, "plain.exe"},
        {Utf16Bytes(L"odd.exe"), 13, NAME_INSIDE, "odd.ex"},
        {Utf16Bytes(L"\u8868\u8868.exe"), 14, NAME_INSIDE, ToAnsi("\xE8\xA1\xA8\xE8\xA1\xA8.exe")},
        {Utf16Bytes(doubleByte), 800, NAME_INSIDE, doubleByteCut}, // cut between characters
        {Utf16Bytes(longName), 800, NAME_INSIDE, std::string(259, 'n')},
        // No name in the table: the image path's last part.
        {Utf16Bytes(L"far.exe"), 14, NAME_AT_BUFFER_END, OwnBaseName()}, // runs past the buffer
        {Utf16Bytes(L"far.exe"), 14, NAME_OUTSIDE, OwnBaseName()},
        {Utf16Bytes(L""), 0, NAME_INSIDE, OwnBaseName()},
    };
    // Read in the pass, and read in a slice after it waited behind a process
    // that took the pass's time: the same row.
    ULONGLONG created = ProcessCreationTime(GetCurrentProcess());
    ASSERT_NO_FATAL_FAILURE(StartHelper());
    for (DWORD first : {DWORD(0), helper.info.dwProcessId})
        for (const Case& c : cases) {
            ClearProcessList(listWindow);
            ReleaseProcessHandles();
            craftedRecord = {c.name, c.length, c.place, created, first};
            ntApi.enumProcessModules =
                first ? SlowFailingEnumProcessModules : FailingEnumProcessModules;
            RefreshPass(listWindow);
            if (first) {
                EXPECT_EQ(FindNode(self, KIND_WIN32), nullptr) << "waits";
                ASSERT_TRUE(
                    PumpUntil([] { return ReadWaitingProcesses(listWindow, 0) == 0; }, 5000));
            }
            ProcessNode* node = FindNode(self, KIND_WIN32);
            ASSERT_NE(node, nullptr) << c.shown;
            ASSERT_GE(RowOf(self), 0) << c.shown;
            EXPECT_EQ(std::string(node->name), c.shown);
            EXPECT_EQ(Lower(node->path), Lower(OwnPath()));
            EXPECT_EQ(node->priorityClass, GetPriorityClass(GetCurrentProcess()));
            EXPECT_EQ(node->createTime, created);
            Pass();
            EXPECT_EQ(FindNode(self, KIND_WIN32), node) << "one row";
        }
    // Neither name nor path: read again on a later pass, without a row.
    craftedRecord.firstId = 0;
    ntApi.enumProcessModules = FailingEnumProcessModules;
    WithoutImageCalls();
    ClearProcessList(listWindow);
    ReleaseProcessHandles();
    Pass();
    EXPECT_EQ(RowOf(self), -1);
    EXPECT_EQ(std::string(FindNode(self, KIND_WIN32)->name), ToAnsi("[未知]"));
}

// The system's 32-bit layer hands a 32-bit program a memory figure of 4 GB
// or more as the largest value its field holds: the cell says it is at
// least that much. The 64-bit program reads such figures whole. A record
// whose time is not the process's is another process's: the row takes
// neither its name nor its figures.
TEST_F(NtBackendTest, MemoryFiguresCutByTheThirtyTwoBitLayerShowAsAtLeastFourGigabytes) {
    ntApi.ntQuerySystemInformation = CraftedSystemQuery;
    ntApi.enumProcessModules = FailingEnumProcessModules;
    const ULONGLONG created = ProcessCreationTime(GetCurrentProcess());
    craftedRecord = {Utf16Bytes(L"big.exe"), 14, NAME_INSIDE, created, 0};
    const bool wide = sizeof(SIZE_T) == 8;
    const struct {
        ULONGLONG bytes;
        std::string shown;
        ULONGLONG otherTime;
    } cases[] = {
        {0xFFFFF000, "4,194,300 K", 0},
        {wide ? 0x140000000ULL : 0xFFFFFFFFULL, wide ? "5,242,880 K" : ToAnsi("≥") + "4,194,304 K",
         0},
        {0x5000000, "", 1},
    };
    ProcessNode seen[3];
    for (int i = 0; i < 3; i++) {
        craftedMemory[0] = craftedMemory[1] = static_cast<SIZE_T>(cases[i].bytes);
        craftedRecord.createTime = created + cases[i].otherTime;
        ClearProcessList(listWindow);
        ReleaseProcessHandles();
        Pass();
        ASSERT_NE(FindNode(self, KIND_WIN32), nullptr);
        seen[i] = *FindNode(self, KIND_WIN32);
        EXPECT_EQ(std::string(seen[i].name), cases[i].otherTime ? OwnBaseName() : "big.exe");
        EXPECT_EQ(seen[i].createTime, created);
        for (int kind : {CELL_WORKING_SET, CELL_PRIVATE_BYTES}) {
            char text[64];
            FormatFigure(&seen[i], kind, text);
            EXPECT_EQ(std::string(text), cases[i].shown) << kind;
        }
    }
    EXPECT_GT(CompareFigures(&seen[1], &seen[0], CELL_WORKING_SET), 0);
    craftedMemory[0] = craftedMemory[1] = 0;
}

TEST_F(NtBackendTest, DevicePathsBecomeDrivePaths) {
    char device[MAX_PATH + 1] = "";
    ASSERT_GT(QueryDosDeviceA("C:", device, MAX_PATH), 0u);
    std::string c(device);
    struct Case {
        std::string path;
        DWORD size;
        std::string expected;
    } cases[] = {
        {c + "\\windows\\notepad.exe", MAX_PATH, "C:\\windows\\notepad.exe"},
        {c, MAX_PATH, "C:"},
        {c + "0\\other.exe", MAX_PATH, c + "0\\other.exe"}, // another device
        {"C:\\already.exe", MAX_PATH, "C:\\already.exe"},
        {"\\Device\\Nowhere\\x.exe", MAX_PATH, "\\Device\\Nowhere\\x.exe"},
        {"", MAX_PATH, ""},
    };
    for (const Case& t : cases) {
        std::vector<char> buffer(t.path.begin(), t.path.end());
        buffer.resize(t.size, 0);
        DevicePathToDrivePath(buffer.data(), t.size);
        EXPECT_EQ(std::string(buffer.data()), t.expected) << t.path;
    }
    ntApi.queryDosDeviceA = nullptr;
    std::vector<char> buffer(c.begin(), c.end());
    buffer.resize(MAX_PATH, 0);
    EXPECT_EQ(DevicePathToDrivePath(buffer.data(), MAX_PATH), 0);
    EXPECT_EQ(std::string(buffer.data()), c);
}

TEST_F(NtBackendTest, IdTakenOverByANewProcessGetsARowOfItsOwn) {
    ntApi = realApi;
    ASSERT_NO_FATAL_FAILURE(StartHelper());
    DWORD id = helper.info.dwProcessId;
    Pass();
    ProcessNode* first = FindNode(id, KIND_WIN32);
    ASSERT_NE(first, nullptr);
    ASSERT_GE(RowOf(id), 0);
    ULONGLONG firstTime = first->createTime;
    EndChild(helper);
    // The passes while the id is let go mark the old row gone.
    Child newcomer = StartChildOnFreedId(id, "\"" + BinPath("tvhelper.exe") + "\"", [] { Pass(); });
    ASSERT_TRUE(newcomer.started);
    ASSERT_EQ(newcomer.info.dwProcessId, id) << "the id did not come round";
    WaitForInputIdle(newcomer.info.hProcess, 10000);
    Pass();
    ProcessNode* second = FindNode(id, KIND_WIN32);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second->createTime, firstTime);
    EXPECT_EQ(std::string(second->name), "tvhelper.exe");
    EXPECT_EQ(second->flags & (NODE_NEW | NODE_GONE), static_cast<DWORD>(NODE_NEW));

    // Once the highlights end, the one row of the id is the new process's.
    for (ProcessNode* node = processListHead; node; node = node->next) {
        node->markTime = 0;
    }
    ExpireHighlights();
    Pass();
    EXPECT_EQ(FindNode(id, KIND_WIN32), second);
    std::vector<DWORD> ids = RowIds();
    EXPECT_EQ(std::count(ids.begin(), ids.end(), id), 1);
    EXPECT_EQ(GetRowNode(RowOf(id)), second);
    EndChild(newcomer);
}

TEST_F(NtBackendTest, EndedProcessStillReportedWithoutTheTableGoes) {
    ASSERT_NO_FATAL_FAILURE(StartHelper());
    DWORD helperId = helper.info.dwProcessId;
    Report({helperId, self});
    Pass();
    ASSERT_GE(RowOf(helperId), 0);
    // Ended, while this test's handle keeps its id and the fake
    // enumeration keeps reporting it.
    ASSERT_TRUE(TerminateProcess(helper.info.hProcess, 3));
    ASSERT_EQ(WaitForSingleObject(helper.info.hProcess, 5000), WAIT_OBJECT_0);
    for (int pass = 0; pass < 2; pass++) {
        Pass();
        ProcessNode* node = FindNode(helperId, KIND_WIN32);
        ASSERT_NE(node, nullptr) << pass;
        EXPECT_TRUE(node->flags & NODE_GONE) << pass;
        EXPECT_EQ(KeptProcessHandleCount(), 1) << pass; // this process's only
    }
    FindNode(helperId, KIND_WIN32)->markTime = 0;
    ExpireHighlights();
    Pass();
    EXPECT_EQ(RowOf(helperId), -1);
    EXPECT_GE(RowOf(self), 0);
}

TEST_F(NtBackendTest, ModuleNamesAsLongAsAProcessMakesThemAreCutInEveryRoute) {
    ntApi = savedNtApi;
    helper = StartChild("\"" + BinPath("tvhelper.exe") + "\" --longname");
    ASSERT_TRUE(helper.started);
    ASSERT_EQ(WaitForInputIdle(helper.info.hProcess, 10000), 0u);
    DWORD helperId = helper.info.dwProcessId;
    std::string pattern;
    while (pattern.size() < 300) {
        pattern += "abcdefghijklmnopqrstuvwxyz";
    }
    int (*const routes[])(HWND, DWORD, ModuleVisitor, ULONG_PTR) = {ListModulesNt, ListModulesPsapi,
                                                                    ListModulesBySnapshot};
    for (int round = 0; round < 5; round++) {
        ClearProcessList(listWindow);
        ReleaseProcessHandles();
        Pass();
        ASSERT_GE(RowOf(helperId), 0) << round;
        EXPECT_EQ(CellText(RowOf(helperId), 0), pattern.substr(0, 259));
        for (auto route : routes) {
            std::vector<VisitedModule> visited;
            route(nullptr, helperId, RecordModule, reinterpret_cast<ULONG_PTR>(&visited));
            ASSERT_FALSE(visited.empty()) << round;
            EXPECT_EQ(visited[0].name.substr(0, 26), pattern.substr(0, 26));
            EXPECT_LT(visited[0].name.size(), 260u);
        }
        ASSERT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr)) << round;
    }
}

} // namespace

// Passes over the kept-handle table: what each pass reports (0 ends the
// list; a negative id is taken, forgotten as ended and kept again with a
// fresh handle), and which ids keep an open handle afterwards. An unchanged
// pass leaves the table as it is; any other closes exactly the unreported.
TEST(KeptHandleTable, EachPassKeepsExactlyTheReportedProcesses) {
    struct Step {
        int reported[4];
        int open[4];
    };
    const Step steps[] = {
        {{1, 2, 3, 0}, {1, 2, 3, 0}},  // first met: kept
        {{1, 2, 3, 0}, {1, 2, 3, 0}},  // unchanged
        {{3, 1, 0, 0}, {1, 3, 0, 0}},  // 2 not reported: closed
        {{1, 1, 3, 0}, {1, 3, 0, 0}},  // an id reported twice counts once
        {{-1, 0, 0, 0}, {1, 0, 0, 0}}, // 1 ended and its id taken over; 3 gone
        {{0, 0, 0, 0}, {0, 0, 0, 0}},
    };
    ReleaseProcessHandles();
    HANDLE handles[4] = {nullptr, nullptr, nullptr, nullptr};
    auto fresh = [] {
        HANDLE handle = nullptr;
        DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &handle, 0,
                        FALSE, DUPLICATE_SAME_ACCESS);
        return handle;
    };
    for (size_t s = 0; s < sizeof steps / sizeof steps[0]; s++) {
        SCOPED_TRACE(testing::Message() << "pass " << s);
        bool reported[4] = {false, false, false, false};
        BeginHandlePass();
        for (int id : steps[s].reported) {
            if (id == 0) {
                break;
            }
            int which = id < 0 ? -id : id;
            KeptProcess* kept = TakeKeptProcess(which);
            if (kept && id < 0) {
                ForgetKeptProcess(kept);
                kept = nullptr;
            }
            if (!kept && !reported[which]) {
                handles[which] = fresh();
                ASSERT_NE(KeepProcessHandle(which, handles[which]), nullptr);
            }
            reported[which] = true;
        }
        EndHandlePass();
        int expected = 0;
        for (int id : steps[s].open) {
            if (id == 0) {
                break;
            }
            expected++;
            KeptProcess* kept = TakeKeptProcess(id);
            ASSERT_NE(kept, nullptr) << id;
            EXPECT_EQ(kept->handle, handles[id]);
        }
        EXPECT_EQ(KeptProcessHandleCount(), expected);
        for (int id = 1; id < 4; id++) {
            DWORD flags = 0;
            bool keptOpen = std::count(steps[s].open, steps[s].open + 4, id) != 0;
            EXPECT_EQ(handles[id] && GetHandleInformation(handles[id], &flags) != 0, keptOpen)
                << id;
            if (!keptOpen) {
                handles[id] = nullptr; // its value may come back for another handle
            }
        }
    }
    ReleaseProcessHandles();
}
