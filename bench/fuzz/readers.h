// The readers of outside data that the fuzz driver feeds, one row each.
#ifndef TOLVANE_BENCH_FUZZ_READERS_H
#define TOLVANE_BENCH_FUZZ_READERS_H

#include "fuzzer.h"

struct FuzzReader {
    const char* name; // also the name of its seed folder
    DWORD maxLength;  // longest input
    DWORD limitMilliseconds;
    // Once before the first input; false when the reader cannot run here.
    bool (*setUp)();
    // Runs the product's reader on one input; the runner places the input
    // where a read past its end faults.
    void (*run)(const Bytes& input, DWORD number);
    void (*tearDown)();
    // Instead of `run`: a reader of a printf-style template that checks and
    // cuts the zero-terminated text in place, and returns nonzero when the
    // text may be formatted with one integer. The driver puts the text and its
    // terminator right before the guard, runs the reader, and formats what it
    // accepted.
    int (*templateReader)(char* text);
};

extern const FuzzReader fuzzReaders[];
extern const int fuzzReaderCount;

// The product's start-up steps the readers need, the hidden windows that
// receive their rows, and the patched imports. False with a message printed
// when something is missing.
bool SetUpReaders(const std::string& programFolder);
// Called after each input: false when the input did not reach the guarded
// memory it was meant for (a fault of the driver, not of the reader).
bool InputWasGuarded();
// What the windows and buffers hold after the last input, for a replay.
void PrintReaderOutput();
void RunTemplateReader(const FuzzReader& reader, const Bytes& input, DWORD number);

#endif
