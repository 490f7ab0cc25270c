// The 64-bit prefix itself: the test programs run there as 32-bit processes
// under the system's 32-bit layer (or, built for 64-bit, as 64-bit ones),
// and tvhelper64.exe is a 64-bit process.
#include "listfixture.h"
#include "sysinfo/wow64.h"
#include "testutil.h"
#include "views/version.h"

#include <gtest/gtest.h>
#include <stdlib.h>

static bool IsWow64(HANDLE process) {
    typedef BOOL(WINAPI * IsWow64ProcessFunction)(HANDLE, BOOL*);
    IsWow64ProcessFunction isWow64 =
        reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void (*)(void)>(
            GetProcAddress(GetModuleHandleA("KERNEL32.DLL"), "IsWow64Process")));
    BOOL result = FALSE;
    return isWow64 && isWow64(process, &result) && result;
}

TEST(Prefix64, TestsRunInTheSixtyFourBitPrefixBesideA64BitHelper) {
    // A 32-bit program there runs in the system's 32-bit layer; a 64-bit
    // one runs only there.
    if (sizeof(void*) == 4) {
        ASSERT_TRUE(IsWow64(GetCurrentProcess()))
            << "the tests of 64-bit processes must run in the 64-bit prefix";
    }
    Child helper = StartChild("\"" + BinPath("tvhelper64.exe") + "\" --lifetime=60000");
    ASSERT_TRUE(helper.started);
    EXPECT_FALSE(IsWow64(helper.info.hProcess));
    EXPECT_EQ(WaitChild(helper, 200), -1) << "the helper lives until it is ended";
    EndChild(helper);
}

// The 64-bit test programs reserve the address space below 4 GB first:
// what they allocate afterwards lies above it, as on a Windows that places
// memory high, so that a pointer cut to 32 bits cannot hide.
TEST(Prefix64, SixtyFourBitTestsAllocateAboveFourGigabytes) {
    if (sizeof(void*) == 4) {
        GTEST_SKIP() << "a 32-bit program has no memory above 4 GB";
    }
    void* block = malloc(1 << 20);
    void* small = malloc(64);
    void* region = VirtualAlloc(nullptr, 1 << 16, MEM_COMMIT, PAGE_READWRITE);
    for (void* memory : {block, small, region}) {
        EXPECT_GT(reinterpret_cast<ULONG_PTR>(memory), 0xFFFFFFFFull) << memory;
    }
    free(block);
    free(small);
    VirtualFree(region, 0, MEM_RELEASE);
}

// A file the system names in its own System32 that the 32-bit layer's copy
// does not have: its version and times come from it, as the version
// window, the summaries and the module times read them. The code that may
// load libraries (the version and icon readers) reaches it through the
// layer's alias for the native folder, with the redirector left on.
TEST(Prefix64, FilesOfTheSystemFolderAreReadAsTheSystemNamedThem) {
    PrepareProgramClasses();
    char folder[MAX_PATH];
    GetSystemDirectoryA(folder, MAX_PATH);
    const std::string system = folder;
    const std::string alias = system.substr(0, system.rfind('\\')) + "\\Sysnative";
    const bool layer = RunsInThirtyTwoBitLayer() != 0;
    const struct {
        std::string path;
        std::string inLayer; // empty: the path itself
    } cases[] = {
        {system + "\\tvhelper-native.exe", alias + "\\tvhelper-native.exe"},
        {Lower(system) + "\\drivers\\x.sys", alias + "\\drivers\\x.sys"},
        {system + "x\\a.dll", ""},
        {system, ""},
        {"C:\\work\\a.exe", ""},
    };
    for (const auto& c : cases) {
        char native[MAX_PATH];
        EXPECT_EQ(NativeSystemPath(c.path.c_str(), native, sizeof native),
                  layer && !c.inLayer.empty() ? c.inLayer : c.path);
    }
    if (!layer) {
        GTEST_SKIP() << "needs the 32-bit layer of a 64-bit system";
    }
    std::string path = cases[0].path;
    SystemFileRead read;
    BeginSystemFileRead(&read);
    ASSERT_TRUE(read.off);
    bool copied = CopyFileA(BinPath("tvhelper64.exe").c_str(), path.c_str(), FALSE) != 0;
    EndSystemFileRead(&read);
    ASSERT_TRUE(copied);
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << "the 32-bit copy";
    char summary[300];
    GetVersionSummary(path.c_str(), "none", summary, sizeof summary);
    EXPECT_NE(std::string(summary).find("Tolvane test helper"), std::string::npos) << summary;
    FILETIME written;
    EXPECT_EQ(ReadFileTime(path.c_str(), &written, 1), 1);
    BeginSystemFileRead(&read);
    DeleteFileA(path.c_str());
    EndSystemFileRead(&read);
}
