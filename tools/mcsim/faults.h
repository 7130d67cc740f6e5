// Fault injection of one endpoint: what goes wrong with the next reply, chosen at random
// in the configured shares. Changed at run time through the control commands.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tools/mcsim/frames.h"

namespace hbt::mcsim {

struct FaultSettings {
  double drop = 0;           // share of replies not sent
  int delay_ms = 0;          // every reply waits this long
  int delay_jitter_ms = 0;   // plus up to this much more, at random
  bool code_on = false;      // answer with a given end/completion code ...
  std::uint16_t code = 0;
  std::uint8_t extended = 0;
  double code_share = 1;     // ... for this share of requests
  double wrong_command = 0;  // share of replies with another command code
  int split_bytes = 0;       // replies go out in pieces of this many bytes
  int split_gap_ms = 20;     // pause between pieces
  bool join = false;         // hold a reply back and send it with the next one
  double close = 0;          // share of requests answered by closing the connection
  bool refuse = false;       // no new connections (TCP) / port closed (UDP)
  bool silent = false;       // requests are read and never answered (half-open peer)
  int slow_ms = 0;           // a share of requests takes this much longer ...
  double slow_share = 0;     // ... this share
  bool serial = false;       // one request at a time: each waits for the one before it
};

// What to do with one request.
struct ReplyPlan {
  bool silent = false;
  bool close = false;
  bool drop = false;
  ReplyOverride forced;
  bool wrong_command = false;
  int delay_ms = 0;
  int split_bytes = 0;
  int split_gap_ms = 0;
  bool join = false;
  bool serial = false;  // the delay counts from the end of the previous request's service
};

class Faults {
 public:
  explicit Faults(std::uint64_t seed = 1) : rng_(seed) {}

  const FaultSettings& settings() const { return s_; }
  FaultSettings& settings() { return s_; }

  // Applies one control command's arguments: KIND [ARG...] [p=SHARE]. Returns an error
  // text, empty on success.
  std::string configure(const std::vector<std::string_view>& args);
  // One line describing the active faults ("none" when there are none).
  std::string describe() const;

  ReplyPlan plan();

 private:
  bool chance(double share);

  FaultSettings s_;
  std::mt19937_64 rng_;
};

// Durations in control commands: "250", "250ms", "2s", "1.5s", "2m". nullopt when invalid.
std::optional<double> parse_duration_ms(std::string_view text);
std::optional<double> parse_share(std::string_view text);  // 0..1, or a percentage "30%"
std::optional<long long> parse_integer(std::string_view text);  // decimal, 0x hex, signed

}  // namespace hbt::mcsim
