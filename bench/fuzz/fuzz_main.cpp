// tvfuzz: feeds mutated inputs to each reader of outside data and stops at
// the first crash, hang, read past the end of an input or impossible result,
// with the input saved for replay. Options:
//   --reader=NAME[,NAME...]  readers to run, in this order (default: all)
//   --count=N                mutated inputs per reader (default 1000000)
//   --seconds=N              stop each reader after N seconds at the latest
//   --seed=N                 seed of the run (default 1)
//   --first=N                number of the first input (default 0)
//   --seeds=FOLDER           seed corpus, one folder per reader
//   --findings=FOLDER        where the input of a finding is saved
//   --replay=FILE            run one saved input through the one reader named
//   --smoke                  a short run for the test suite: 2000 inputs each
// Exit code: 0 without a finding, 2 on a finding, 1 when it cannot run.
#include "fuzzer.h"
#include "readers.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifndef TVFUZZ_SEEDS
#define TVFUZZ_SEEDS "seeds"
#endif

struct Options {
    std::string readers;
    DWORD count = 1000000;
    DWORD seconds = 0;
    DWORD seed = 1;
    DWORD first = 0;
    std::string seeds;
    std::string replay;
};

// A path of the build machine ("/work/...") as this system names it.
static std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
    }
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return path;
}

static bool TakeOption(const char* argument, const char* name, std::string* value) {
    size_t length = strlen(name);
    if (strncmp(argument, name, length) != 0) {
        return false;
    }
    *value = argument + length;
    return true;
}

static bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; i++) {
        std::string value;
        if (TakeOption(argv[i], "--reader=", &value)) {
            options->readers = value;
        } else if (TakeOption(argv[i], "--count=", &value)) {
            options->count = strtoul(value.c_str(), nullptr, 10);
        } else if (TakeOption(argv[i], "--seconds=", &value)) {
            options->seconds = strtoul(value.c_str(), nullptr, 10);
        } else if (TakeOption(argv[i], "--seed=", &value)) {
            options->seed = strtoul(value.c_str(), nullptr, 10);
        } else if (TakeOption(argv[i], "--first=", &value)) {
            options->first = strtoul(value.c_str(), nullptr, 10);
        } else if (TakeOption(argv[i], "--seeds=", &value)) {
            options->seeds = WindowsPath(value);
        } else if (TakeOption(argv[i], "--findings=", &value)) {
            findingsFolder = WindowsPath(value);
        } else if (TakeOption(argv[i], "--replay=", &value)) {
            options->replay = WindowsPath(value);
        } else if (strcmp(argv[i], "--smoke") == 0) {
            options->count = 2000;
        } else {
            fprintf(stderr, "tvfuzz: unknown option %s\n", argv[i]);
            return false;
        }
    }
    return true;
}

static bool Selected(const Options& options, const char* name) {
    if (options.readers.empty()) {
        return true;
    }
    std::string list = "," + options.readers + ",";
    return list.find("," + std::string(name) + ",") != std::string::npos;
}

static DWORD unguardedInputs;

static void RunOne(const FuzzReader& reader, const Bytes& input, DWORD number) {
    currentInput.data = input.data();
    currentInput.size = static_cast<DWORD>(input.size());
    currentInput.number = number;
    currentInput.startTick = GetTickCount();
    currentInput.running = 1;
    if (reader.templateReader) {
        RunTemplateReader(reader, input, number);
    } else {
        reader.run(input, number);
    }
    currentInput.running = 0;
    if (!InputWasGuarded()) {
        unguardedInputs++;
    }
}

static double Seconds(LARGE_INTEGER start, LARGE_INTEGER end) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(end.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

// 0 when the reader ran through; 1 when it could not run.
static int FuzzReaderRun(const FuzzReader& reader, const Options& options) {
    currentInput.reader = reader.name;
    currentInput.seed = options.seed;
    currentInput.limitMilliseconds = reader.limitMilliseconds;
    currentInput.seedName = nullptr;
    if (reader.setUp && !reader.setUp()) {
        fprintf(stderr, "tvfuzz: reader %s cannot run here\n", reader.name);
        return 1;
    }
    Corpus corpus;
    if (options.replay.empty() && !LoadCorpus(options.seeds + "\\" + reader.name, &corpus)) {
        fprintf(stderr, "tvfuzz: no seeds in %s\\%s\n", options.seeds.c_str(), reader.name);
        return 1;
    }
    unguardedInputs = 0;
    if (!options.replay.empty()) {
        Bytes input;
        if (!ReadWholeFile(options.replay, &input)) {
            fprintf(stderr, "tvfuzz: cannot read %s\n", options.replay.c_str());
            return 1;
        }
        RunOne(reader, input, options.first);
        printf("%s: the input of %s gives no finding\n", reader.name, options.replay.c_str());
        PrintReaderOutput();
    } else {
        for (size_t i = 0; i < corpus.seeds.size(); i++) {
            currentInput.seedName = corpus.names[i].c_str();
            RunOne(reader, corpus.seeds[i], 0);
        }
        currentInput.seedName = nullptr;
        LARGE_INTEGER start, now;
        QueryPerformanceCounter(&start);
        DWORD done = 0;
        Bytes input;
        for (; done < options.count; done++) {
            Random random = InputRandom(options.seed, reader.name, options.first + done);
            Mutate(&random, corpus, reader.maxLength, &input);
            RunOne(reader, input, options.first + done);
            if (options.seconds && (done & 255) == 255) {
                QueryPerformanceCounter(&now);
                if (Seconds(start, now) >= options.seconds) {
                    done++;
                    break;
                }
            }
        }
        QueryPerformanceCounter(&now);
        double seconds = Seconds(start, now);
        printf("%-10s %9lu inputs (numbers %lu..%lu) and %2u seeds in %7.1f s: %8.0f inputs/s, "
               "no finding\n",
               reader.name, done, options.first, options.first + done - 1,
               static_cast<unsigned>(corpus.seeds.size()), seconds,
               seconds > 0 ? done / seconds : 0.0);
        fflush(stdout);
    }
    if (reader.tearDown) {
        reader.tearDown();
    }
    if (unguardedInputs) {
        fprintf(stderr, "tvfuzz: %lu inputs of %s did not reach the guarded memory\n",
                unguardedInputs, reader.name);
        return 1;
    }
    return 0;
}

int main(int argc, char** argv) {
    Options options;
    options.seeds = WindowsPath(TVFUZZ_SEEDS);
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, sizeof program);
    std::string folder(program);
    folder.resize(folder.rfind('\\'));
    findingsFolder = folder + "\\fuzz-findings";
    if (!ParseOptions(argc, argv, &options) || !SetUpReaders(folder)) {
        return 1;
    }
    printf("tvfuzz: seed %lu, %lu inputs per reader, seeds from %s\n", options.seed, options.count,
           options.seeds.c_str());
    fflush(stdout);
    StartFaultDetection();
    int ran = 0;
    for (int i = 0; i < fuzzReaderCount; i++) {
        if (Selected(options, fuzzReaders[i].name)) {
            ran++;
            if (FuzzReaderRun(fuzzReaders[i], options) != 0) {
                return 1;
            }
        }
    }
    if (ran == 0) {
        fprintf(stderr, "tvfuzz: no reader named %s\n", options.readers.c_str());
        return 1;
    }
    return 0;
}
