// The editor's DriverLink over its own copy of NIOLIB (client variant).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "editor/driver_link.h"
#include "image/message_ring.h"
#include "image/message_sink.h"
#include "image/niolib.h"

namespace hbt::editor {

// NIOLIB's own messages: formatted, cut at the first CR or LF, and dropped, except those
// of code 70, which go to `alarm` (one at a time: a message arriving while the previous one
// is still shown is dropped).
class EditorNiolibSink final : public image::MessageSink {
 public:
  explicit EditorNiolibSink(std::function<void(const std::string&)> alarm) : alarm_(std::move(alarm)) {}
  void message(std::uint16_t colour, std::string_view text) override;

 private:
  std::function<void(const std::string&)> alarm_;
  bool showing_ = false;
};

inline constexpr std::string_view kNiolibAlarmCaption = "xxxDIDW.EXE";

class NiolibDriverLink final : public DriverLink {
 public:
  explicit NiolibDriverLink(image::MessageSink& sink);
  ~NiolibDriverLink() override;

  int attach() override;
  int poll_record_count() override;
  std::optional<ChannelCounters> counters(int index) override;
  std::optional<std::uint16_t> status(int record) override;
  std::optional<DriverMessage> next_message() override;
  void reload(const std::string& path) override;

 private:
  bool driver_running() const;

  image::Niolib niolib_;
  std::unique_ptr<image::RingReader> ring_;
};

}  // namespace hbt::editor
