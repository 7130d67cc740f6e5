// The device ranges a real CPU of each MELSEC type holds, so that a simulated PLC refuses
// what that CPU would refuse: a configuration that polls cleanly here polls cleanly there.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "image/layout.h"

namespace hbt::mcsim {

class Plc;

// The editor's CPU types. AnN/AnS CPUs (A1N, A2N, A3N, A1S, A2S) share one set of ranges,
// as do AnA and AnAS (A2A, A3A, A2AS); AnU covers A2U, A3U, A4U and A2US; Q is a Q-series
// CPU with the default device assignment.
enum class CpuModel { kAnN, kAnA, kAnU, kQ };

// "AnN", "AnS", "AnN/AnS", "AnA", "AnAS", "AnU", "Q" or "Q Series", any letter case.
std::optional<CpuModel> parse_cpu_model(std::string_view text);
std::string_view cpu_model_name(CpuModel model);

// Device numbers below this exist for requests in A-compatible 1E frames (points of bit
// devices, words of word devices). For M it is the user relays: the special relays
// M9000..M9255 exist besides on every type. L has no 1E code and shares the M range.
std::uint32_t points_1e(CpuModel model, image::RegisterType type);
// Device numbers below this exist for requests in 3E frames (the CPU's own device memory).
std::uint32_t points_3e(CpuModel model, image::RegisterType type);

// Gives every CPU and station of the PLC the device memory of `model`; values in the part
// that remains are kept.
void apply_cpu_model(Plc& plc, CpuModel model);

}  // namespace hbt::mcsim
