// The one entry point every fuzz target defines. libFuzzer calls it with each input it
// tries; the replay driver (replay_main.cpp) calls it with each file of a corpus, so the
// normal test run keeps every input the fuzzer ever found interesting.
//
// A target reports a broken property by calling FuzzCheckFailed, which aborts: libFuzzer
// then saves the input, and a replay fails its test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

[[noreturn]] void FuzzCheckFailed(const char* file, int line, const std::string& what);

#define FUZZ_CHECK(condition, what)                                                                \
    do {                                                                                           \
        if (!(condition))                                                                          \
            FuzzCheckFailed(__FILE__, __LINE__, (what));                                           \
    } while (false)
