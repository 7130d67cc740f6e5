// A poller over a real image (loaded from a configuration built in memory) with scripted
// sockets and a manual tick, for the scheduling and write tests.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "poller/byte_order.h"
#include "poller/fake_sockets.h"
#include "poller/frames.h"
#include "poller/poll_context.h"
#include "poller/poll_tick.h"
#include "poller/poller.h"
#include "poller/polling.h"
#include "testsupport/driver_setup.h"
#include "testsupport/recording_sink.h"

namespace hbt::poller::testing {

struct PollerFixture : ::testing::Test {
  testsupport::TestEnvironment env;
  MessageRoutine routine{nullptr};
  std::unique_ptr<Poller> poller;
  testsupport::RecordingSink sink;
  FakeSockets sockets;
  std::unique_ptr<PollContext> ctx;
  bool auto_reply = true;  // answer every request the tick sends, before the next tick
  // With auto_reply: the answer to a request instead of a good reply; empty, no answer.
  std::function<std::vector<std::uint8_t>(const ChannelBlock&)> reply_for;

  void load(const testsupport::ConfigSpec& plan) {
    testsupport::install_configuration(env, plan);
    poller = std::make_unique<Poller>(routine);
    ASSERT_NE(poller->niolib.nio_map_hdr(), nullptr);
    start_polling(*poller);
    ctx = std::make_unique<PollContext>(PollContext{poller->niolib, sink, sockets});
  }

  image::Niolib& nio() { return poller->niolib; }
  image::PollRecordHead& record(int k) { return *nio().nio_map_dit(k); }
  image::PollControlEntry& entry(int k) { return *nio().nio_map_ptr(k); }
  image::ChannelRecord& channel(int i) { return *nio().nio_map_chan(i); }
  ChannelBlock& block(int i) { return *poller->blocks[i]; }
  std::uint8_t* area(int k, int kind) {
    auto* base = reinterpret_cast<std::uint8_t*>(&record(k));
    return base + record(k).areas[kind - 1].offset;
  }
  std::uint16_t word(int k, int kind, int w) { return load16(area(k, kind) + 2 * w); }
  void set_word(int k, int kind, int w, std::uint16_t v) { store16(area(k, kind) + 2 * w, v); }
  // What a client does to queue a write: values, flags, count.
  void queue_write(int k, int w, std::uint16_t value, std::uint16_t flag, int bits) {
    set_word(k, image::kAreaWriteValues, w, value);
    set_word(k, image::kAreaWriteFlags, w, static_cast<std::uint16_t>(word(k, image::kAreaWriteFlags, w) | flag));
    entry(k).write_request_count = static_cast<std::uint16_t>(entry(k).write_request_count + bits);
  }

  // A good reply to the request the block holds, with register values counting up from
  // `first` (bit units: alternating points).
  static std::vector<std::uint8_t> good_reply(const ChannelBlock& b, std::uint16_t first = 0) {
    std::vector<std::uint8_t> r;
    const bool ascii = !is_q_series(b) && is_ascii(b);
    auto put_word = [&](std::uint16_t v) {
      if (ascii) {
        char text[5];
        std::snprintf(text, sizeof text, "%04X", v);
        r.insert(r.end(), text, text + 4);
      } else {
        r.push_back(static_cast<std::uint8_t>(v));
        r.push_back(static_cast<std::uint8_t>(v >> 8));
      }
    };
    const std::size_t words = b.is_write ? 0 : b.area1_size / 2u;
    if (is_q_series(b)) {
      r = {0xD0, 0x00, static_cast<std::uint8_t>(b.network_number), static_cast<std::uint8_t>(b.pc_number)};
      const std::uint16_t io = module_io_number(b.module_number);
      r.push_back(static_cast<std::uint8_t>(io));
      r.push_back(static_cast<std::uint8_t>(io >> 8));
      r.push_back(0);
      const std::uint16_t length = static_cast<std::uint16_t>(2 + 2 * words);
      r.push_back(static_cast<std::uint8_t>(length));
      r.push_back(static_cast<std::uint8_t>(length >> 8));
      r.push_back(0);
      r.push_back(0);
      for (std::size_t i = 0; i < words; ++i) put_word(static_cast<std::uint16_t>(first + i));
      return r;
    }
    const std::uint8_t command = ascii ? 0 : b.request[0];
    if (ascii) {
      r = {static_cast<std::uint8_t>(b.request[0] + 8), b.request[1], '0', '0'};
    } else {
      r = {static_cast<std::uint8_t>(command | 0x80), 0x00};
    }
    if (b.is_write) return r;
    if (read_is_in_bit_units(b)) {
      for (std::size_t i = 0; i < (b.length + 1u) / 2; ++i) {
        if (ascii) {
          r.push_back('1');
          r.push_back('0');
        } else {
          r.push_back(0x10);
        }
      }
      return r;
    }
    const std::size_t data_words = image::is_word_device(block_register_type(b)) ? words : (b.area1_size - 1u) / 2;
    for (std::size_t i = 0; i < data_words; ++i) put_word(static_cast<std::uint16_t>(first + i));
    return r;
  }

  // One tick; with auto_reply the requests sent during it are answered for the next tick.
  void tick(int elapsed = 1) {
    const std::size_t before = sockets.sent.size();
    run_poll_tick(*poller, *ctx, elapsed);
    if (!auto_reply) return;
    for (std::size_t i = before; i < sockets.sent.size(); ++i) {
      for (int c = 0; c < image::kMaxChannels; ++c) {
        if (poller->blocks[c] && poller->blocks[c]->socket == sockets.sent[i].fd) {
          std::vector<std::uint8_t> reply = reply_for ? reply_for(*poller->blocks[c]) : good_reply(*poller->blocks[c]);
          if (!reply.empty()) sockets.deliver_to(sockets.sent[i].fd, std::move(reply));
        }
      }
    }
  }
  void ticks(int n, int elapsed = 1) {
    for (int i = 0; i < n; ++i) tick(elapsed);
  }
};

}  // namespace hbt::poller::testing
