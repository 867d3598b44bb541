#pragma once
// A broken property ends the run the way a crash does, so that libFuzzer keeps the input.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/report.h"

namespace fuzz {

[[noreturn]] inline void Fail(const char* file, int line, const char* what,
                              const std::string& detail = {}) {
  std::fprintf(stderr, "%s:%d: property broken: %s%s%s\n", file, line, what,
               detail.empty() ? "" : "\n  ", detail.c_str());
  std::abort();
}

}  // namespace fuzz

#define FUZZ_CHECK(condition) ((condition) ? void() : fuzz::Fail(__FILE__, __LINE__, #condition))

#define FUZZ_CHECK_EQ(actual, expected)                                                           \
  (((actual) == (expected)) ? void()                                                              \
                            : fuzz::Fail(__FILE__, __LINE__, #actual " == " #expected,            \
                                         "actual " + platform::Quoted(actual) + "\n  expected " + \
                                             platform::Quoted(expected)))
