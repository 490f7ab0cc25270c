// The Windows 95 family back-end: process passes into the real six-column
// list, thread, heap, block and module lists in real list boxes, and the
// module name read from 16-bit executables. A Windows 95 system's snapshots
// are played through the toolhelpApi table; this Wine's own Toolhelp, its
// 16-bit files and a copy of tolvane.exe run as Windows 98 are used for real.
#include "listfixture.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "sysinfo/backend.h"
#include "sysinfo/processhandles.h"
#include "sysinfo/toolhelp.h"
#include "testutil.h"

#include <commctrl.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

const DWORD NOBODY = 0x7FFF0000; // ids from here on belong to no real process

// ---------------------------------------------------------------------------
// A Windows 95 system as the Toolhelp functions show it.

struct FakeModule {
    DWORD id;
    std::string name;
    std::string path;
    DWORD base;
    DWORD size;
};

struct FakeProcess {
    DWORD id;
    DWORD parent;
    DWORD moduleId;
    DWORD threads;
    LONG basePriority;
    std::string exeFile;
    std::vector<FakeModule> modules;
    bool moduleSnapshotFails;
};

struct FakeThread {
    DWORD id;
    DWORD owner;
    LONG base;
    LONG delta;
};

struct FakeBlock {
    DWORD address;
    DWORD size;
    DWORD flags;
};

struct FakeHeap {
    DWORD id;
    DWORD flags;
    std::vector<FakeBlock> blocks;
};

struct Snapshot {
    DWORD flags;
    DWORD processId;
    size_t next;
};

struct FakeSystem {
    std::vector<FakeProcess> processes;
    std::vector<FakeThread> threads;
    std::map<DWORD, std::vector<FakeHeap>> heaps; // by process id
    DWORD failingKinds;                           // snapshots of these kinds fail
    std::map<HANDLE, Snapshot> snapshots;
    std::vector<std::pair<HANDLE, HANDLE>> created; // the handle given out, our duplicate
    std::vector<DWORD> requestedKinds;
    std::vector<std::string> misuses;
};
FakeSystem fake;

FakeProcess* FindFakeProcess(DWORD processId) {
    for (FakeProcess& process : fake.processes) {
        if (process.id == processId) {
            return &process;
        }
    }
    return nullptr;
}

const FakeHeap* FindFakeHeap(DWORD processId, ULONG_PTR heapId) {
    auto heaps = fake.heaps.find(processId);
    if (heaps == fake.heaps.end()) {
        return nullptr;
    }
    for (const FakeHeap& heap : heaps->second) {
        if (heap.id == heapId) {
            return &heap;
        }
    }
    return nullptr;
}

// The snapshot a First/Next call walks, or null (with the reason noted) when
// the handle is not an open snapshot of that kind or the record is too small.
Snapshot* Walk(HANDLE handle, DWORD kind, DWORD recordSize, DWORD neededSize, bool first,
               const char* call) {
    DWORD handleFlags;
    auto found = fake.snapshots.find(handle);
    if (found == fake.snapshots.end() || !(found->second.flags & kind) ||
        !GetHandleInformation(handle, &handleFlags)) {
        fake.misuses.push_back(std::string(call) + " on a handle that is no open snapshot of it");
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (recordSize < neededSize) {
        fake.misuses.push_back(std::string(call) + " with a record size too small");
        SetLastError(ERROR_BAD_LENGTH);
        return nullptr;
    }
    if (first) {
        found->second.next = 0;
    }
    return &found->second;
}

HANDLE WINAPI FakeCreateSnapshot(DWORD flags, DWORD processId) {
    fake.requestedKinds.push_back(flags);
    if (flags & fake.failingKinds) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    if (flags & TH32CS_SNAPMODULE) {
        FakeProcess* process = FindFakeProcess(processId);
        if (!process || process->moduleSnapshotFails) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
    }
    // A real handle, which the product closes; a duplicate tells later
    // whether the handle still refers to this snapshot.
    HANDLE handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE witness = nullptr;
    DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &witness, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    fake.snapshots[handle] = Snapshot{flags, processId, 0};
    fake.created.push_back({handle, witness});
    return handle;
}

// Copies a text into a record's field; one as long as the field or longer
// fills it to its end, without a terminator.
template <size_t size> void FillField(char (&field)[size], const std::string& text) {
    memcpy(field, text.data(), std::min(size, text.size()));
    if (text.size() < size) {
        field[text.size()] = 0;
    }
}

BOOL NoMoreEntries() {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
}

BOOL NextProcess(HANDLE handle, PROCESSENTRY32* entry, bool first) {
    Snapshot* snapshot = Walk(handle, TH32CS_SNAPPROCESS, entry->dwSize, sizeof *entry, first,
                              first ? "Process32First" : "Process32Next");
    if (!snapshot) {
        return FALSE;
    }
    if (snapshot->next >= fake.processes.size()) {
        return NoMoreEntries();
    }
    const FakeProcess& process = fake.processes[snapshot->next++];
    DWORD size = entry->dwSize;
    memset(entry, 0, sizeof *entry);
    entry->dwSize = size;
    entry->cntUsage = 1;
    entry->th32ProcessID = process.id;
    entry->th32DefaultHeapID = 0x00400000;
    entry->th32ModuleID = process.moduleId;
    entry->cntThreads = process.threads;
    entry->th32ParentProcessID = process.parent;
    entry->pcPriClassBase = process.basePriority;
    FillField(entry->szExeFile, process.exeFile);
    return TRUE;
}

BOOL WINAPI FakeProcess32First(HANDLE handle, PROCESSENTRY32* entry) {
    return NextProcess(handle, entry, true);
}

BOOL WINAPI FakeProcess32Next(HANDLE handle, PROCESSENTRY32* entry) {
    return NextProcess(handle, entry, false);
}

BOOL NextModule(HANDLE handle, MODULEENTRY32* entry, bool first) {
    Snapshot* snapshot = Walk(handle, TH32CS_SNAPMODULE, entry->dwSize, sizeof *entry, first,
                              first ? "Module32First" : "Module32Next");
    if (!snapshot) {
        return FALSE;
    }
    FakeProcess* process = FindFakeProcess(snapshot->processId);
    if (!process || snapshot->next >= process->modules.size()) {
        return NoMoreEntries();
    }
    const FakeModule& module = process->modules[snapshot->next++];
    DWORD size = entry->dwSize;
    memset(entry, 0, sizeof *entry);
    entry->dwSize = size;
    entry->th32ModuleID = module.id;
    entry->th32ProcessID = process->id;
    entry->GlblcntUsage = 1;
    entry->ProccntUsage = 1;
    entry->modBaseAddr = reinterpret_cast<BYTE*>(static_cast<DWORD_PTR>(module.base));
    entry->modBaseSize = module.size;
    entry->hModule = reinterpret_cast<HMODULE>(static_cast<DWORD_PTR>(module.base));
    FillField(entry->szModule, module.name);
    FillField(entry->szExePath, module.path);
    return TRUE;
}

BOOL WINAPI FakeModule32First(HANDLE handle, MODULEENTRY32* entry) {
    return NextModule(handle, entry, true);
}

BOOL WINAPI FakeModule32Next(HANDLE handle, MODULEENTRY32* entry) {
    return NextModule(handle, entry, false);
}

BOOL NextThread(HANDLE handle, THREADENTRY32* entry, bool first) {
    Snapshot* snapshot = Walk(handle, TH32CS_SNAPTHREAD, entry->dwSize, sizeof *entry, first,
                              first ? "Thread32First" : "Thread32Next");
    if (!snapshot) {
        return FALSE;
    }
    if (snapshot->next >= fake.threads.size()) {
        return NoMoreEntries();
    }
    const FakeThread& thread = fake.threads[snapshot->next++];
    DWORD size = entry->dwSize;
    memset(entry, 0, sizeof *entry);
    entry->dwSize = size;
    entry->th32ThreadID = thread.id;
    entry->th32OwnerProcessID = thread.owner;
    entry->tpBasePri = thread.base;
    entry->tpDeltaPri = thread.delta;
    return TRUE;
}

BOOL WINAPI FakeThread32First(HANDLE handle, THREADENTRY32* entry) {
    return NextThread(handle, entry, true);
}

BOOL WINAPI FakeThread32Next(HANDLE handle, THREADENTRY32* entry) {
    return NextThread(handle, entry, false);
}

BOOL NextHeapList(HANDLE handle, HEAPLIST32* list, bool first) {
    Snapshot* snapshot = Walk(handle, TH32CS_SNAPHEAPLIST, list->dwSize, sizeof *list, first,
                              first ? "Heap32ListFirst" : "Heap32ListNext");
    if (!snapshot) {
        return FALSE;
    }
    auto heaps = fake.heaps.find(snapshot->processId);
    if (heaps == fake.heaps.end() || snapshot->next >= heaps->second.size()) {
        return NoMoreEntries();
    }
    const FakeHeap& heap = heaps->second[snapshot->next++];
    list->th32ProcessID = snapshot->processId;
    list->th32HeapID = heap.id;
    list->dwFlags = heap.flags;
    return TRUE;
}

BOOL WINAPI FakeHeap32ListFirst(HANDLE handle, HEAPLIST32* list) {
    return NextHeapList(handle, list, true);
}

BOOL WINAPI FakeHeap32ListNext(HANDLE handle, HEAPLIST32* list) {
    return NextHeapList(handle, list, false);
}

// The walk's position lives in the record, as with the real functions.
BOOL FillBlock(HEAPENTRY32* entry, DWORD processId, ULONG_PTR heapId, DWORD index) {
    const FakeHeap* heap = FindFakeHeap(processId, heapId);
    if (!heap || index >= heap->blocks.size()) {
        return NoMoreEntries();
    }
    const FakeBlock& block = heap->blocks[index];
    DWORD size = entry->dwSize;
    memset(entry, 0, sizeof *entry);
    entry->dwSize = size;
    entry->hHandle = reinterpret_cast<HANDLE>(static_cast<DWORD_PTR>(block.address));
    entry->dwAddress = block.address;
    entry->dwBlockSize = block.size;
    entry->dwFlags = block.flags;
    entry->dwResvd = index + 1;
    entry->th32ProcessID = processId;
    entry->th32HeapID = heapId;
    return TRUE;
}

BOOL WINAPI FakeHeap32First(HEAPENTRY32* entry, DWORD processId, ULONG_PTR heapId) {
    if (entry->dwSize < sizeof *entry) {
        fake.misuses.push_back("Heap32First with a record size too small");
        SetLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    return FillBlock(entry, processId, heapId, 0);
}

BOOL WINAPI FakeHeap32Next(HEAPENTRY32* entry) {
    if (entry->dwSize < sizeof *entry) {
        fake.misuses.push_back("Heap32Next with a record size too small");
        SetLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    return FillBlock(entry, entry->th32ProcessID, entry->th32HeapID, entry->dwResvd);
}

const ToolhelpApi fakeToolhelp = {
    FakeCreateSnapshot, FakeModule32First, FakeModule32Next, FakeProcess32First,
    FakeProcess32Next,  FakeThread32First, FakeThread32Next, FakeHeap32ListFirst,
    FakeHeap32ListNext, FakeHeap32First,   FakeHeap32Next,
};

// Whether `handle` is still open on the event `witness` refers to: its value
// may have been closed and given to another object since.
bool StillOpen(HANDLE handle, HANDLE witness) {
    DWORD flags;
    if (!GetHandleInformation(handle, &flags)) {
        return false;
    }
    SetEvent(witness);
    bool set = WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
    ResetEvent(witness);
    bool reset = WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
    return set && reset;
}

// Installs the fake system and checks, at the end, that every snapshot the
// product took was walked correctly and closed.
class FakeToolhelp {
  public:
    void Install() {
        saved = toolhelpApi;
        fake = FakeSystem{};
        toolhelpApi = fakeToolhelp;
    }
    void Restore() {
        for (const std::string& misuse : fake.misuses) {
            ADD_FAILURE() << misuse;
        }
        for (const auto& snapshot : fake.created) {
            if (StillOpen(snapshot.first, snapshot.second)) {
                ADD_FAILURE() << "a snapshot of kind " << fake.snapshots[snapshot.first].flags
                              << " was left open";
                CloseHandle(snapshot.first);
            }
            CloseHandle(snapshot.second);
        }
        fake = FakeSystem{};
        toolhelpApi = saved;
    }

  private:
    ToolhelpApi saved;
};

// ---------------------------------------------------------------------------
// Files.

std::string TempFolder() {
    char path[MAX_PATH];
    GetTempPathA(sizeof path, path);
    std::string folder = std::string(path) + "tolvane_toolhelp\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

std::string ReadWholeFile(const std::string& path) {
    std::string data;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return data;
    }
    data.resize(GetFileSize(file, nullptr));
    DWORD read = 0;
    if (!data.empty()) {
        ReadFile(file, &data[0], static_cast<DWORD>(data.size()), &read, nullptr);
    }
    data.resize(read);
    CloseHandle(file);
    return data;
}

void WriteWholeFile(const std::string& path, const std::string& data) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(written, data.size());
}

std::string SystemFolder() {
    char path[MAX_PATH];
    GetSystemDirectoryA(path, sizeof path);
    return path;
}

std::string WindowsFolder() {
    char path[MAX_PATH];
    GetWindowsDirectoryA(path, sizeof path);
    return path;
}

// Wine's kernel in its 16-bit form; its resident name is KERNEL.
std::string Kernel16Path() {
    for (const char* name : {"krnl386.exe16", "krnl386.exe"}) {
        std::string path = SystemFolder() + "\\" + name;
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return path;
        }
    }
    return "";
}

void PutDword(std::string& data, size_t offset, DWORD value) {
    for (int i = 0; i < 4; i++) {
        data[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

void PutWord(std::string& data, size_t offset, WORD value) {
    data[offset] = static_cast<char>(value & 0xFF);
    data[offset + 1] = static_cast<char>(value >> 8);
}

// A hand-made 16-bit executable: MZ header, NE header at `newHeader`, the
// resident-name table `tableOffset` bytes after it with `name`, whose length
// byte is `lengthByte` (the name's length when negative). Nothing follows.
std::string MakeNeFile(DWORD newHeader, WORD tableOffset, const std::string& name,
                       int lengthByte = -1) {
    size_t size = std::max<size_t>(newHeader + 0x28, newHeader + tableOffset + 1 + name.size());
    std::string data(size, '\0');
    data[0] = 'M';
    data[1] = 'Z';
    PutDword(data, 0x3C, newHeader);
    data[newHeader] = 'N';
    data[newHeader + 1] = 'E';
    PutWord(data, newHeader + 0x26, tableOffset);
    data[newHeader + tableOffset] =
        static_cast<char>(lengthByte < 0 ? static_cast<int>(name.size()) : lengthByte);
    memcpy(&data[newHeader + tableOffset + 1], name.data(), name.size());
    return data;
}

// ReadNeModuleName into a buffer full of 'X', which shows what was written.
struct NameResult {
    int result;
    std::string buffer; // the whole buffer
    std::string name;   // up to the first zero
};

NameResult ReadName(const std::string& path, WORD size) {
    std::vector<char> buffer(size + 8, 'X');
    NameResult read;
    read.result = ReadNeModuleName(path.c_str(), buffer.data(), size);
    read.buffer.assign(buffer.begin(), buffer.end());
    read.name = std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
    return read;
}

// ---------------------------------------------------------------------------
// Real list boxes.

HWND CreateListBox(bool sorted) {
    HWND listBox = CreateWindowA("LISTBOX", "", WS_POPUP | (sorted ? LBS_SORT : 0), 0, 0, 300, 200,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    EXPECT_NE(listBox, nullptr);
    return listBox;
}

std::multiset<std::string> AsSet(const std::vector<std::string>& rows) {
    return std::multiset<std::string>(rows.begin(), rows.end());
}

// ---------------------------------------------------------------------------
// The fixtures.

// Thread, heap, block and module lists: no main window.
class ToolhelpListsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PrepareProgramClasses();
        hexProcessId = 0;
        toolhelp.Install();
        listBox = CreateListBox(false);
    }
    void TearDown() override {
        DestroyWindow(listBox);
        hexProcessId = 0;
        ntFamily = 1;
        toolhelp.Restore();
    }
    FakeToolhelp toolhelp;
    HWND listBox = nullptr;
};

// Process passes into the real main window with the 95 family's columns.
class ToolhelpPassTest : public ListFixture {
  protected:
    void SetUp() override {
        // Loading the entry points fills the Toolhelp table too: first.
        PrepareProgramClasses();
        toolhelp.Install();
        CreateMainWindowFor(0);
    }
    void TearDown() override {
        ListFixture::TearDown();
        toolhelp.Restore();
    }
    static void ExpireNow() {
        for (ProcessNode* node = processListHead; node; node = node->next) {
            node->markTime = 0;
        }
        ExpireHighlights();
    }
    FakeToolhelp toolhelp;
};

FakeProcess Process(DWORD id, const std::string& exeFile, DWORD moduleId,
                    std::vector<FakeModule> modules) {
    FakeProcess process;
    process.id = id;
    process.parent = 0;
    process.moduleId = moduleId;
    process.threads = 1;
    process.basePriority = 8;
    process.exeFile = exeFile;
    process.modules = std::move(modules);
    process.moduleSnapshotFails = false;
    return process;
}

// ---------------------------------------------------------------------------
// Process passes.

TEST_F(ToolhelpPassTest, Win95SnapshotFillsTheSixColumns) {
    std::string kernel16 = Kernel16Path();
    ASSERT_FALSE(kernel16.empty()) << "no 16-bit kernel file in " << SystemFolder();

    // A real process with a known priority class, for OpenProcess and
    // GetPriorityClass.
    Child helper =
        StartChild("\"" + BinPath("tvhelper.exe") + "\" --priority=high --lifetime=60000");
    ASSERT_TRUE(helper.started);
    ASSERT_TRUE(PumpUntil(
        [&] { return GetPriorityClass(helper.info.hProcess) == HIGH_PRIORITY_CLASS; }, 10000));
    DWORD helperId = helper.info.dwProcessId;

    // A 32-bit program: its module is found by id, not by position, and the
    // paths match ignoring case.
    FakeProcess win32 =
        Process(helperId, "c:\\apps\\helper.exe", 0x21,
                {{0x20, "KERNEL32", "C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL", 0xBFF70000, 0x56000},
                 {0x21, "HELPER", "C:\\APPS\\HELPER.EXE", 0x00400000, 0x8000}});
    win32.parent = NOBODY + 0x100;
    win32.threads = 3;
    win32.basePriority = 13;
    // A 16-bit program: its file is not its module's, the name comes from the file.
    FakeProcess win16 =
        Process(NOBODY + 0x200, kernel16, 0x30,
                {{0x30, "WINOA386", "C:\\WINDOWS\\SYSTEM\\WINOA386.MOD", 0x10000, 0x1000}});
    // A 16-bit program whose file cannot be read: the module's name.
    FakeProcess lost16 =
        Process(NOBODY + 0x300, "C:\\NOWHERE\\GONE.EXE", 0x40,
                {{0x40, "GONE16", "C:\\WINDOWS\\SYSTEM\\WINOA386.MOD", 0x10000, 0x1000}});
    // Module id 0 and only the file's name, as NT-style Toolhelp gives: the
    // first module, and the path from it.
    FakeProcess ntStyle =
        Process(NOBODY + 0x400, "FIRST.EXE", 0,
                {{1, "first.exe", "C:\\X\\FIRST.EXE", 0x00400000, 0x3000},
                 {1, "ntdll.dll", "C:\\WINDOWS\\SYSTEM32\\NTDLL.DLL", 0x7BC00000, 0x90000}});
    // Skipped: no module snapshot, or no module with the process's id.
    FakeProcess noModules = Process(NOBODY + 0x500, "C:\\X\\DENIED.EXE", 0x50,
                                    {{0x50, "DENIED", "C:\\X\\DENIED.EXE", 0x00400000, 0x1000}});
    noModules.moduleSnapshotFails = true;
    FakeProcess wrongId = Process(NOBODY + 0x600, "C:\\X\\ORPHAN.EXE", 0x60,
                                  {{0x61, "ORPHAN", "C:\\X\\ORPHAN.EXE", 0x00400000, 0x1000}});
    fake.processes = {win32, win16, lost16, ntStyle, noModules, wrongId};

    RefreshPass(listWindow);
    EndChild(helper);

    EXPECT_EQ(SendMessageA(listWindow, LVM_GETITEMCOUNT, 0, 0), 4);
    int row = RowOf(helperId);
    ASSERT_NE(row, -1);
    EXPECT_EQ(CellText(row, 0), "HELPER");
    EXPECT_EQ(CellText(row, 1), std::to_string(helperId));
    EXPECT_EQ(CellText(row, 2), "13  (" + ToAnsi("高") + ")");
    EXPECT_EQ(CellText(row, 3), "3");
    EXPECT_EQ(CellText(row, 4), "32-Bit");
    EXPECT_EQ(CellText(row, 5), "c:\\apps\\helper.exe");
    ProcessNode* node = FindNode(helperId, KIND_WIN32);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->parentProcessId, NOBODY + 0x100);
    EXPECT_EQ(node->priorityClass, static_cast<DWORD>(HIGH_PRIORITY_CLASS));
    EXPECT_EQ(node->basePriority, 13);

    row = RowOf(NOBODY + 0x200, KIND_WIN16);
    ASSERT_NE(row, -1);
    EXPECT_EQ(CellText(row, 0), "KERNEL");
    EXPECT_EQ(CellText(row, 2), "8  ()"); // no such process to open: no class
    EXPECT_EQ(CellText(row, 3), "1");
    EXPECT_EQ(CellText(row, 4), "16-Bit");
    EXPECT_EQ(CellText(row, 5), kernel16);

    row = RowOf(NOBODY + 0x300, KIND_WIN16);
    ASSERT_NE(row, -1);
    EXPECT_EQ(CellText(row, 0), "GONE16");
    EXPECT_EQ(CellText(row, 4), "16-Bit");

    row = RowOf(NOBODY + 0x400, KIND_WIN32);
    ASSERT_NE(row, -1);
    EXPECT_EQ(CellText(row, 0), "first.exe");
    EXPECT_EQ(CellText(row, 4), "32-Bit");
    EXPECT_EQ(CellText(row, 5), "C:\\X\\FIRST.EXE");

    for (DWORD skipped : {NOBODY + 0x500, NOBODY + 0x600}) {
        EXPECT_EQ(FindNode(skipped, KIND_WIN32), nullptr) << skipped;
        EXPECT_EQ(FindNode(skipped, KIND_WIN16), nullptr) << skipped;
    }
}

TEST_F(ToolhelpPassTest, SixteenBitFileWithAnEmptyResidentNameTakesTheModuleName) {
    std::string folder = TempFolder();
    const std::string names[] = {std::string(), std::string("\0NAME", 5)};
    std::vector<std::string> paths;
    std::vector<FakeProcess> processes;
    for (size_t i = 0; i < 2; i++) {
        paths.push_back(folder + "noname" + std::to_string(i) + ".exe");
        WriteWholeFile(paths[i], MakeNeFile(0x40, 0x40, names[i]));
        EXPECT_EQ(ReadName(paths[i], 260).result, 0) << i;
        processes.push_back(
            Process(NOBODY + 0x700 + static_cast<DWORD>(i), paths[i], 0x70,
                    {{0x70, "NONAME16", "C:\\WINDOWS\\SYSTEM\\WINOA386.MOD", 0x10000, 0x1000}}));
    }
    fake.processes = processes;
    RefreshPass(listWindow);
    for (size_t i = 0; i < 2; i++) {
        int row = RowOf(NOBODY + 0x700 + static_cast<DWORD>(i), KIND_WIN16);
        ASSERT_NE(row, -1) << i;
        EXPECT_EQ(CellText(row, 0), "NONAME16") << i;
        EXPECT_EQ(CellText(row, 5), paths[i]) << i;
        DeleteFileA(paths[i].c_str());
    }
}

TEST_F(ToolhelpPassTest, ThreeThousandProcessesAllGetTheirRows) {
    for (DWORD i = 0; i < 3000; i++) {
        std::string path = "C:\\P\\P" + std::to_string(i) + ".EXE";
        fake.processes.push_back(Process(NOBODY + i, path, 1, {{1, "P", path, 0x400000, 0x1000}}));
    }
    RefreshPass(listWindow);
    EXPECT_EQ(RowIds().size(), 3000u);
    EXPECT_NE(RowOf(NOBODY + 2999), -1);
    EXPECT_TRUE(fake.misuses.empty());
}

TEST_F(ToolhelpPassTest, SkippedProcessGoesStaleAndTheResultTellsWhetherAnyProcessCame) {
    FakeProcess kept = Process(NOBODY + 0x10, "C:\\A\\KEPT.EXE", 1,
                               {{1, "KEPT", "C:\\A\\KEPT.EXE", 0x00400000, 0x1000}});
    FakeProcess lost = Process(NOBODY + 0x20, "C:\\A\\LOST.EXE", 2,
                               {{2, "LOST", "C:\\A\\LOST.EXE", 0x00400000, 0x1000}});
    fake.processes = {kept, lost};
    RefreshPass(listWindow);
    ASSERT_NE(RowOf(NOBODY + 0x20), -1);
    // Plain rows: the new-row highlights have ended.
    ExpireNow();
    RefreshPass(listWindow);

    // Its modules cannot be read any more: treated like an ended process,
    // marked gone first, removed once the mark expires.
    FindFakeProcess(NOBODY + 0x20)->moduleSnapshotFails = true;
    RefreshPass(listWindow);
    ProcessNode* node = FindNode(NOBODY + 0x20, KIND_WIN32);
    ASSERT_NE(node, nullptr);
    EXPECT_NE(RowOf(NOBODY + 0x20), -1);
    EXPECT_TRUE(node->flags & NODE_GONE);
    EXPECT_FALSE(FindNode(NOBODY + 0x10, KIND_WIN32)->flags & NODE_GONE);
    ExpireNow();
    RefreshPass(listWindow);
    EXPECT_EQ(RowOf(NOBODY + 0x20), -1);
    EXPECT_NE(RowOf(NOBODY + 0x10), -1);

    // Every process skipped: still a snapshot that held processes.
    FindFakeProcess(NOBODY + 0x10)->moduleSnapshotFails = true;
    EXPECT_EQ(EnumerateProcessesToolhelp(listWindow), 1);
    // An empty snapshot, and one that cannot be taken.
    fake.processes.clear();
    EXPECT_EQ(EnumerateProcessesToolhelp(listWindow), 0);
    fake.failingKinds = TH32CS_SNAPPROCESS;
    EXPECT_EQ(EnumerateProcessesToolhelp(listWindow), 0);
    EXPECT_EQ(SendMessageA(listWindow, LVM_GETITEMCOUNT, 0, 0), 1);
}

TEST_F(ToolhelpPassTest, KnownProcessIsAskedOnlyWhatTheMergeCompares) {
    Child helper =
        StartChild("\"" + BinPath("tvhelper.exe") + "\" --priority=high --lifetime=60000");
    ASSERT_TRUE(helper.started);
    ASSERT_TRUE(PumpUntil(
        [&] { return GetPriorityClass(helper.info.hProcess) == HIGH_PRIORITY_CLASS; }, 10000));
    DWORD helperId = helper.info.dwProcessId;
    fake.processes = {Process(helperId, "C:\\APPS\\HELPER.EXE", 0x21,
                              {{0x21, "HELPER", "C:\\APPS\\HELPER.EXE", 0x00400000, 0x8000}})};
    auto moduleSnapshots = [] {
        return std::count(fake.requestedKinds.begin(), fake.requestedKinds.end(),
                          static_cast<DWORD>(TH32CS_SNAPMODULE));
    };
    RefreshPass(listWindow);
    ASSERT_NE(RowOf(helperId), -1);
    EXPECT_EQ(moduleSnapshots(), 1);
    EXPECT_EQ(KeptProcessHandleCount(), 1);

    // Thread count and class still follow the process; its module is not
    // looked up again.
    ExpireNow();
    RefreshPass(listWindow);
    FindFakeProcess(helperId)->threads = 7;
    // The snapshot's base priority follows the class, as on Windows 95.
    FindFakeProcess(helperId)->basePriority = 4;
    ASSERT_TRUE(SetPriorityClass(helper.info.hProcess, IDLE_PRIORITY_CLASS));
    RefreshPass(listWindow);
    RefreshPass(listWindow);
    int row = RowOf(helperId);
    ASSERT_NE(row, -1);
    EXPECT_EQ(CellText(row, 0), "HELPER");
    EXPECT_EQ(CellText(row, 2), "8  (" + ToAnsi("空闲") + ")");
    EXPECT_EQ(CellText(row, 3), "7");
    EXPECT_EQ(moduleSnapshots(), 1);
    EXPECT_EQ(KeptProcessHandleCount(), 1);

    // No longer reported: its handle is closed.
    fake.processes.clear();
    RefreshPass(listWindow);
    EXPECT_EQ(KeptProcessHandleCount(), 0);

    // Reported again with no handle kept for it: the id may have gone to a
    // new process, which gets a row of its own; the old row goes.
    ProcessNode* old = FindNode(helperId, KIND_WIN32);
    ASSERT_NE(old, nullptr);
    fake.processes = {Process(helperId, "C:\\APPS\\OTHER.EXE", 0x22,
                              {{0x22, "OTHER", "C:\\APPS\\OTHER.EXE", 0x00400000, 0x8000}})};
    RefreshPass(listWindow);
    ProcessNode* now = FindNode(helperId, KIND_WIN32);
    ASSERT_NE(now, nullptr);
    EXPECT_NE(now, old);
    EXPECT_EQ(std::string(now->name), "OTHER");
    EXPECT_TRUE(old->flags & NODE_GONE);
    EndChild(helper);
}

// ---------------------------------------------------------------------------
// Threads.

TEST_F(ToolhelpListsTest, ThreadRowsOfTheWantedProcessWithPriorityTexts) {
    const DWORD owner = NOBODY + 4;
    const DWORD other = NOBODY + 8;
    fake.threads = {
        {0x111, other, 8, 0}, {0xABC, owner, 8, 0},  {0xFFFFFFF0, owner, 4, -15},
        {0x20, owner, 8, -2}, {0x21, owner, 8, -1},  {0x22, owner, 8, 1},
        {0x23, owner, 8, 2},  {0x24, owner, 16, 15}, {0x25, owner, 8, 3},
        {0x26, owner, 8, -3}, {0x222, other, 8, 1},
    };
    EXPECT_EQ(ListThreadsToolhelp(listBox, owner), 1);
    std::vector<std::string> decimal = {
        "00002748\t8 " + ToAnsi("(普通)"),
        "4294967280\t-11 " + ToAnsi("(空闲)"),
        "00000032\t6 " + ToAnsi("(最低)"),
        "00000033\t7 " + ToAnsi("(低于普通)"),
        "00000034\t9 " + ToAnsi("(高于普通)"),
        "00000035\t10 " + ToAnsi("(最高)"),
        "00000036\t31 " + ToAnsi("(实时)"),
        "00000037\t11 ",
        "00000038\t5 ",
    };
    EXPECT_EQ(ListBoxRows(listBox), decimal);

    // Hexadecimal ids, into a sorting list box.
    HWND sorted = CreateListBox(true);
    hexProcessId = 1;
    EXPECT_EQ(ListThreadsToolhelp(sorted, owner), 1);
    std::vector<std::string> hex = {
        "00000abc\t8 " + ToAnsi("(普通)"),
        "fffffff0\t-11 " + ToAnsi("(空闲)"),
        "00000020\t6 " + ToAnsi("(最低)"),
        "00000021\t7 " + ToAnsi("(低于普通)"),
        "00000022\t9 " + ToAnsi("(高于普通)"),
        "00000023\t10 " + ToAnsi("(最高)"),
        "00000024\t31 " + ToAnsi("(实时)"),
        "00000025\t11 ",
        "00000026\t5 ",
    };
    EXPECT_EQ(AsSet(ListBoxRows(sorted)), AsSet(hex));
    DestroyWindow(sorted);
}

TEST_F(ToolhelpListsTest, ThreadListResultFollowsTheSnapshotsFirstThread) {
    // The first thread is another process's: read, so 1, and no rows.
    fake.threads = {{0x10, NOBODY + 8, 8, 0}};
    EXPECT_EQ(ListThreadsToolhelp(listBox, NOBODY + 4), 1);
    EXPECT_EQ(ListBoxRows(listBox).size(), 0u);

    fake.threads.clear();
    EXPECT_EQ(ListThreadsToolhelp(listBox, NOBODY + 4), 0);
    fake.threads = {{0x10, NOBODY + 4, 8, 0}};
    fake.failingKinds = TH32CS_SNAPTHREAD;
    EXPECT_EQ(ListThreadsToolhelp(listBox, NOBODY + 4), 0);
    EXPECT_EQ(ListBoxRows(listBox).size(), 0u);
}

// ---------------------------------------------------------------------------
// Heaps and blocks.

TEST_F(ToolhelpListsTest, HeapRowsTotalUsedAndFreeWithTheirFlags) {
    const DWORD owner = NOBODY + 4;
    fake.heaps[owner] = {
        {0x00410000,
         HF32_DEFAULT,
         {{0x00410020, 100, LF32_FIXED},
          {0x00410090, 50, LF32_FREE},
          {0x004100D0, 30, LF32_MOVEABLE},
          {0x00410100, 20, LF32_FREE | LF32_MOVEABLE}}},
        {0x00520000, HF32_SHARED, {}},
        {0x00630000, HF32_DEFAULT | HF32_SHARED, {{0x00630010, 0x90000000, LF32_FIXED}}},
        {0x00740000, 0, {{0x00740010, 64, LF32_FREE}}},
    };
    fake.heaps[NOBODY + 8] = {{0x00850000, HF32_DEFAULT, {{0x00850010, 7, LF32_FIXED}}}};

    ListHeapsToolhelp(listBox, owner);
    std::vector<std::string> rows = {
        "00410000\t     200\t     130\t      70\t" + ToAnsi("默认") + " ",
        "00520000\t       0\t       0\t       0\t " + ToAnsi("共享"),
        "00630000\t2415919104\t2415919104\t       0\t" + ToAnsi("默认 共享"),
        "00740000\t      64\t       0\t      64\t ",
    };
    EXPECT_EQ(ListBoxRows(listBox), rows);

    // No heap list: nothing, quietly.
    HWND second = CreateListBox(false);
    fake.failingKinds = TH32CS_SNAPHEAPLIST;
    ListHeapsToolhelp(second, owner);
    EXPECT_EQ(ListBoxRows(second).size(), 0u);
    DestroyWindow(second);
}

TEST_F(ToolhelpListsTest, BlockRowsOfOneHeapWithFreeMarks) {
    const DWORD owner = NOBODY + 4;
    fake.heaps[owner] = {
        {0x00410000, HF32_DEFAULT, {{0x00410020, 100, LF32_FIXED}, {0x00410090, 50, LF32_FREE}}},
        {0x00520000, 0, {{0x00520010, 12345678, LF32_MOVEABLE}, {0xFFFF0000, 7, LF32_FREE}}},
        {0x00630000, 0, {}},
    };
    fake.heaps[NOBODY + 8] = {{0x00520000, 0, {{0x00999990, 1, LF32_FREE}}}};

    ListHeapBlocksToolhelp(listBox, owner, 0x00520000);
    std::vector<std::string> rows = {
        "00520010\t12345678\t",
        "ffff0000\t00000007\t" + ToAnsi("空闲"),
    };
    EXPECT_EQ(ListBoxRows(listBox), rows);

    HWND second = CreateListBox(true);
    ListHeapBlocksToolhelp(second, owner, 0x00410000);
    EXPECT_EQ(AsSet(ListBoxRows(second)),
              AsSet({"00410020\t00000100\t", "00410090\t00000050\t" + ToAnsi("空闲")}));
    DestroyWindow(second);

    HWND empty = CreateListBox(false);
    ListHeapBlocksToolhelp(empty, owner, 0x00630000);
    ListHeapBlocksToolhelp(empty, owner, 0x12340000);
    EXPECT_EQ(ListBoxRows(empty).size(), 0u);
    DestroyWindow(empty);
}

// ---------------------------------------------------------------------------
// Modules.

struct VisitedModule {
    DWORD userValue;
    HWND window;
    std::string name;
    ULONGLONG base;
    DWORD size;
    std::string path;
};
std::vector<VisitedModule> visited;

int CollectModule(ULONG_PTR userValue, HWND window, const char* moduleName, ULONGLONG baseAddress,
                  DWORD imageSize, const char* fullPath) {
    visited.push_back({userValue, window, moduleName, baseAddress, imageSize, fullPath});
    return 1;
}

TEST_F(ToolhelpListsTest, ModulesAreVisitedInSnapshotOrder) {
    FakeProcess process =
        Process(NOBODY + 4, "C:\\APP\\APP.EXE", 1,
                {{1, "APP", "C:\\APP\\APP.EXE", 0x00400000, 0x12000},
                 {2, "KERNEL32", "C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL", 0xBFF70000, 0x56000},
                 {3, "USER32", "C:\\WINDOWS\\SYSTEM\\USER32.DLL", 0xBFF50000, 0x11000}});
    FakeProcess bare = Process(NOBODY + 8, "C:\\APP\\BARE.EXE", 1, {});
    FakeProcess closed = Process(NOBODY + 12, "C:\\APP\\SHUT.EXE", 1, {});
    closed.moduleSnapshotFails = true;
    fake.processes = {process, bare, closed};

    visited.clear();
    EXPECT_EQ(ListModulesToolhelp(listBox, NOBODY + 4, CollectModule, 77), 1);
    ASSERT_EQ(visited.size(), 3u);
    const char* names[] = {"APP", "KERNEL32", "USER32"};
    for (size_t i = 0; i < 3; i++) {
        const FakeModule& module = process.modules[i];
        EXPECT_EQ(visited[i].userValue, 77u);
        EXPECT_EQ(visited[i].window, listBox);
        EXPECT_EQ(visited[i].name, names[i]);
        EXPECT_EQ(visited[i].base, module.base);
        EXPECT_EQ(visited[i].size, module.size);
        EXPECT_EQ(visited[i].path, module.path);
    }

    visited.clear();
    EXPECT_EQ(ListModulesToolhelp(listBox, NOBODY + 8, CollectModule, 0), 0);
    EXPECT_EQ(ListModulesToolhelp(listBox, NOBODY + 12, CollectModule, 0), 0);
    EXPECT_TRUE(visited.empty());
}

// ---------------------------------------------------------------------------
// Routing by family.

TEST_F(ToolhelpListsTest, BackEndSendsThe95FamilyToToolhelpOnly) {
    const DWORD owner = NOBODY + 4;
    fake.threads = {{0x31, owner, 8, 0}};
    fake.heaps[owner] = {{0x00410000, HF32_DEFAULT, {{0x00410020, 16, LF32_FIXED}}}};
    fake.processes = {Process(owner, "C:\\A.EXE", 1, {{1, "A", "C:\\A.EXE", 0x00400000, 0x1000}})};

    ntFamily = 0;
    EXPECT_EQ(ListThreads(listBox, owner), 1);
    ListHeaps(listBox, owner);
    ListHeapBlocks(listBox, owner, 0x00410000);
    visited.clear();
    EXPECT_EQ(ListModules(listBox, owner, CollectModule, 5), 1);
    EXPECT_EQ(visited.size(), 1u);
    EXPECT_EQ(ListBoxRows(listBox).size(), 3u);

    // The NT family has no heap lists. Its threads come from the performance
    // data, which on this Wine has no "Thread" object: then from a thread
    // snapshot.
    ntFamily = 1;
    fake.requestedKinds.clear();
    HWND second = CreateListBox(false);
    EXPECT_EQ(ListThreads(second, owner), 1);
    ListHeaps(second, owner);
    ListHeapBlocks(second, owner, 0x00410000);
    EXPECT_EQ(ListBoxRows(second).size(), 1u);
    EXPECT_EQ(fake.requestedKinds, std::vector<DWORD>{TH32CS_SNAPTHREAD});
    DestroyWindow(second);
}

// ---------------------------------------------------------------------------
// Module names of 16-bit files.

// The module name stored in a 16-bit file of Wine's, and that name's
// expectation: the file's name without extension (and "16" suffix), in
// capitals; Wine's kernel is called KERNEL.
struct NeSample {
    std::string path;
    std::string expected;
};

std::string ExpectedModuleName(const std::string& fileName) {
    std::string base = fileName;
    size_t dot = base.find('.');
    if (dot != std::string::npos) {
        base.resize(dot);
    }
    if (lstrcmpiA(base.c_str(), "krnl386") == 0) {
        return "KERNEL";
    }
    CharUpperA(&base[0]);
    return base;
}

std::vector<NeSample> WineNeFiles() {
    std::vector<NeSample> samples;
    auto add = [&](const std::string& folder, const char* pattern) {
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA((folder + "\\" + pattern).c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) {
            return;
        }
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                samples.push_back(
                    {folder + "\\" + data.cFileName, ExpectedModuleName(data.cFileName)});
            }
        } while (FindNextFileA(find, &data));
        FindClose(find);
    };
    std::string system32 = SystemFolder();
    std::string system16 = WindowsFolder() + "\\system";
    // Wine's 16-bit files, named with a "16" suffix or without it; the old
    // system folder holds nothing else.
    for (const char* pattern : {"*.exe16", "*.dll16", "*.drv16", "*.mod16"}) {
        add(system32, pattern);
        add(system16, pattern);
    }
    for (const char* pattern : {"krnl386.exe", "user.exe", "gdi.exe", "toolhelp.dll", "comm.drv"}) {
        add(system32, pattern);
    }
    add(system16, "*.dll");
    return samples;
}

TEST(NeModuleName, ReadsTheResidentNameOfWinesSixteenBitFiles) {
    std::vector<NeSample> samples = WineNeFiles();
    ASSERT_GE(samples.size(), 3u) << "too few 16-bit files found in " << SystemFolder();
    bool kernelSeen = false;
    for (const NeSample& sample : samples) {
        NameResult read = ReadName(sample.path, 260);
        EXPECT_EQ(read.result, 1) << sample.path;
        EXPECT_EQ(read.name, sample.expected) << sample.path;
        kernelSeen |= sample.expected == "KERNEL";
    }
    EXPECT_TRUE(kernelSeen);

    // 32-bit files: MZ but no NE.
    EXPECT_EQ(ReadName(SystemFolder() + "\\kernel32.dll", 260).result, 0);
    EXPECT_EQ(ReadName(BinPath("tolvane.exe"), 260).result, 0);
    // No file, or a folder.
    EXPECT_EQ(ReadName(SystemFolder() + "\\no_such_file.exe", 260).result, 0);
    EXPECT_EQ(ReadName(SystemFolder(), 260).result, 0);
}

TEST(NeModuleName, CopiesAtMostTheBufferSizeWithATerminator) {
    std::string kernel16 = Kernel16Path();
    ASSERT_FALSE(kernel16.empty());
    NameResult read = ReadName(kernel16, 4);
    EXPECT_EQ(read.result, 1);
    EXPECT_EQ(read.buffer.substr(0, 5), std::string("KER\0X", 5));
    read = ReadName(kernel16, 7); // exactly the name and its terminator
    EXPECT_EQ(read.buffer.substr(0, 8), std::string("KERNEL\0X", 8));
    read = ReadName(kernel16, 1);
    EXPECT_EQ(read.buffer.substr(0, 2), std::string("\0X", 2));
    read = ReadName(kernel16, 0);
    EXPECT_EQ(read.result, 0);
    EXPECT_EQ(read.buffer[0], 'X');

    // The longest name a length byte allows.
    std::string folder = TempFolder();
    std::string longName(255, 'L');
    WriteWholeFile(folder + "long.exe", MakeNeFile(0x40, 0x30, longName));
    EXPECT_EQ(ReadName(folder + "long.exe", 260).name, longName);
    read = ReadName(folder + "long.exe", 16);
    EXPECT_EQ(read.buffer.substr(0, 17), std::string(15, 'L') + std::string("\0X", 2));
    DeleteFileA((folder + "long.exe").c_str());
}

TEST(NeModuleName, TruncatedCopiesOfARealFileGiveNothing) {
    std::string kernel16 = Kernel16Path();
    ASSERT_FALSE(kernel16.empty());
    std::string data = ReadWholeFile(kernel16);
    ASSERT_GT(data.size(), 0x40u);
    DWORD newHeader = 0;
    memcpy(&newHeader, &data[0x3C], 4);
    ASSERT_LT(newHeader + 0x28, data.size());
    WORD table = 0;
    memcpy(&table, &data[newHeader + 0x26], 2);
    DWORD name = newHeader + table;
    ASSERT_LT(name, data.size());
    DWORD length = static_cast<BYTE>(data[name]);
    ASSERT_EQ(data.substr(name + 1, length), "KERNEL");

    std::string path = TempFolder() + "cut.exe";
    struct Cut {
        DWORD size;
        const char* where;
    } cuts[] = {
        {0, "empty"},
        {1, "half the signature"},
        {2, "signature only"},
        {0x3C, "before the header offset"},
        {0x3F, "inside the header offset"},
        {newHeader, "at the new header"},
        {newHeader + 1, "inside the NE signature"},
        {newHeader + 0x27, "inside the table offset"},
        {name, "at the resident-name table"},
        {name + 1, "after the length byte"},
        {name + length, "one character short"},
    };
    for (const Cut& cut : cuts) {
        WriteWholeFile(path, data.substr(0, cut.size));
        NameResult read = ReadName(path, 260);
        EXPECT_EQ(read.result, 0) << cut.where << " (" << cut.size << " bytes)";
    }
    // Cut right after the name: still whole.
    WriteWholeFile(path, data.substr(0, name + 1 + length));
    NameResult read = ReadName(path, 260);
    EXPECT_EQ(read.result, 1);
    EXPECT_EQ(read.name, "KERNEL");
    DeleteFileA(path.c_str());
}

TEST(NeModuleName, HandMadeFilesWithBadOffsetsGiveNothing) {
    std::string folder = TempFolder();
    std::string path = folder + "crafted.exe";

    // A good one first: the name ends the file.
    WriteWholeFile(path, MakeNeFile(0x40, 0x40, "CRAFTED"));
    NameResult read = ReadName(path, 260);
    EXPECT_EQ(read.result, 1);
    EXPECT_EQ(read.name, "CRAFTED");

    struct Case {
        std::string data;
        const char* what;
    };
    std::vector<Case> cases;
    std::string wrongSignature = MakeNeFile(0x40, 0x40, "CRAFTED");
    wrongSignature[0] = 'Z';
    wrongSignature[1] = 'M';
    cases.push_back({wrongSignature, "no MZ"});
    std::string portable = MakeNeFile(0x40, 0x40, "CRAFTED");
    portable[0x40] = 'P';
    cases.push_back({portable, "PE instead of NE"});
    for (DWORD offset : {0x400u, 0x7FFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
        std::string past = MakeNeFile(0x40, 0x40, "CRAFTED");
        PutDword(past, 0x3C, offset);
        cases.push_back({past, "header offset past the end"});
    }
    std::string lastByte = MakeNeFile(0x40, 0x40, "CRAFTED");
    PutDword(lastByte, 0x3C, static_cast<DWORD>(lastByte.size() - 1));
    lastByte.back() = 'N';
    cases.push_back({lastByte, "NE signature cut by the end"});
    std::string shortHeader = MakeNeFile(0x40, 0x40, "CRAFTED").substr(0, 0x42);
    cases.push_back({shortHeader, "NE header without its table offset"});
    for (WORD table : {static_cast<WORD>(0x1000), static_cast<WORD>(0xFFFF)}) {
        std::string farTable = MakeNeFile(0x40, 0x40, "CRAFTED");
        PutWord(farTable, 0x40 + 0x26, table);
        cases.push_back({farTable, "name table past the end"});
    }
    cases.push_back({MakeNeFile(0x40, 0x40, "CRAFTED", 200), "name running past the end"});
    cases.push_back({MakeNeFile(0x40, 0x40, "CRAFTED", 255), "longest name past the end"});
    cases.push_back({std::string("M"), "one byte"});
    cases.push_back({std::string("MZ"), "signature only"});

    for (const Case& c : cases) {
        WriteWholeFile(path, c.data);
        EXPECT_EQ(ReadName(path, 260).result, 0) << c.what;
    }
    DeleteFileA(path.c_str());
    RemoveDirectoryA(folder.c_str());
}

// ---------------------------------------------------------------------------
// This Wine's own Toolhelp (NT-style: module id 0, szExeFile as it gives it).

class WineToolhelpTest : public ToolhelpPassTest {
  protected:
    void SetUp() override {
        ToolhelpPassTest::SetUp();
        ASSERT_EQ(LoadToolhelpEntryPoints(), 1);
    }
};

DWORD WINAPI WaitForEvent(void* event) {
    WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
    return 0;
}

TEST_F(WineToolhelpTest, ThreadsAndModulesOfThisProcess) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, WaitForEvent, event, 0, &threadId);
    ASSERT_NE(thread, nullptr);

    HWND listBox = CreateListBox(false);
    EXPECT_EQ(ListThreadsToolhelp(listBox, GetCurrentProcessId()), 1);
    std::set<DWORD> ids;
    for (const std::string& row : ListBoxRows(listBox)) {
        ids.insert(strtoul(row.c_str(), nullptr, 10));
        EXPECT_NE(row.find('\t'), std::string::npos) << row;
    }
    EXPECT_EQ(ids.count(GetCurrentThreadId()), 1u);
    EXPECT_EQ(ids.count(threadId), 1u);
    DestroyWindow(listBox);
    SetEvent(event);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    CloseHandle(event);

    visited.clear();
    EXPECT_EQ(ListModulesToolhelp(nullptr, GetCurrentProcessId(), CollectModule, 0), 1);
    ASSERT_FALSE(visited.empty());
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    EXPECT_EQ(lstrcmpiA(visited[0].path.c_str(), self), 0) << visited[0].path;
    EXPECT_EQ(visited[0].base,
              static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(GetModuleHandleA(nullptr))));
    DWORD kernel32 =
        static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(GetModuleHandleA("kernel32.dll")));
    EXPECT_TRUE(std::any_of(visited.begin(), visited.end(), [&](const VisitedModule& module) {
        return module.base == kernel32 && lstrcmpiA(module.name.c_str(), "kernel32.dll") == 0;
    }));
}

TEST_F(WineToolhelpTest, APassListsThisProgramAsA32BitProcess) {
    RefreshPass(listWindow);
    int row = RowOf(GetCurrentProcessId(), KIND_WIN32);
    ASSERT_NE(row, -1) << "16-bit row: " << RowOf(GetCurrentProcessId(), KIND_WIN16);
    EXPECT_EQ(lstrcmpiA(CellText(row, 0).c_str(), "toolhelp_test.exe"), 0) << CellText(row, 0);
    EXPECT_GT(atoi(CellText(row, 3).c_str()), 0);
    EXPECT_EQ(CellText(row, 4), "32-Bit");
    // The full path, although this Toolhelp names only the file.
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    EXPECT_EQ(lstrcmpiA(CellText(row, 5).c_str(), self), 0) << CellText(row, 5);
}

// ---------------------------------------------------------------------------
// tolvane.exe run as Windows 98.

class Windows98Test : public ::testing::Test {
  protected:
    void SetUp() override {
        copy = TempFolder() + "tolvane98.exe";
        ASSERT_TRUE(CopyFileA(BinPath("tolvane.exe").c_str(), copy.c_str(), FALSE));
        SetWineAppVersion("tolvane98.exe", "win98");
        // A running copy elsewhere cannot take over the start.
        SetSettingsText("AllowMultiplyInstances", "1");
    }
    void TearDown() override {
        EndChild(child);
        DeleteSettingsKey();
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\tolvane98.exe");
        DeleteFileA(copy.c_str());
        RemoveDirectoryA(copy.substr(0, copy.rfind('\\')).c_str());
    }
    std::string copy;
    Child child = Child{};
};

TEST_F(Windows98Test, TheListHasSixColumnsAndItsOwnRow) {
    child = StartChild("\"" + copy + "\"");
    ASSERT_TRUE(child.started);
    HWND window = FindProcessWindow(child.info.dwProcessId, "Tolvane", nullptr, 20000);
    ASSERT_NE(window, nullptr);
    HWND list = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (list = GetDlgItem(window, 101)) != nullptr; }, 10000));
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    EXPECT_EQ(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0), 6);

    bool filled = PumpUntil([&] { return RemoteRowCount(list) > 0; }, 10000);
    EXPECT_TRUE(filled) << "the Windows 98 mode listed no process";
    if (filled) {
        std::string id = std::to_string(child.info.dwProcessId);
        int own = -1;
        for (int row = 0; row < RemoteRowCount(list); row++) {
            if (RemoteListText(list, row, 1) == id) {
                own = row;
            }
        }
        ASSERT_NE(own, -1) << "no row for its own process";
        EXPECT_EQ(lstrcmpiA(RemoteListText(list, own, 0).c_str(), "tolvane98.exe"), 0)
            << RemoteListText(list, own, 0);
        EXPECT_GT(atoi(RemoteListText(list, own, 3).c_str()), 0);
        EXPECT_EQ(RemoteListText(list, own, 4), "32-Bit");
        char longPath[MAX_PATH];
        GetLongPathNameA(copy.c_str(), longPath, sizeof longPath);
        EXPECT_EQ(lstrcmpiA(RemoteListText(list, own, 5).c_str(), longPath), 0)
            << RemoteListText(list, own, 5);
    }

    PostMessageA(window, WM_COMMAND, 40001, 0);
    EXPECT_EQ(WaitChild(child, 10000), 0);
}

TEST_F(ToolhelpPassTest, NamesAndPathsFillingTheirFieldsAreCutBetweenCharacters) {
    // Double-byte characters whose second bytes are those of '\\' and '|',
    // after one byte: the fields' last bytes are first bytes of characters.
    std::string doubles;
    while (doubles.size() < 300) {
        doubles += "\x95\x5c\x8c\x7c";
    }
    const std::string path = "C" + doubles, name = "N" + doubles;
    fake.processes = {Process(NOBODY + 0x10, path, 1, {{1, name, path, 0x400000, 0x1000}})};
    RefreshPass(listWindow);
    ProcessNode* node = FindNode(NOBODY + 0x10, KIND_WIN32);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(std::string(node->path), path.substr(0, 259));
    EXPECT_EQ(std::string(node->name), name.substr(0, 255));
    EXPECT_EQ(node->kind, static_cast<DWORD>(KIND_WIN32));

    visited.clear();
    EXPECT_EQ(ListModulesToolhelp(listWindow, NOBODY + 0x10, CollectModule, 0), 1);
    ASSERT_EQ(visited.size(), 1u);
    EXPECT_EQ(visited[0].name, name.substr(0, 255));
    EXPECT_EQ(visited[0].path, path.substr(0, 259));
}

} // namespace
