// The performance-data reader on blocks built here and served through its
// registry seam: the title database, buffer growth, the object, instance and
// counter walks, malformed and oversized blocks, and the priority texts.
#include "listfixture.h"
#include "sysinfo/perfdata.h"
#include "testutil.h"

#include <winperf.h>
#include <stddef.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

enum : DWORD {
    SYSTEM = 2,
    PROCESS = 230,
    THREAD = 232,
    ID_PROCESS = 784,
    ID_THREAD = 804,
    PRIORITY_CURRENT = 694,
    PRIORITY_BASE = 682,
    OTHER_COUNTER = 999,
    WANTED = 0x4242,
};

const char titleText[] = "2\0System\0"
                         "230\0Process\0"
                         "232\0Thread\0"
                         "784\0ID Process\0"
                         "804\0ID Thread\0"
                         "694\0Priority Current\0"
                         "682\0Priority Base\0";

struct FakePerfData {
    std::string titles;
    std::string block;
    int moreDataAnswers;    // ERROR_MORE_DATA before the block is given
    DWORD extraSizeClaimed; // bytes claimed beyond those written
    LONG failure;           // an error returned for the block instead
    std::vector<DWORD> capacities;
};
FakePerfData fake;

LONG WINAPI FakeQuery(HKEY key, const char* name, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
    if (key != HKEY_PERFORMANCE_DATA) {
        return ERROR_INVALID_HANDLE;
    }
    if (type) {
        *type = REG_BINARY;
    }
    bool titles = strcmp(name, "Counter 009") == 0;
    const std::string& value = titles ? fake.titles : fake.block;
    if (!titles) {
        fake.capacities.push_back(*size);
        if (fake.failure != ERROR_SUCCESS) {
            return fake.failure;
        }
        if (fake.moreDataAnswers != 0) {
            fake.moreDataAnswers--;
            return ERROR_MORE_DATA;
        }
    }
    if (!data) {
        *size = static_cast<DWORD>(value.size());
        return ERROR_SUCCESS;
    }
    if (*size < value.size()) {
        return ERROR_MORE_DATA;
    }
    memcpy(data, value.data(), value.size());
    *size = static_cast<DWORD>(value.size()) + fake.extraSizeClaimed;
    return ERROR_SUCCESS;
}

template <typename T> void Append(std::string* bytes, const T& value) {
    bytes->append(reinterpret_cast<const char*>(&value), sizeof value);
}

struct Counter {
    DWORD title;
    DWORD byteLength;
};

// One object: counters of four bytes each, one value list per instance.
struct ObjectLayout {
    DWORD title;
    std::vector<Counter> counters;
    std::vector<std::vector<DWORD>> instances;
    LONG numInstances; // PERF_NO_INSTANCES, or the count written
};

std::string BuildObject(const ObjectLayout& layout) {
    std::string definitions;
    for (size_t i = 0; i < layout.counters.size(); i++) {
        PERF_COUNTER_DEFINITION counter;
        memset(&counter, 0, sizeof counter);
        counter.ByteLength = layout.counters[i].byteLength;
        counter.CounterNameTitleIndex = layout.counters[i].title;
        counter.CounterSize = 4;
        counter.CounterOffset = static_cast<DWORD>(4 + 4 * i);
        Append(&definitions, counter);
    }
    std::string body;
    for (const std::vector<DWORD>& values : layout.instances) {
        if (layout.numInstances != PERF_NO_INSTANCES) {
            PERF_INSTANCE_DEFINITION instance;
            memset(&instance, 0, sizeof instance);
            instance.ByteLength = sizeof instance;
            Append(&body, instance);
        }
        Append(&body, static_cast<DWORD>(4 + 4 * values.size()));
        for (DWORD value : values) {
            Append(&body, value);
        }
    }
    PERF_OBJECT_TYPE object;
    memset(&object, 0, sizeof object);
    object.HeaderLength = sizeof object;
    object.DefinitionLength = static_cast<DWORD>(sizeof object + definitions.size());
    object.TotalByteLength = static_cast<DWORD>(object.DefinitionLength + body.size());
    object.ObjectNameTitleIndex = layout.title;
    object.NumCounters = static_cast<DWORD>(layout.counters.size());
    object.NumInstances = layout.numInstances;
    std::string bytes;
    Append(&bytes, object);
    return bytes + definitions + body;
}

std::string BuildBlock(const std::vector<ObjectLayout>& objects) {
    std::string body;
    for (const ObjectLayout& object : objects) {
        body += BuildObject(object);
    }
    PERF_DATA_BLOCK block;
    memset(&block, 0, sizeof block);
    memcpy(block.Signature, L"PERF", 8);
    block.HeaderLength = sizeof block;
    block.NumObjectTypes = static_cast<DWORD>(objects.size());
    block.TotalByteLength = static_cast<DWORD>(sizeof block + body.size());
    std::string bytes;
    Append(&bytes, block);
    return bytes + body;
}

const std::vector<Counter> threadCounters = {
    {ID_PROCESS, sizeof(PERF_COUNTER_DEFINITION)},
    {ID_THREAD, sizeof(PERF_COUNTER_DEFINITION)},
    {OTHER_COUNTER, sizeof(PERF_COUNTER_DEFINITION)},
    {PRIORITY_CURRENT, sizeof(PERF_COUNTER_DEFINITION)},
    {PRIORITY_BASE, sizeof(PERF_COUNTER_DEFINITION)},
};

ObjectLayout ThreadObject(const std::vector<std::vector<DWORD>>& instances) {
    return {THREAD, threadCounters, instances, static_cast<LONG>(instances.size())};
}

// Several objects around the "Thread" one: rows come only from its instances.
std::string MixedBlock() {
    return BuildBlock({
        {SYSTEM, {{OTHER_COUNTER, sizeof(PERF_COUNTER_DEFINITION)}}, {{7}}, PERF_NO_INSTANCES},
        // A "Process" object whose instance looks like a thread of the process.
        {PROCESS, threadCounters, {{WANTED, 77, 0, 8, 8}}, 1},
        ThreadObject({{WANTED, 1234, 5, 10, 8},
                      {WANTED + 1, 1235, 5, 8, 8},
                      {WANTED, 0, 5, 8, 8}, // thread id 0: no row
                      {WANTED, 0xABCDE, 5, 15, 8}}),
        {THREAD, threadCounters, {}, 0}, // no instance at all
        // No instances: the counter block stands in for the one instance.
        {THREAD, threadCounters, {{WANTED, 4321, 0, 11, 8}}, PERF_NO_INSTANCES},
    });
}

class PerfDataTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PrepareProgramClasses();
        saved = perfDataApi;
        savedToolhelp = toolhelpApi;
        fake = FakePerfData{};
        fake.titles.assign(titleText, sizeof titleText); // ends with the empty string
        perfDataApi.queryValue = FakeQuery;
        ASSERT_EQ(LoadPerfTitleIndexes(), 1);
        listBox = CreateWindowExA(0, "LISTBOX", "", LBS_SORT, 0, 0, 300, 300, nullptr, nullptr,
                                  nullptr, nullptr);
    }
    void TearDown() override {
        DestroyWindow(listBox);
        perfDataApi = saved;
        toolhelpApi = savedToolhelp;
        LoadPerfTitleIndexes();
    }
    std::vector<std::string> Rows(int hexIds = 0, int* result = nullptr) {
        SendMessageA(listBox, LB_RESETCONTENT, 0, 0);
        int added = ListThreadsNt(listBox, WANTED, hexIds);
        if (result) {
            *result = added;
        }
        std::vector<std::string> rows;
        int count = static_cast<int>(SendMessageA(listBox, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; i++) {
            char row[300];
            SendMessageA(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row));
            rows.push_back(row);
        }
        return rows;
    }
    PerfDataApi saved;
    ToolhelpApi savedToolhelp;
    HWND listBox;
};

TEST_F(PerfDataTest, TitleIndexesByNameIgnoringCase) {
    EXPECT_EQ(perfTitleIndexes.threadObject, THREAD);
    EXPECT_EQ(perfTitleIndexes.processObject, PROCESS);
    EXPECT_EQ(perfTitleIndexes.priorityBase, PRIORITY_BASE);
    PerfTitles titles = ReadPerfTitles();
    EXPECT_EQ(FindTitleIndex(&titles, "id THREAD"), ID_THREAD);
    EXPECT_EQ(FindTitleIndex(&titles, "Threads"), 0u);
    EXPECT_EQ(FindTitleIndex(&titles, nullptr), 0u);
    FreePerfTitles(&titles);
    EXPECT_EQ(FindTitleIndex(&titles, "Thread"), 0u);

    // A database cut inside a pair, without any terminator: the walk stops
    // at its end.
    fake.titles = std::string("232\0Thread\0804\0ID Thr", 21);
    titles = ReadPerfTitles();
    EXPECT_EQ(titles.size, 21u);
    EXPECT_EQ(FindTitleIndex(&titles, "ID Thr"), 804u);
    EXPECT_EQ(FindTitleIndex(&titles, "ID Thread"), 0u);
    FreePerfTitles(&titles);
}

TEST_F(PerfDataTest, RowsComeFromTheThreadObjectsInstancesOfTheProcess) {
    fake.block = MixedBlock();
    int added = 0;
    std::vector<std::string> rows = Rows(0, &added);
    EXPECT_EQ(added, 1);
    // 11 over a base of 8 has no text.
    EXPECT_EQ(rows, (std::vector<std::string>{"1234\t10 " + ToAnsi("(最高)"), "4321\t11 ",
                                              "703710\t15 " + ToAnsi("(实时)")}));
    EXPECT_EQ(Rows(1),
              (std::vector<std::string>{"000004d2\t10 " + ToAnsi("(最高)"), "000010e1\t11 ",
                                        "000abcde\t15 " + ToAnsi("(实时)")}));
    // The snapshot asked for the "Thread" object alone, by its index.
    ASSERT_FALSE(fake.capacities.empty());
    EXPECT_EQ(fake.capacities[0], 16384u);
}

TEST_F(PerfDataTest, CounterWithByteLengthZeroEndsTheCounterWalk) {
    std::vector<Counter> counters = threadCounters;
    counters[1].byteLength = 0; // the thread id and all after it are never read
    fake.block = BuildBlock(
        {{THREAD, counters, {{WANTED, 1234, 0, 8, 8}}, 1}, ThreadObject({{WANTED, 99, 0, 8, 8}})});
    EXPECT_EQ(Rows(), (std::vector<std::string>{"99\t8 " + ToAnsi("(普通)")}));
}

TEST_F(PerfDataTest, BufferGrowsBy16384UntilTheDataFits) {
    // A block of some 40000 bytes, after the system said "more data" three times.
    std::vector<std::vector<DWORD>> instances(900, std::vector<DWORD>{1, 2, 0, 8, 8});
    instances.push_back({WANTED, 5, 0, 8, 8});
    fake.block = BuildBlock({ThreadObject(instances)});
    ASSERT_GT(fake.block.size(), 32768u);
    ASSERT_LT(fake.block.size(), 49152u);
    fake.moreDataAnswers = 3;
    EXPECT_EQ(Rows().size(), 1u);
    EXPECT_EQ(fake.capacities, (std::vector<DWORD>{16384, 32768, 49152, 65536}));
}

TEST_F(PerfDataTest, UnreadableOrUnsignedBlocksGiveNoRows) {
    fake.block = MixedBlock();
    fake.block[0] = 'Q';
    EXPECT_TRUE(Rows().empty());
    fake.block = "PERF";
    EXPECT_TRUE(Rows().empty());
    fake.block = MixedBlock();
    fake.failure = ERROR_ACCESS_DENIED;
    int added = 1;
    EXPECT_TRUE(Rows(0, &added).empty());
    EXPECT_EQ(added, 0);
    EXPECT_EQ(TakePerfSnapshot(THREAD), nullptr);
}

TEST_F(PerfDataTest, GrowthStopsAtTheLimitWithoutASnapshot) {
    fake.block = MixedBlock();
    fake.moreDataAnswers = -1; // for ever
    EXPECT_EQ(TakePerfSnapshot(THREAD), nullptr);
    EXPECT_EQ(fake.capacities.size(), static_cast<size_t>(PERF_SNAPSHOT_LIMIT / 16384));
    EXPECT_EQ(fake.capacities.back(), static_cast<DWORD>(PERF_SNAPSHOT_LIMIT));
}

// Sets the 32-bit value at `offset` of a copy of the block.
std::string Patched(const std::string& block, size_t offset, DWORD value) {
    std::string copy = block;
    memcpy(&copy[offset], &value, 4);
    return copy;
}

TEST_F(PerfDataTest, MalformedBlocksGiveNoRowsAndNoReadOutside) {
    const std::string good = MixedBlock();
    fake.block = good;
    ASSERT_EQ(Rows().size(), 3u);

    const size_t header = sizeof(PERF_DATA_BLOCK);
    const size_t definition = sizeof(PERF_COUNTER_DEFINITION);
    const size_t system = BuildObject({SYSTEM, {{OTHER_COUNTER, definition}}, {{7}}, -1}).size();
    const size_t process = header + system;
    const size_t processSize = BuildObject({PROCESS, threadCounters, {{0, 0, 0, 0, 0}}, 1}).size();
    const size_t thread = process + processSize;
    const size_t firstInstance = thread + sizeof(PERF_OBJECT_TYPE) + 5 * definition;
    const size_t firstBlock = firstInstance + sizeof(PERF_INSTANCE_DEFINITION);
    const DWORD huge = 0xFFFFFFF0;
    struct Case {
        const char* what;
        size_t offset;
        DWORD value;
    } cases[] = {
        {"header length beyond the block", offsetof(PERF_DATA_BLOCK, HeaderLength), huge},
        {"object length beyond the block", thread, huge},
        {"object length zero", thread, 0},
        {"definition length beyond the object",
         thread + offsetof(PERF_OBJECT_TYPE, DefinitionLength), 0x10000},
        {"header length beyond the object", thread + offsetof(PERF_OBJECT_TYPE, HeaderLength),
         huge},
        {"more instances than the object holds", thread + offsetof(PERF_OBJECT_TYPE, NumInstances),
         0x7FFFFFFF},
        {"instance length beyond the object", firstInstance, huge},
        {"instance length zero", firstInstance, 0},
        {"counter block length beyond the object", firstBlock, 0x10000},
        {"counter block length zero", firstBlock, 0},
        {"counter offset beyond its block",
         thread + sizeof(PERF_OBJECT_TYPE) + definition +
             offsetof(PERF_COUNTER_DEFINITION, CounterOffset),
         0x1000},
        {"counter offset far beyond",
         thread + sizeof(PERF_OBJECT_TYPE) + definition +
             offsetof(PERF_COUNTER_DEFINITION, CounterOffset),
         huge},
        {"counter length beyond the object",
         thread + sizeof(PERF_OBJECT_TYPE) + offsetof(PERF_COUNTER_DEFINITION, ByteLength), huge},
        {"many objects of zero length", offsetof(PERF_DATA_BLOCK, NumObjectTypes), huge},
    };
    for (const Case& c : cases) {
        fake.block = Patched(good, c.offset, c.value);
        if (c.offset == offsetof(PERF_DATA_BLOCK, NumObjectTypes)) {
            fake.block = Patched(fake.block, thread, 0);
        }
        EXPECT_TRUE(Rows().empty()) << c.what;
    }
    // Every cut of the block, and a size claimed beyond the data written.
    for (size_t length = 8; length < good.size(); length++) {
        fake.block = good.substr(0, length);
        ASSERT_TRUE(Rows().empty()) << length;
    }
    // A size claimed beyond the buffer counts only up to the buffer's end:
    // an object that reaches past it is corrupt.
    fake.block = Patched(good, thread, 0x5000);
    fake.extraSizeClaimed = 0x100000;
    EXPECT_TRUE(Rows().empty());
}

TEST_F(PerfDataTest, PriorityTextsByCurrentAndBasePriority) {
    struct Case {
        LONG current, base;
        const char* text;
    } cases[] = {
        {15, 8, "(实时)"},  {31, 24, "(实时)"}, {15, 15, "(实时)"},   {1, 8, "(空闲)"},
        {16, 24, "(空闲)"}, {1, 1, "(空闲)"},   {8, 8, "(普通)"},     {9, 8, "(高于普通)"},
        {10, 8, "(最高)"},  {6, 8, "(最低)"},   {7, 8, "(低于普通)"}, {11, 8, ""},
        {5, 8, ""},         {26, 24, "(最高)"}, {22, 24, "(最低)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ThreadPriorityText(c.current, c.base), ToAnsi(c.text))
            << c.current << " over " << c.base;
    }
}

TEST_F(PerfDataTest, ThreadsComeFromToolhelpWhenTheDataHasNoThreadObject) {
    Child helper = StartChild("\"" + BinPath("tvhelper.exe") + "\" --threads=2 --lifetime=60000");
    ASSERT_TRUE(helper.started);
    ASSERT_TRUE(PumpUntil(
        [&] {
            SendMessageA(listBox, LB_RESETCONTENT, 0, 0);
            return ListThreadsFromSnapshot(listBox, helper.info.dwProcessId, 0) &&
                   SendMessageA(listBox, LB_GETCOUNT, 0, 0) >= 2;
        },
        20000));
    int fromSnapshot = static_cast<int>(SendMessageA(listBox, LB_GETCOUNT, 0, 0));

    // A block with a "Process" object beside, but no "Thread" object.
    fake.block =
        BuildBlock({{PROCESS, threadCounters, {{helper.info.dwProcessId, 1, 0, 8, 8}}, 1}});
    SendMessageA(listBox, LB_RESETCONTENT, 0, 0);
    EXPECT_EQ(ListThreadsNt(listBox, helper.info.dwProcessId, 0), 1);
    EXPECT_EQ(SendMessageA(listBox, LB_GETCOUNT, 0, 0), fromSnapshot);
    // A title database without "Thread" has nothing to ask for at all.
    fake.titles.assign("2\0System\0", 10);
    LoadPerfTitleIndexes();
    SendMessageA(listBox, LB_RESETCONTENT, 0, 0);
    EXPECT_EQ(ListThreadsNt(listBox, helper.info.dwProcessId, 0), 1);
    EXPECT_EQ(SendMessageA(listBox, LB_GETCOUNT, 0, 0), fromSnapshot);
    // Without Toolhelp there is no fallback.
    toolhelpApi.createToolhelp32Snapshot = nullptr;
    SendMessageA(listBox, LB_RESETCONTENT, 0, 0);
    EXPECT_EQ(ListThreadsNt(listBox, helper.info.dwProcessId, 0), 0);
    EndChild(helper);
}

} // namespace
