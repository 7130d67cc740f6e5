// What the editor reads from and asks of the running driver: the channel traffic counters,
// the poll-record status words, the message ring and the reload hand-shake. The editor's
// live status works on this interface, so tests can give it a driver of their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace hbt::editor {

struct ChannelCounters {
  std::uint16_t transmitted = 0;
  std::uint16_t received = 0;
  // Which run of the poller counted them: counters start from zero with every image the
  // poller loads (a new generation) and with every poller process (its alive counter
  // starts again), so two readings compare only when both agree.
  std::uint32_t generation = 0;
  std::uint32_t alive_counter = 0;
};

struct DriverMessage {
  std::uint16_t code = 0;  // the colour code the message was issued with
  std::string text;
};

class DriverLink {
 public:
  virtual ~DriverLink() = default;
  // Attaches to the running image: its channel count, 0 when no driver image exists.
  virtual int attach() = 0;
  // Poll records of the image now mapped (0 when none).
  virtual int poll_record_count() = 0;
  // Counters of the channel at `index`; nothing when the image cannot be read.
  virtual std::optional<ChannelCounters> counters(int index) = 0;
  // Status word of poll record `record`; nothing when it cannot be read.
  virtual std::optional<std::uint16_t> status(int record) = 0;
  // The next message of the driver's message ring, or nothing.
  virtual std::optional<DriverMessage> next_message() = 0;
  // Stops the driver and starts it again; it re-reads its start-up file in between.
  virtual void reload(const std::string& path) = 0;
};

}  // namespace hbt::editor
