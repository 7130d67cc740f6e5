// Device ranges per CPU type.
//
// Where the numbers come from (public MELSEC documentation):
// - A-compatible 1E frames as a Q-series Ethernet port answers them (Q03UDE CPU manual,
//   MC protocol chapter, "When A-compatible 1E frame is used"): X, Y 0..7FF, M 0..8191 and
//   M9000..M9255, F 0..2047, B 0..FFF, D 0..6143, W 0..FFF; L cannot be accessed.
// - The ranges common to every A-series CPU ("ACPU common instructions", as a third-party
//   MC protocol client lists them): TN, CN, TC, CC 0..255, D 0..1023 (D1024..D6143 and
//   M2048..M8191 only on AnA and AnU), W 0..3FF, R 0..8191.
// - The Q-series default device assignment (QnA/Q device list of the A1SD51S manual):
//   X, Y, B, W 0..1FFF, M, L 0..8191, F 0..2047, T 0..2047, C 0..1023, D 0..12287,
//   R 0..32767.
// - AnN B 0..3FF and F 0..255, and the AnU extensions (B, W 0..1FFF, D 0..8191), are the
//   CPUs' device points as their own manuals give them.
#include "tools/mcsim/cpu_model.h"

#include <array>
#include <cctype>
#include <string>

#include "tools/mcsim/device_memory.h"

namespace hbt::mcsim {
namespace {

using image::RegisterType;
using Table = std::array<std::uint32_t, kRegisterTypeCount>;

// In register type order: X Y B L M F TC TS TN CC CS CN D W R EX (EX: words per block).
constexpr Table kAnN = {0x800, 0x800, 0x400, 2048, 2048, 256, 256, 256, 256,
                        256,   256,   256,   1024, 0x400, 8192, 8192};
constexpr Table kAnA = {0x800, 0x800, 0x1000, 8192, 8192, 2048, 2048, 2048, 2048,
                        1024,  1024,  1024,   6144, 0x1000, 8192, 8192};
constexpr Table kAnU = {0x800, 0x800, 0x2000, 8192, 8192, 2048, 2048, 2048, 2048,
                        1024,  1024,  1024,   8192, 0x2000, 8192, 8192};
constexpr Table kQ1E = {0x800, 0x800, 0x1000, 8192, 8192, 2048, 2048, 2048, 2048,
                        1024,  1024,  1024,   6144, 0x1000, 8192, 8192};
constexpr Table kQ = {0x2000, 0x2000, 0x2000, 8192, 8192,  2048,  2048, 2048, 2048,
                      1024,   1024,   1024,   12288, 0x2000, 32768, 8192};

const Table& table_1e(CpuModel model) {
  switch (model) {
    case CpuModel::kAnN: return kAnN;
    case CpuModel::kAnA: return kAnA;
    case CpuModel::kAnU: return kAnU;
    case CpuModel::kQ: break;
  }
  return kQ1E;
}

std::string lower(std::string_view text) {
  std::string out;
  for (char c : text) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::optional<CpuModel> parse_cpu_model(std::string_view text) {
  std::string t = lower(text);
  if (t == "ann" || t == "ans" || t == "ann/ans") return CpuModel::kAnN;
  if (t == "ana" || t == "anas") return CpuModel::kAnA;
  if (t == "anu") return CpuModel::kAnU;
  if (t == "q" || t == "q series" || t == "q-series") return CpuModel::kQ;
  return std::nullopt;
}

std::string_view cpu_model_name(CpuModel model) {
  switch (model) {
    case CpuModel::kAnN: return "AnN";
    case CpuModel::kAnA: return "AnA";
    case CpuModel::kAnU: return "AnU";
    case CpuModel::kQ: break;
  }
  return "Q";
}

std::uint32_t points_1e(CpuModel model, RegisterType type) {
  return table_1e(model)[type_index(type)];
}

std::uint32_t points_3e(CpuModel model, RegisterType type) {
  return model == CpuModel::kQ ? kQ[type_index(type)] : points_1e(model, type);
}

void apply_cpu_model(Plc& plc, CpuModel model) {
  for (int i = 0; i < kRegisterTypeCount; ++i) {
    auto type = static_cast<RegisterType>(i);
    std::uint32_t points = points_3e(model, type);
    // The memory of an A-series CPU also holds its special relays; the 1E range check
    // keeps the gap between the user relays and M9000 closed.
    if (type == RegisterType::M && model != CpuModel::kQ) points = kSpecialRelayLast + 1;
    plc.resize(type, points);
  }
  plc.set_model(model);
}

}  // namespace hbt::mcsim
