#pragma once

#include <cstdio>
#include <cstdlib>

// A property every input must keep. A broken one aborts like a crash, so the
// fuzzer keeps the input and the replay test fails on it.
[[noreturn]] inline void FuzzCheckFailed(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_CHECK(cond) ((cond) ? (void)0 : FuzzCheckFailed(#cond, __FILE__, __LINE__))
