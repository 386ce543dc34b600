// A property that fails aborts, so libFuzzer records the input as a crash.
#pragma once

#include "platform/Utf8.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#define LV_FUZZ_CHECK(condition)                                                                   \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

inline bool IsWellFormedUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const lvutf8::TDecoded d = lvutf8::DecodeOne(text, i);
        if (!d.Valid)
            return false;
        i += d.Length;
    }
    return true;
}
