#include "readers.h"
#include "app/settings.h"
#include "app/startup.h"
#include "details/debugger.h"
#include "res/resource.h"
#include "sysinfo/perfdata.h"
#include "sysinfo/platform.h"
#include "sysinfo/startinfo.h"
#include "sysinfo/toolhelp.h"
#include "views/processlist.h"
#include "views/version.h"

#include <stdio.h>
#include <string.h>

enum {
    INPUT_AREA_SIZE = 256 * 1024,
    // Past the end of an input: the rest of a buffer the reader allocated
    // larger than the data (a performance-data snapshot grows in steps of
    // 16 KB), and more.
    GUARD_SIZE = 64 * 1024,
    OUTPUT_AREA_SIZE = 4096,
    REMOTE_AREA_SIZE = 16 * 1024,
    FUZZ_PROCESS_ID = 0x1234,
};

static GuardedArea inputArea;
static GuardedArea outputArea;
static HWND listBox, firstEdit, secondEdit, versionDialog;
static DWORD mainThreadId;
// The text buffer a reader filled last, for PrintReaderOutput.
static const char* lastOutput;

// ---- Allocations that end at the guard ----
//
// A reader that copies outside data into a buffer of its own (a registry
// answer, a version block) reads that buffer, not the input: the next
// allocation of the expected size is served from the guarded area, ending
// where the data the system would have written there ends. Every other
// allocation the reader makes while it runs (copies of remote memory,
// converted texts) ends right before a guard of its own, so that it too
// cannot be read or written past its end unnoticed.

enum { HEAP_SLOTS = 8, HEAP_SLOT_SIZE = 68 * 1024 };

typedef void*(__cdecl* MallocFunction)(size_t);
typedef void(__cdecl* FreeFunction)(void*);
static MallocFunction systemMalloc;
static FreeFunction systemFree;
static size_t armedSize;
static BYTE* armedBlock;
static BYTE* lentBlock;
static GuardedArea heapSlots[HEAP_SLOTS];
static BYTE* heapBlocks[HEAP_SLOTS]; // what each slot lent, null when free
static int nextSlot;
static bool guardEveryAllocation;
// Whether the reader reached the data where the driver placed it.
static bool reached;

static void* LendSlot(size_t size) {
    for (int tried = 0; tried < HEAP_SLOTS; tried++) {
        int slot = (nextSlot + tried) % HEAP_SLOTS;
        if (!heapBlocks[slot]) {
            nextSlot = (slot + 1) % HEAP_SLOTS;
            heapBlocks[slot] = EndOfArea(&heapSlots[slot], static_cast<DWORD>(size));
            return heapBlocks[slot];
        }
    }
    return nullptr;
}

static void* __cdecl GuardedMalloc(size_t size) {
    if (GetCurrentThreadId() == mainThreadId) {
        if (armedBlock && size == armedSize) {
            lentBlock = armedBlock;
            armedBlock = nullptr;
            reached = true;
            return lentBlock;
        }
        void* block = guardEveryAllocation && size <= HEAP_SLOT_SIZE ? LendSlot(size) : nullptr;
        if (block) {
            return block;
        }
    }
    return systemMalloc(size);
}

static void __cdecl GuardedFree(void* block) {
    if (!block) {
        return;
    }
    if (block == lentBlock) {
        lentBlock = nullptr;
        return;
    }
    for (BYTE*& lent : heapBlocks) {
        if (lent == block) {
            lent = nullptr;
            return;
        }
    }
    systemFree(block);
}

static void ArmAllocation(size_t size, BYTE* block) {
    armedSize = size;
    armedBlock = block;
}

// Around the call of the product's reader only: the driver's own
// allocations stay with the C library.
static void StartReader() {
    guardEveryAllocation = true;
}

// Everything the reader allocated must be freed by the time it returns.
static void EndReader() {
    guardEveryAllocation = false;
    armedBlock = nullptr;
    bool leaked = lentBlock != nullptr;
    for (BYTE* lent : heapBlocks) {
        leaked = leaked || lent != nullptr;
    }
    if (leaked) {
        ReportFinding("memory the reader allocated was not freed");
    }
}

bool InputWasGuarded() {
    bool guarded = reached;
    reached = false;
    return guarded;
}

// ---- Performance data, through the query seam ----

// The English title database the thread list looks its six indexes up in.
static const char fixedTitles[] = "1\0"
                                  "1847\0"
                                  "2\0System\0"
                                  "230\0Process\0"
                                  "232\0Thread\0"
                                  "682\0Priority Base\0"
                                  "694\0Priority Current\0"
                                  "784\0ID Process\0"
                                  "804\0ID Thread\0";
static const Bytes* titlesAnswer;
static const Bytes* blockAnswer;
static PerfTitleIndexes fixedIndexes;

static LONG WINAPI FuzzPerfQuery(HKEY, const char* valueName, DWORD*, DWORD* type, BYTE* data,
                                 DWORD* size) {
    const Bytes* answer = strcmp(valueName, "Counter 009") == 0 ? titlesAnswer : blockAnswer;
    if (!answer) {
        return ERROR_FILE_NOT_FOUND;
    }
    DWORD length = static_cast<DWORD>(answer->size());
    if (type) {
        *type = REG_BINARY;
    }
    if (!data) {
        *size = length;
        return ERROR_SUCCESS;
    }
    if (*size < length) {
        *size = length;
        return ERROR_MORE_DATA;
    }
    memcpy(data, answer->data(), length);
    *size = length;
    return ERROR_SUCCESS;
}

static bool SetUpPerf() {
    static const Bytes titles(fixedTitles, fixedTitles + sizeof fixedTitles);
    perfDataApi.queryValue = FuzzPerfQuery;
    titlesAnswer = &titles;
    LoadPerfTitleIndexes();
    fixedIndexes = perfTitleIndexes;
    // Without any "Thread" object the thread list would take a Toolhelp
    // snapshot of the system instead: not outside data, and slow.
    toolhelpApi.thread32First = nullptr;
    return fixedIndexes.threadObject != 0;
}

static void RunPerf(const Bytes& input, DWORD number) {
    perfTitleIndexes = fixedIndexes;
    blockAnswer = &input;
    DWORD size = static_cast<DWORD>(input.size());
    DWORD capacity = (size + 0x3FFF) & ~0x3FFFu;
    ArmAllocation(capacity ? capacity : 0x4000, EndOfArea(&inputArea, size));
    SendMessageA(listBox, LB_RESETCONTENT, 0, 0);
    StartReader();
    ListThreadsNt(listBox, FUZZ_PROCESS_ID, number & 1);
    EndReader();
}

static void RunPerfTitles(const Bytes& input, DWORD) {
    titlesAnswer = &input;
    // The reader allocates two bytes more and writes zeros there itself.
    DWORD size = static_cast<DWORD>(input.size()) + 2;
    ArmAllocation(size, EndOfArea(&inputArea, size));
    StartReader();
    LoadPerfTitleIndexes();
    EndReader();
}

// ---- Executable files: the file functions serve the input as a mapped view ----

static const char fuzzFilePath[] = "Z:\\tvfuzz\\input.exe";
static HANDLE const FUZZ_FILE = reinterpret_cast<HANDLE>(0x7FFF0004);
static HANDLE const FUZZ_MAPPING = reinterpret_cast<HANDLE>(0x7FFF0008);
static const BYTE* viewData;
static DWORD viewSize;

typedef HANDLE(WINAPI* CreateFileFunction)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                                           DWORD, HANDLE);
typedef DWORD(WINAPI* GetFileSizeFunction)(HANDLE, DWORD*);
typedef HANDLE(WINAPI* CreateMappingFunction)(HANDLE, LPSECURITY_ATTRIBUTES, DWORD, DWORD, DWORD,
                                              LPCSTR);
typedef void*(WINAPI* MapViewFunction)(HANDLE, DWORD, DWORD, DWORD, SIZE_T);
typedef BOOL(WINAPI* UnmapViewFunction)(const void*);
typedef BOOL(WINAPI* CloseHandleFunction)(HANDLE);
static CreateFileFunction systemCreateFile;
static GetFileSizeFunction systemGetFileSize;
static CreateMappingFunction systemCreateMapping;
static MapViewFunction systemMapView;
static UnmapViewFunction systemUnmapView;
static CloseHandleFunction systemCloseHandle;

static HANDLE WINAPI FuzzCreateFile(LPCSTR name, DWORD access, DWORD share,
                                    LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                    HANDLE templateFile) {
    if (name && strcmp(name, fuzzFilePath) == 0) {
        reached = true;
        return FUZZ_FILE;
    }
    return systemCreateFile(name, access, share, security, disposition, flags, templateFile);
}

static DWORD WINAPI FuzzGetFileSize(HANDLE file, DWORD* high) {
    if (file != FUZZ_FILE) {
        return systemGetFileSize(file, high);
    }
    if (high) {
        *high = 0;
    }
    return viewSize;
}

static HANDLE WINAPI FuzzCreateMapping(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protect,
                                       DWORD high, DWORD low, LPCSTR name) {
    if (file != FUZZ_FILE) {
        return systemCreateMapping(file, security, protect, high, low, name);
    }
    // As the system does: an empty file cannot be mapped.
    if (viewSize == 0) {
        SetLastError(ERROR_FILE_INVALID);
        return nullptr;
    }
    return FUZZ_MAPPING;
}

static void* WINAPI FuzzMapView(HANDLE mapping, DWORD access, DWORD high, DWORD low, SIZE_T size) {
    if (mapping != FUZZ_MAPPING) {
        return systemMapView(mapping, access, high, low, size);
    }
    return const_cast<BYTE*>(viewData);
}

static BOOL WINAPI FuzzUnmapView(const void* view) {
    return view == viewData ? TRUE : systemUnmapView(view);
}

static BOOL WINAPI FuzzCloseHandle(HANDLE handle) {
    return handle == FUZZ_FILE || handle == FUZZ_MAPPING ? TRUE : systemCloseHandle(handle);
}

// The reader's output must end with a zero inside its buffer.
static void CheckTerminated(const char* text, DWORD size, const char* what) {
    if (size != 0 && memchr(text, 0, size) == nullptr) {
        ReportFinding(what);
    }
}

static void RunNe(const Bytes& input, DWORD number) {
    viewSize = static_cast<DWORD>(input.size());
    viewData = PlaceAtEnd(&inputArea, input.data(), viewSize);
    // The entry's name buffer, and sizes around the length byte's range.
    static const WORD outputSizes[] = {sizeof(ProcessEntry::name), 1, 2, 9, 256};
    WORD outputSize = outputSizes[number % 5];
    char* output = reinterpret_cast<char*>(EndOfArea(&outputArea, outputSize));
    lastOutput = nullptr;
    StartReader();
    int read = ReadNeModuleName(fuzzFilePath, output, outputSize);
    EndReader();
    if (read) {
        lastOutput = output;
        CheckTerminated(output, outputSize, "the module name has no terminator in its buffer");
    }
}

// ---- Version resources: the version functions hand over the input as the
// block of a file, laid out as the system lays it out ----

static const char versionFilePath[] = "Z:\\tvfuzz\\input.dll";
static const Bytes* versionResource;
typedef DWORD(WINAPI* VersionSizeFunction)(LPCSTR, DWORD*);
typedef BOOL(WINAPI* VersionInfoFunction)(LPCSTR, DWORD, DWORD, void*);
static VersionSizeFunction systemVersionSize;
static VersionInfoFunction systemVersionInfo;

// For a resource of n bytes the system asks for 2n + 4: room after the data
// for the ANSI copies that VerQueryValueA makes of wide texts.
static DWORD VersionBlockSize() {
    return 2 * static_cast<DWORD>(versionResource->size()) + 4;
}

static DWORD WINAPI FuzzVersionSize(LPCSTR path, DWORD* handle) {
    if (!path || strcmp(path, versionFilePath) != 0) {
        return systemVersionSize(path, handle);
    }
    if (handle) {
        *handle = 0;
    }
    return VersionBlockSize();
}

// The resource bytes, then what the system leaves there (memory the caller
// allocated, never written: not zeros here, so that no text ends early by
// chance), and the signature the system writes right after the root's length.
static BOOL WINAPI FuzzVersionInfo(LPCSTR path, DWORD handle, DWORD size, void* data) {
    if (!path || strcmp(path, versionFilePath) != 0) {
        return systemVersionInfo(path, handle, size, data);
    }
    BYTE* block = static_cast<BYTE*>(data);
    DWORD copied = versionResource->size() < size ? versionResource->size() : size;
    memcpy(block, versionResource->data(), copied);
    memset(block + copied, 'A', size - copied);
    DWORD rootLength = size >= 2 ? block[0] | (block[1] << 8) : 0;
    if (size >= rootLength + 4) {
        memcpy(block + rootLength, "FE2X", 4);
    }
    return TRUE;
}

static void RunVersion(const Bytes& input, DWORD number) {
    versionResource = &input;
    DWORD blockSize = VersionBlockSize();
    // The system aligns the nodes of a block by their addresses, so the block
    // starts on a four-byte boundary as any allocation does: for an input of
    // odd length two bytes lie between its end and the guard.
    ArmAllocation(blockSize, EndOfArea(&inputArea, (blockSize + 3) & ~3u));
    lastOutput = nullptr;
    StartReader();
    if (number & 1) {
        ReadVersionStrings(versionFilePath, versionDialog, versionDialogKeys, nullptr, 0);
        EndReader();
    } else {
        char* summary = reinterpret_cast<char*>(EndOfArea(&outputArea, 260));
        GetVersionSummary(versionFilePath, "fallback.exe", summary, 260);
        EndReader();
        lastOutput = summary;
        CheckTerminated(summary, 260, "the version summary has no terminator in its buffer");
    }
}

// ---- Settings: values written to the registry, then loaded ----
//
// An input is a run of records: a byte choosing the value's name, a byte
// choosing its type, a 16-bit length and the data.

static const char* const settingNames[] = {
    "WindowSize",   "UseSysTray",   "StartMinimized", "Colorize",        "AllowMultiplyInstances",
    "HexProcessId", "RefreshTimes", "ColomnSize",     "File_0",          "File_1",
    "File_2",       "File_3",       "File_4",         "ResourceColumns",
};
static const DWORD settingTypes[] = {REG_SZ,        REG_DWORD, REG_BINARY,
                                     REG_EXPAND_SZ, REG_NONE,  REG_MULTI_SZ};

static void ResetSettings() {
    windowWidth = 500;
    windowHeight = 300;
    useSysTray = 1;
    startMinimized = colorize = allowMultipleInstances = hexProcessId = resourceColumns = 0;
    mainRefreshSeconds = 2;
    threadsRefreshSeconds = modulesRefreshSeconds = memoryRefreshSeconds = 0;
}

static bool InRange(int value, int least, int most) {
    return value >= least && value <= most;
}

// What any stored text may lead to: sizes a window can have, flags, timer
// periods, column widths, and recent projects that end inside their entries.
static void CheckSettings() {
    int* flags[] = {&useSysTray,   &startMinimized, &colorize, &allowMultipleInstances,
                    &hexProcessId, &resourceColumns};
    bool sane = InRange(windowWidth, MIN_WINDOW_WIDTH, 32767) &&
                InRange(windowHeight, MIN_WINDOW_HEIGHT, 32767) &&
                InRange(mainRefreshSeconds, 0, MAX_REFRESH_SECONDS) &&
                InRange(threadsRefreshSeconds, 0, MAX_REFRESH_SECONDS) &&
                InRange(modulesRefreshSeconds, 0, MAX_REFRESH_SECONDS) &&
                InRange(memoryRefreshSeconds, 0, MAX_REFRESH_SECONDS);
    for (int* flag : flags) {
        sane = sane && InRange(*flag, 0, 1);
    }
    for (int i = 0; i < activeColumns.count; i++) {
        sane = sane && InRange(GetColumnWidth(i), 1, 4096);
    }
    if (!sane) {
        ReportFinding("a setting outside its range after loading");
    }
    for (int i = 0; i < RECENT_PROJECT_COUNT; i++) {
        CheckTerminated(recentProjects[i], sizeof recentProjects[i],
                        "a recent project without a terminator in its entry");
    }
}

static bool SetUpSettings() {
    RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY);
    return true;
}

// The product reads each value into a buffer of its own through the registry;
// what faults there is its copy, not the input. The registry's write adds a
// terminator a text lacks when the byte after it is zero: each value is
// written from a copy followed by a byte that is not, so that it is stored
// exactly as the input has it.
static void RunSettings(const Bytes& input, DWORD) {
    DWORD size = static_cast<DWORD>(input.size());
    const BYTE* data = input.data();
    RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY);
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        ReportFinding("the settings key cannot be created (not a finding of the reader)");
    }
    for (DWORD at = 0; at + 4 <= size;) {
        const char* name = settingNames[data[at] % (sizeof settingNames / sizeof settingNames[0])];
        DWORD type = settingTypes[data[at + 1] % (sizeof settingTypes / sizeof settingTypes[0])];
        DWORD length = data[at + 2] | (data[at + 3] << 8);
        at += 4;
        if (length > size - at) {
            length = size - at;
        }
        Bytes value(data + at, data + at + length);
        value.push_back('Z');
        RegSetValueExA(key, name, 0, type, value.data(), length);
        at += length;
    }
    RegCloseKey(key);
    ResetSettings();
    reached = true;
    StartReader();
    LoadSettings();
    EndReader();
    CheckSettings();
}

static void TearDownSettings() {
    RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY);
}

// ---- The parameter block of a helper process ----
//
// An input is laid out as the helper's memory from its environment block
// on: the parameter block's address at 0x10, the 32-bit parameter block,
// strings, the environment. Addresses in it are offsets from the input's
// start, made into addresses when the input is written into the helper: the
// parameter block's address, its environment's, and the strings' when the
// block says they are addresses.

enum {
    PEB_PARAMETERS = 0x10,
    PARAMETERS_FLAGS = 0x08,
    DIRECTORY_BUFFER = 0x28,
    COMMAND_LINE_BUFFER = 0x44,
    ENVIRONMENT = 0x48,
    PARAMETERS_SIZE = 0x4C,
};

// The helper process whose memory holds the input.
static PROCESS_INFORMATION helper;
static HANDLE targetProcess;
static BYTE* targetArea; // REMOTE_AREA_SIZE bytes, then memory without access
static DWORD targetClean;
static DWORD remoteInputAddress;
static NtApi savedNtApi;

static LONG WINAPI FuzzQueryProcess(HANDLE, ULONG infoClass, void* buffer, ULONG size, ULONG*) {
    if (infoClass != 0 || size < 24) {
        return static_cast<LONG>(0xC0000003); // STATUS_INVALID_INFO_CLASS
    }
    memset(buffer, 0, size);
    static_cast<DWORD*>(buffer)[1] = remoteInputAddress;
    reached = true;
    return 0;
}

static void EndHelper() {
    if (helper.hProcess) {
        TerminateProcess(helper.hProcess, 0);
        WaitForSingleObject(helper.hProcess, 5000);
        CloseHandle(helper.hProcess);
        CloseHandle(helper.hThread);
        helper.hProcess = nullptr;
    }
}

static std::string helperFolder;

static void UseTarget(HANDLE process, BYTE* area) {
    targetProcess = process;
    targetArea = area;
    targetClean = REMOTE_AREA_SIZE;
    savedNtApi = ntApi;
    ntApi.ntQueryInformationProcess = FuzzQueryProcess;
}

static bool SetUpRemote() {
    std::string line = "\"" + helperFolder + "\\tvhelper.exe\" --lifetime=3600000";
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &helper)) {
        fprintf(stderr, "tvfuzz: cannot start %s\n", line.c_str());
        return false;
    }
    beforeExit = EndHelper;
    WaitForInputIdle(helper.hProcess, 30000);
    BYTE* area = static_cast<BYTE*>(VirtualAllocEx(
        helper.hProcess, nullptr, REMOTE_AREA_SIZE + 4096, MEM_RESERVE, PAGE_NOACCESS));
    if (!area ||
        !VirtualAllocEx(helper.hProcess, area, REMOTE_AREA_SIZE, MEM_COMMIT, PAGE_READWRITE)) {
        fprintf(stderr, "tvfuzz: cannot allocate memory in the helper\n");
        return false;
    }
    UseTarget(helper.hProcess, area);
    return true;
}

static DWORD InputValue(const Bytes& input, DWORD at) {
    DWORD value = 0;
    memcpy(&value, input.data() + at, sizeof value);
    return value;
}

static void Relocate(Bytes* image, DWORD at, DWORD base) {
    if (at <= image->size() && image->size() - at >= sizeof(DWORD)) {
        DWORD value = InputValue(*image, at) + base;
        memcpy(image->data() + at, &value, sizeof value);
    }
}

// Writes the input so that it ends where the memory without access begins,
// over zeros from wherever an earlier input began.
static void WriteTargetInput(const Bytes& relocated) {
    DWORD size = static_cast<DWORD>(relocated.size());
    DWORD start = REMOTE_AREA_SIZE - size;
    DWORD from = targetClean < start ? targetClean : start;
    Bytes image(start - from, 0);
    image.insert(image.end(), relocated.begin(), relocated.end());
    SIZE_T written = 0;
    if (!image.empty() && !WriteProcessMemory(targetProcess, targetArea + from, image.data(),
                                              image.size(), &written)) {
        ReportFinding("the helper's memory cannot be written (not a finding of the reader)");
    }
    targetClean = start;
}

static void RunRemote(const Bytes& input, DWORD number) {
    DWORD size = static_cast<DWORD>(input.size());
    remoteInputAddress =
        static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(targetArea)) + REMOTE_AREA_SIZE - size;
    Bytes relocated(input);
    DWORD parameters = size >= PEB_PARAMETERS + 4 ? InputValue(input, PEB_PARAMETERS) : 0;
    Relocate(&relocated, PEB_PARAMETERS, remoteInputAddress);
    if (parameters < size && size - parameters >= PARAMETERS_SIZE) {
        Relocate(&relocated, parameters + ENVIRONMENT, remoteInputAddress);
        if (InputValue(input, parameters + PARAMETERS_FLAGS) & 1) {
            Relocate(&relocated, parameters + DIRECTORY_BUFFER, remoteInputAddress);
            Relocate(&relocated, parameters + COMMAND_LINE_BUFFER, remoteInputAddress);
        }
    }
    WriteTargetInput(relocated);
    SendMessageA(listBox, LB_RESETCONTENT, 0, 0);
    StartReader();
    ReadOwnParameterBlock(targetProcess, firstEdit, listBox, secondEdit, number & 1);
    EndReader();
}

static void TearDownRemote() {
    ntApi = savedNtApi;
    EndHelper();
    beforeExit = nullptr;
}

// ---- Templates ----

void RunTemplateReader(const FuzzReader& reader, const Bytes& input, DWORD number) {
    Bytes text(input);
    text.push_back(0);
    reached = true;
    char* placed = reinterpret_cast<char*>(
        PlaceAtEnd(&inputArea, text.data(), static_cast<DWORD>(text.size())));
    StartReader();
    int accepted = reader.templateReader(placed);
    EndReader();
    if (accepted) {
        char command[1100];
        wsprintfA(command, placed, number);
    }
}

// ---- The table ----

const FuzzReader fuzzReaders[] = {
    {"perf", 64 * 1024, 5000, SetUpPerf, RunPerf, nullptr, nullptr},
    {"perftitles", 64 * 1024, 5000, SetUpPerf, RunPerfTitles, nullptr, nullptr},
    {"ne", 16 * 1024, 5000, nullptr, RunNe, nullptr, nullptr},
    {"version", 32 * 1024, 5000, nullptr, RunVersion, nullptr, nullptr},
    {"settings", 4096, 20000, SetUpSettings, RunSettings, TearDownSettings, nullptr},
    {"remote", 8192, 20000, SetUpRemote, RunRemote, TearDownRemote, nullptr},
    {"debugger", 259, 5000, nullptr, nullptr, nullptr, CutDebuggerTemplate},
};
const int fuzzReaderCount = sizeof fuzzReaders / sizeof fuzzReaders[0];

// ---- Start-up and output ----

static void PrintWindowText(const char* label, HWND window) {
    char text[1024];
    GetWindowTextA(window, text, sizeof text);
    printf("  %s: \"%s\"\n", label, text);
}

void PrintReaderOutput() {
    int rows = static_cast<int>(SendMessageA(listBox, LB_GETCOUNT, 0, 0));
    printf("  list rows: %d\n", rows);
    for (int i = 0; i < rows && i < 8; i++) {
        char row[1024];
        if (SendMessageA(listBox, LB_GETTEXTLEN, i, 0) < static_cast<LRESULT>(sizeof row)) {
            SendMessageA(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row));
            printf("    %s\n", row);
        }
    }
    PrintWindowText("first edit", firstEdit);
    PrintWindowText("second edit", secondEdit);
    PrintWindowText("version description", GetDlgItem(versionDialog, IDC_VER_DESCRIPTION));
    printf("  output: \"%s\"\n", lastOutput ? lastOutput : "");
    const PerfTitleIndexes& t = perfTitleIndexes;
    printf("  title indexes: %lu %lu %lu %lu %lu %lu\n", t.threadObject, t.processObject,
           t.idProcess, t.idThread, t.priorityCurrent, t.priorityBase);
    printf("  settings: %dx%d flags %d%d%d%d%d periods %d %d %d %d, project 0 \"%s\"\n",
           windowWidth, windowHeight, useSysTray, startMinimized, colorize, allowMultipleInstances,
           hexProcessId, mainRefreshSeconds, threadsRefreshSeconds, modulesRefreshSeconds,
           memoryRefreshSeconds, recentProjects[0]);
}

static INT_PTR CALLBACK QuietDialog(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

template <typename T>
static bool Patch(const char* module, const char* name, T replacement, T* original) {
    *original =
        reinterpret_cast<T>(PatchImport(module, name, reinterpret_cast<void*>(replacement)));
    if (!*original) {
        fprintf(stderr, "tvfuzz: the program does not import %s from %s\n", name, module);
    }
    return *original != nullptr;
}

bool SetUpReaders(const std::string& programFolder) {
    helperFolder = programFolder;
    mainThreadId = GetCurrentThreadId();
    appInstance = GetModuleHandleA(nullptr);
    DetectPlatform();
    if (!LoadBackEnd() || !RegisterDialogClass(appInstance)) {
        fprintf(stderr, "tvfuzz: the back-end or the dialog class is missing\n");
        return false;
    }
    ActivateColumnSet();
    listBox = CreateWindowExA(0, "LISTBOX", "", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                              appInstance, nullptr);
    // Static controls receive the texts: the system's edit control lays out
    // a long text on every change, which would take most of the time.
    firstEdit = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr,
                                appInstance, nullptr);
    secondEdit = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr,
                                 appInstance, nullptr);
    versionDialog =
        CreateDialogParamA(appInstance, MAKEINTRESOURCEA(IDD_VERSION), nullptr, QuietDialog, 0);
    if (!listBox || !firstEdit || !secondEdit || !versionDialog ||
        !CreateGuardedArea(&inputArea, INPUT_AREA_SIZE, GUARD_SIZE) ||
        !CreateGuardedArea(&outputArea, OUTPUT_AREA_SIZE, GUARD_SIZE)) {
        fprintf(stderr, "tvfuzz: cannot create the windows or the guarded memory\n");
        return false;
    }
    for (GuardedArea& slot : heapSlots) {
        if (!CreateGuardedArea(&slot, HEAP_SLOT_SIZE, GUARD_SIZE)) {
            fprintf(stderr, "tvfuzz: cannot create the guarded memory\n");
            return false;
        }
    }
    return Patch("msvcrt.dll", "malloc", GuardedMalloc, &systemMalloc) &&
           Patch("msvcrt.dll", "free", GuardedFree, &systemFree) &&
           Patch("KERNEL32.dll", "CreateFileA", FuzzCreateFile, &systemCreateFile) &&
           Patch("KERNEL32.dll", "GetFileSize", FuzzGetFileSize, &systemGetFileSize) &&
           Patch("KERNEL32.dll", "CreateFileMappingA", FuzzCreateMapping, &systemCreateMapping) &&
           Patch("KERNEL32.dll", "MapViewOfFile", FuzzMapView, &systemMapView) &&
           Patch("KERNEL32.dll", "UnmapViewOfFile", FuzzUnmapView, &systemUnmapView) &&
           Patch("KERNEL32.dll", "CloseHandle", FuzzCloseHandle, &systemCloseHandle) &&
           Patch("VERSION.dll", "GetFileVersionInfoSizeA", FuzzVersionSize, &systemVersionSize) &&
           Patch("VERSION.dll", "GetFileVersionInfoA", FuzzVersionInfo, &systemVersionInfo);
}
