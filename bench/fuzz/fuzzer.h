// The fuzz driver's machinery: a reproducible random source, the mutator,
// seed corpora, inputs placed against inaccessible memory, patches of the
// program's own imports, and the reports of a fault or a hang.
#ifndef TOLVANE_BENCH_FUZZ_FUZZER_H
#define TOLVANE_BENCH_FUZZ_FUZZER_H

#include <windows.h>

#include <string>
#include <vector>

typedef std::vector<BYTE> Bytes;

// splitmix64: every input has its own state, derived from the run's seed and
// the input's number, so that one input can be made again on its own.
struct Random {
    unsigned long long state;
};
Random InputRandom(DWORD seed, const char* reader, DWORD number);
DWORD NextRandom(Random* random);
// A number below `bound` (0 when bound is 0).
DWORD RandomBelow(Random* random, DWORD bound);

struct Corpus {
    std::vector<Bytes> seeds;
    std::vector<std::string> names;
};
// Every file of the folder; false when it holds none.
bool LoadCorpus(const std::string& folder, Corpus* corpus);
bool ReadWholeFile(const std::string& path, Bytes* data);

// One to eight mutations of a seed: bit flips, bytes and 16- or 32-bit fields
// set to boundary values or moved by one, random lengths, truncations,
// extensions, insertions, deletions and splices with another seed. The
// result is at most `maxLength` bytes.
void Mutate(Random* random, const Corpus& corpus, DWORD maxLength, Bytes* input);

// Read-write pages followed by a reserved range that no access may touch:
// data placed with PlaceAtEnd ends right where that range begins, so a read
// one byte past its end faults at once.
struct GuardedArea {
    BYTE* base;
    DWORD usable;      // read-write bytes before the guard
    DWORD guardLength; // inaccessible bytes after them
    DWORD clean;       // offset from which earlier data may lie in the area
};
bool CreateGuardedArea(GuardedArea* area, DWORD usable, DWORD guardLength);
// The address at which `size` bytes end at the guard. The area's bytes
// before that address are zero, whatever earlier inputs left there.
BYTE* EndOfArea(GuardedArea* area, DWORD size);
BYTE* PlaceAtEnd(GuardedArea* area, const BYTE* data, DWORD size);
bool InsideGuard(const void* address);

// Replaces the program's import of `function` from `module` (compared without
// case) and returns the original address, or null when there is no such import.
void* PatchImport(const char* module, const char* function, void* replacement);

// The input under test, for the reports. `number` is its number in the run.
struct CurrentInput {
    const char* reader;
    const BYTE* data;
    DWORD size;
    DWORD number;
    DWORD seed;
    const char* seedName; // set while the seeds themselves run
    DWORD limitMilliseconds;
    volatile DWORD startTick;
    volatile LONG running;
};
extern CurrentInput currentInput;
extern std::string findingsFolder;
// Run when the driver stops on a finding, before the process ends (ends
// the helper process, for one).
extern void (*beforeExit)();

// Installs the fault handlers and starts the watchdog thread.
void StartFaultDetection();
// Writes the input under test to the findings folder, prints what happened
// and how to replay it, and ends the process with exit code 2.
void ReportFinding(const char* what);

#endif
