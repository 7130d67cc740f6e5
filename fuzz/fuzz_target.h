// One fuzz target: a function from bytes to nothing that must never crash, read or write out
// of bounds, or break the invariant it checks. The same source builds two ways: with
// HBT_FUZZ_ENTRY as a libFuzzer program, otherwise registered by name so that the ordinary
// unit tests replay the seed corpus and every recorded crash input through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hbt::fuzz {

using Bytes = std::vector<std::uint8_t>;
using TargetFunction = void (*)(std::span<const std::uint8_t> input);
// The target's seed corpus, made from the examples the unit tests use.
using SeedFunction = std::vector<Bytes> (*)();

struct Target {
  const char* name;
  TargetFunction run;
  SeedFunction seeds;
};

inline Bytes text_bytes(std::string_view text) { return {text.begin(), text.end()}; }

// Every target linked into this program, in registration order.
std::vector<Target>& targets();

struct Registration {
  Registration(const char* name, TargetFunction run, SeedFunction seeds) { targets().push_back({name, run, seeds}); }
};

// A broken invariant: says which and stops at once, so that libFuzzer keeps the input as a
// crash and a replaying test fails.
[[noreturn]] inline void fail(const char* target, const std::string& what) {
  std::fprintf(stderr, "%s: invariant broken: %s\n", target, what.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace hbt::fuzz

// HBT_FUZZ_TARGET(id, run, seeds) at the end of a target's source, outside any namespace.
#ifdef HBT_FUZZ_ENTRY
#define HBT_FUZZ_TARGET(id, function, seeds)                                        \
  [[maybe_unused]] static const auto fuzz_seeds_##id = seeds;                      \
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
    function({data, size});                                                        \
    return 0;                                                                      \
  }
#else
#define HBT_FUZZ_TARGET(id, function, seeds) \
  static const ::hbt::fuzz::Registration fuzz_registration_##id(#id, function, seeds);
#endif
