#include "fuzzer.h"

#include <stdio.h>
#include <string.h>

CurrentInput currentInput;
std::string findingsFolder = "fuzz-findings";
void (*beforeExit)();

Random InputRandom(DWORD seed, const char* reader, DWORD number) {
    unsigned long long mixed = seed;
    for (const char* p = reader; *p; p++) {
        mixed = mixed * 131 + static_cast<BYTE>(*p);
    }
    Random random = {mixed ^ (0x9E3779B97F4A7C15ull * (number + 1ull))};
    return random;
}

DWORD NextRandom(Random* random) {
    unsigned long long z = (random->state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<DWORD>((z ^ (z >> 31)) >> 16);
}

DWORD RandomBelow(Random* random, DWORD bound) {
    return bound == 0 ? 0 : NextRandom(random) % bound;
}

bool ReadWholeFile(const std::string& path, Bytes* data) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD size = GetFileSize(file, nullptr);
    bool done = size != INVALID_FILE_SIZE;
    if (done) {
        data->resize(size);
        DWORD read = 0;
        done = size == 0 || (ReadFile(file, data->data(), size, &read, nullptr) && read == size);
    }
    CloseHandle(file);
    return done;
}

bool LoadCorpus(const std::string& folder, Corpus* corpus) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            continue;
        }
        Bytes seed;
        if (ReadWholeFile(folder + "\\" + found.cFileName, &seed)) {
            corpus->seeds.push_back(seed);
            corpus->names.push_back(found.cFileName);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return !corpus->seeds.empty();
}

// Boundary values: the ends of signed and unsigned ranges, small counts,
// and the bytes that separate or format texts.
static const BYTE boundaryBytes[] = {0, 0xFF, 0x7F, 0x80, 1, ' ', '%', '\\', '|', '=', 0x81, 0xFE};
static const DWORD boundaryWords[] = {0, 0xFFFF, 0x7FFF, 0x8000, 1, 2, 4, 6, 0x100, 0xFFFE};
static const DWORD boundaryLongs[] = {0,      0xFFFFFFFF, 0x7FFFFFFF, 0x80000000, 1,      4,
                                      0x3FFF, 0x4000,     0x10000,    0xFFFFFFFE, 0x1000, 0x7FFF};

static void PutValue(Bytes* input, DWORD at, DWORD width, DWORD value) {
    for (DWORD i = 0; i < width && at + i < input->size(); i++) {
        (*input)[at + i] = static_cast<BYTE>(value >> (8 * i));
    }
}

static DWORD GetValue(const Bytes& input, DWORD at, DWORD width) {
    DWORD value = 0;
    for (DWORD i = 0; i < width && at + i < input.size(); i++) {
        value |= static_cast<DWORD>(input[at + i]) << (8 * i);
    }
    return value;
}

// A field position, aligned as such fields usually are (or not at all).
static DWORD FieldPosition(Random* random, const Bytes& input, DWORD width) {
    DWORD at = RandomBelow(random, static_cast<DWORD>(input.size()));
    return RandomBelow(random, 4) == 0 ? at : at & ~(width - 1);
}

// A length near the input's own: its size, one more or less, a random one
// up to twice as large, or the distance from the field to the end.
static DWORD LengthLike(Random* random, const Bytes& input, DWORD at) {
    DWORD size = static_cast<DWORD>(input.size());
    switch (RandomBelow(random, 5)) {
    case 0:
        return size;
    case 1:
        return size + 1;
    case 2:
        return size - 1;
    case 3:
        return size - at + RandomBelow(random, 3) - 1;
    default:
        return RandomBelow(random, 2 * size + 16);
    }
}

static BYTE FillByte(Random* random) {
    static const BYTE fills[] = {0, 0xFF, 'A', 0x80};
    DWORD kind = RandomBelow(random, 5);
    return kind < 4 ? fills[kind] : static_cast<BYTE>(NextRandom(random));
}

static void MutateOnce(Random* random, const Corpus& corpus, Bytes* input) {
    DWORD size = static_cast<DWORD>(input->size());
    DWORD kind = RandomBelow(random, 13);
    if (size == 0 && kind != 7 && kind != 8) {
        kind = 7;
    }
    DWORD width = 1u << RandomBelow(random, 3);
    DWORD at = FieldPosition(random, *input, width);
    switch (kind) {
    case 0: // bit flip
        (*input)[at] ^= static_cast<BYTE>(1u << RandomBelow(random, 8));
        break;
    case 1:
        (*input)[at] = boundaryBytes[RandomBelow(random, sizeof boundaryBytes)];
        break;
    case 2:
        PutValue(input, at, 2,
                 RandomBelow(random, 2) ? boundaryWords[RandomBelow(random, 10)]
                                        : LengthLike(random, *input, at));
        break;
    case 3:
        PutValue(input, at, 4,
                 RandomBelow(random, 2) ? boundaryLongs[RandomBelow(random, 12)]
                                        : LengthLike(random, *input, at));
        break;
    case 4: { // a length or count moved by a little
        int delta = static_cast<int>(RandomBelow(random, 4)) + 1;
        PutValue(input, at, width,
                 GetValue(*input, at, width) + (RandomBelow(random, 2) ? delta : -delta));
        break;
    }
    case 5: // a random length in a length field
        PutValue(input, at, width, LengthLike(random, *input, at));
        break;
    case 6: // truncation
        input->resize(RandomBelow(random, size + 1));
        break;
    case 7: { // extension
        DWORD count = 1 + RandomBelow(random, RandomBelow(random, 2) ? 16 : 600);
        BYTE fill = FillByte(random);
        for (DWORD i = 0; i < count; i++) {
            input->push_back(fill == 0x80 ? static_cast<BYTE>(NextRandom(random)) : fill);
        }
        break;
    }
    case 8: { // splice: the start of this input, the rest of another seed
        const Bytes& other =
            corpus.seeds[RandomBelow(random, static_cast<DWORD>(corpus.seeds.size()))];
        DWORD cut = RandomBelow(random, size + 1);
        DWORD from = RandomBelow(random, static_cast<DWORD>(other.size()) + 1);
        input->resize(cut);
        input->insert(input->end(), other.begin() + from, other.end());
        break;
    }
    case 9: { // insertion of a few bytes
        DWORD count = 1 + RandomBelow(random, 32);
        BYTE fill = FillByte(random);
        input->insert(input->begin() + at, count, fill);
        break;
    }
    case 10: { // deletion
        DWORD count = 1 + RandomBelow(random, size - at);
        input->erase(input->begin() + at, input->begin() + at + count);
        break;
    }
    case 11: // random bytes
        for (DWORD i = 0, count = 1 + RandomBelow(random, 8); i < count && at + i < size; i++) {
            (*input)[at + i] = static_cast<BYTE>(NextRandom(random));
        }
        break;
    default: { // a chunk copied over another place of the input
        DWORD from = RandomBelow(random, size);
        DWORD count = 1 + RandomBelow(random, 64);
        for (DWORD i = 0; i < count && from + i < size && at + i < size; i++) {
            (*input)[at + i] = (*input)[from + i];
        }
        break;
    }
    }
}

void Mutate(Random* random, const Corpus& corpus, DWORD maxLength, Bytes* input) {
    *input = corpus.seeds[RandomBelow(random, static_cast<DWORD>(corpus.seeds.size()))];
    for (DWORD i = 0, rounds = 1 + RandomBelow(random, 8); i < rounds; i++) {
        MutateOnce(random, corpus, input);
    }
    if (input->size() > maxLength) {
        input->resize(maxLength);
    }
}

static const DWORD PAGE = 4096;
enum { MAX_AREAS = 32 };

static GuardedArea* areas[MAX_AREAS];
static int areaCount;

static DWORD WholePages(DWORD bytes) {
    return (bytes + PAGE - 1) & ~(PAGE - 1);
}

bool CreateGuardedArea(GuardedArea* area, DWORD usable, DWORD guardLength) {
    area->usable = WholePages(usable);
    area->guardLength = WholePages(guardLength < PAGE ? PAGE : guardLength);
    area->clean = 0;
    // Reserved but never committed: any access to the guard range faults.
    area->base = static_cast<BYTE*>(
        VirtualAlloc(nullptr, area->usable + area->guardLength, MEM_RESERVE, PAGE_NOACCESS));
    if (!area->base || !VirtualAlloc(area->base, area->usable, MEM_COMMIT, PAGE_READWRITE) ||
        areaCount == MAX_AREAS) {
        return false;
    }
    area->clean = area->usable;
    areas[areaCount++] = area;
    return true;
}

BYTE* EndOfArea(GuardedArea* area, DWORD size) {
    if (size > area->usable) {
        return nullptr;
    }
    DWORD start = area->usable - size;
    if (area->clean < start) {
        memset(area->base + area->clean, 0, start - area->clean);
    }
    area->clean = start;
    return area->base + start;
}

BYTE* PlaceAtEnd(GuardedArea* area, const BYTE* data, DWORD size) {
    BYTE* start = EndOfArea(area, size);
    if (start && size) {
        memcpy(start, data, size);
    }
    return start;
}

bool InsideGuard(const void* address) {
    const BYTE* byte = static_cast<const BYTE*>(address);
    for (int i = 0; i < areaCount; i++) {
        const BYTE* guard = areas[i]->base + areas[i]->usable;
        if (byte >= guard && byte < guard + areas[i]->guardLength) {
            return true;
        }
    }
    return false;
}

void* PatchImport(const char* module, const char* function, void* replacement) {
    BYTE* image = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    const IMAGE_NT_HEADERS* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (const IMAGE_IMPORT_DESCRIPTOR* entry =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(image + imports.VirtualAddress);
         entry->Name; entry++) {
        if (lstrcmpiA(reinterpret_cast<const char*>(image + entry->Name), module) != 0) {
            continue;
        }
        const IMAGE_THUNK_DATA* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(
            image + (entry->OriginalFirstThunk ? entry->OriginalFirstThunk : entry->FirstThunk));
        IMAGE_THUNK_DATA* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(image + entry->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            const IMAGE_IMPORT_BY_NAME* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(image + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) {
                continue;
            }
            DWORD protection;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                           &protection);
            void* original = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<DWORD_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            return original;
        }
    }
    return nullptr;
}

void ReportFinding(const char* what) {
    static LONG reporting = 0;
    if (InterlockedExchange(&reporting, 1)) {
        Sleep(INFINITE); // the other thread reports
    }
    CreateDirectoryA(findingsFolder.c_str(), nullptr);
    char path[MAX_PATH + 64];
    snprintf(path, sizeof path, "%s\\%s-%lu.bin", findingsFolder.c_str(), currentInput.reader,
             currentInput.number);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, currentInput.data, currentInput.size, &written, nullptr);
        CloseHandle(file);
    }
    fflush(stdout);
    if (currentInput.seedName) {
        fprintf(stderr, "\nFINDING in reader %s, seed file %s: %s\n", currentInput.reader,
                currentInput.seedName, what);
    } else {
        fprintf(stderr,
                "\nFINDING in reader %s, input %lu of seed %lu (%lu bytes): %s\n"
                "  input saved to %s\n"
                "  replay: tvfuzz.exe --reader=%s --replay=%s\n"
                "  or:     tvfuzz.exe --reader=%s --seed=%lu --first=%lu --count=1\n",
                currentInput.reader, currentInput.number, currentInput.seed, currentInput.size,
                what, path, currentInput.reader, path, currentInput.reader, currentInput.seed,
                currentInput.number);
    }
    fflush(stderr);
    if (beforeExit) {
        beforeExit();
    }
    TerminateProcess(GetCurrentProcess(), 2);
}

static bool IsFault(DWORD code) {
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_STACK_OVERFLOW:
    case STATUS_HEAP_CORRUPTION:
    case STATUS_STACK_BUFFER_OVERRUN:
        return true;
    default:
        return false;
    }
}

// The file name of the module that holds the code at `address`, or "?".
static const char* ModuleOf(const void* address) {
    static char name[MAX_PATH];
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<const char*>(address), &module) ||
        !GetModuleFileNameA(module, name, sizeof name)) {
        return "?";
    }
    const char* slash = strrchr(name, '\\');
    return slash ? slash + 1 : name;
}

// Sees every exception first, also those a system function would swallow
// (such as a string function handed a wild pointer): while a reader runs,
// any fault is a finding.
static LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (!currentInput.running || !IsFault(record->ExceptionCode)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    char what[256];
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
        const void* address = reinterpret_cast<const void*>(record->ExceptionInformation[1]);
        ULONG_PTR access = record->ExceptionInformation[0];
        snprintf(what, sizeof what, "%s of %p by code at %p (%s)%s",
                 access == 0   ? "read"
                 : access == 1 ? "write"
                               : "execution",
                 address, record->ExceptionAddress, ModuleOf(record->ExceptionAddress),
                 InsideGuard(address) ? ": past the end of the input (guard page)" : ": a crash");
    } else {
        snprintf(what, sizeof what, "exception %08lx by code at %p (%s): a crash",
                 record->ExceptionCode, record->ExceptionAddress,
                 ModuleOf(record->ExceptionAddress));
    }
    ReportFinding(what);
    return EXCEPTION_CONTINUE_SEARCH;
}

static DWORD WINAPI Watchdog(void*) {
    for (;;) {
        Sleep(50);
        if (currentInput.running &&
            GetTickCount() - currentInput.startTick > currentInput.limitMilliseconds) {
            char what[128];
            snprintf(what, sizeof what, "a hang: no answer within %lu ms",
                     currentInput.limitMilliseconds);
            ReportFinding(what);
        }
    }
}

void StartFaultDetection() {
    AddVectoredExceptionHandler(1, OnException);
    HANDLE thread = CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
    if (thread) {
        CloseHandle(thread);
    }
}
