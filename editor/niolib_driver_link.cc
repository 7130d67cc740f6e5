#include "editor/niolib_driver_link.h"

#include <atomic>
#include <cstring>

namespace hbt::editor {

void EditorNiolibSink::message(std::uint16_t colour, std::string_view text) {
  if (colour != image::kColourError || !alarm_ || showing_) return;
  std::string line(text.substr(0, 256));
  if (std::size_t cut = line.find_first_of("\r\n"); cut != std::string::npos) line.resize(cut);
  showing_ = true;
  alarm_(line);
  showing_ = false;
}

namespace {

image::NiolibOptions editor_options() {
  image::NiolibOptions options;
  options.variant = image::NiolibVariant::kClient;
  options.editor = true;
  return options;
}

}  // namespace

NiolibDriverLink::NiolibDriverLink(image::MessageSink& sink) : niolib_(editor_options(), sink) {}
NiolibDriverLink::~NiolibDriverLink() = default;

int NiolibDriverLink::attach() {
  if (!niolib_.pointer_block()) niolib_.open_pointer_block();
  if (!niolib_.pointer_block()) return 0;
  return niolib_.nio_map_hdr() ? niolib_.channel_count() : 0;
}

bool NiolibDriverLink::driver_running() const {
  const image::PointerBlock* block = niolib_.pointer_block();
  return block && std::atomic_ref<std::uint16_t>(const_cast<std::uint16_t&>(block->state)).load() == image::kStateRunning;
}

int NiolibDriverLink::poll_record_count() {
  // Follows a reload: the count is asked once per status tick, before the records.
  if (!driver_running() || !niolib_.nio_map_hdr()) return 0;
  return niolib_.poll_record_count();
}

std::optional<ChannelCounters> NiolibDriverLink::counters(int index) {
  // A stopped driver would make every map call wait for a reload that is not coming.
  if (!driver_running()) return std::nullopt;
  if (!niolib_.nio_map_hdr() || index >= niolib_.channel_count()) return std::nullopt;
  const image::ChannelRecord* record = niolib_.nio_map_chan(index);
  if (!record) return std::nullopt;
  std::uint32_t alive = std::atomic_ref<std::uint32_t>(niolib_.pointer_block()->alive_counter).load();
  return ChannelCounters{record->stats.requests_sent, record->stats.replies_received, niolib_.mapped_generation(),
                         alive};
}

std::optional<std::uint16_t> NiolibDriverLink::status(int record) {
  if (!driver_running() || !niolib_.mapped() || record < 0 || record >= niolib_.poll_record_count()) {
    return std::nullopt;
  }
  const image::PollRecordHead* head = niolib_.nio_map_dit(record);
  if (!head) return std::nullopt;
  // Records sit at any byte offset in the image; the word is read as bytes.
  std::uint16_t word;
  std::memcpy(&word, &head->status, sizeof word);
  return word;
}

std::optional<DriverMessage> NiolibDriverLink::next_message() {
  if (!ring_) {
    if (!niolib_.pointer_block()) return std::nullopt;
    niolib_.enable_message_ring(false);
    // The window starts with what the ring still holds: oldest first, from just after the
    // next slot to be written (slots never written are empty and skipped).
    std::uint32_t next = std::atomic_ref<std::uint32_t>(niolib_.pointer_block()->ring_next).load();
    ring_ = std::make_unique<image::RingReader>(niolib_.pointer_block(), next + 1);
  }
  while (auto message = ring_->next()) {
    if (message->text.empty()) continue;
    return DriverMessage{message->colour, std::move(message->text)};
  }
  return std::nullopt;
}

void NiolibDriverLink::reload(const std::string& path) {
  if (!niolib_.pointer_block()) niolib_.open_pointer_block();
  niolib_.ReloadConfiguration(path.c_str(), image::kAcronym);
}

}  // namespace hbt::editor
