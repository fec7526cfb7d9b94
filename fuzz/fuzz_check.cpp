#include "fuzz/fuzz_target.h"

#include <cstdio>
#include <cstdlib>

void FuzzCheckFailed(const char* file, int line, const std::string& what) {
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what.c_str());
    std::abort();
}
