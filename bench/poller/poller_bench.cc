// Cost of turning replies into current values: conversion per data kind, with and without
// exception detection, and the whole check-and-convert path of one reply.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "poller/byte_order.h"
#include "poller/channel_block.h"
#include "poller/convert.h"
#include "poller/frames.h"
#include "poller/reply_check.h"
#include "poller/reply_framing.h"
#include "poller/schedule.h"

namespace hbt::poller {
namespace {

using image::DataType;
using image::ExceptionType;
using image::RegisterType;

struct Case {
  ConversionSpec plan;
  std::vector<std::uint8_t> data, area1, area5;
};

// `registers` registers of changing values; every 4th point registered when exceptions are on.
Case make_case(RegisterType type, DataType data_type, ExceptionType exception, bool ascii, int registers) {
  Case c;
  c.plan.register_type = type;
  c.plan.data_type = static_cast<std::uint16_t>(data_type);
  c.plan.exception_type = static_cast<std::uint8_t>(exception);
  c.plan.ascii = ascii;
  c.plan.dead_band_int = 2;
  c.plan.dead_band = 0.5f;
  c.area1.assign(2 * registers, 0);
  const int entries = exception == ExceptionType::Digital ? 16 * registers : registers;
  c.area5.assign(exception == ExceptionType::Disabled ? 0 : 4 * entries, 0);
  for (std::size_t e = 1; e < c.area5.size(); e += 16) c.area5[e] = 1;
  for (int i = 0; i < registers; ++i) {
    const std::uint16_t v = static_cast<std::uint16_t>(i * 7919);
    if (ascii) {
      char text[5];
      std::snprintf(text, sizeof text, "%04X", v);
      c.data.insert(c.data.end(), text, text + 4);
    } else {
      c.data.push_back(static_cast<std::uint8_t>(v));
      c.data.push_back(static_cast<std::uint8_t>(v >> 8));
    }
  }
  return c;
}

void run(benchmark::State& state, Case c) {
  for (auto _ : state) {
    // Alternate between two reply contents so that every value changes every time.
    c.data[0] ^= 1;
    for (std::size_t e = 0; e < c.area5.size(); e += 4) c.area5[e] = 0;
    ExceptionTable table(c.area5);
    ConversionResult r = convert_reply(c.plan, c.data, c.area1, table);
    benchmark::DoNotOptimize(r);
    benchmark::DoNotOptimize(c.area1.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.data.size()));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * (c.area1.size() / 2)));
}

void BM_WordsBinary(benchmark::State& s) {
  run(s, make_case(RegisterType::D, DataType::Unsigned, ExceptionType::Disabled, false, static_cast<int>(s.range(0))));
}
void BM_WordsAscii(benchmark::State& s) {
  run(s, make_case(RegisterType::D, DataType::Unsigned, ExceptionType::Disabled, true, static_cast<int>(s.range(0))));
}
void BM_WordsAnalogDeadBand(benchmark::State& s) {
  run(s, make_case(RegisterType::D, DataType::Signed, ExceptionType::Analog, false, static_cast<int>(s.range(0))));
}
void BM_BitsDigitalExceptions(benchmark::State& s) {
  run(s, make_case(RegisterType::X, DataType::Digital, ExceptionType::Digital, false, static_cast<int>(s.range(0))));
}
void BM_FloatsDeadBand(benchmark::State& s) {
  run(s, make_case(RegisterType::D, DataType::Float, ExceptionType::Analog, false, static_cast<int>(s.range(0))));
}
void BM_LongsAscii(benchmark::State& s) {
  run(s, make_case(RegisterType::D, DataType::LongSigned, ExceptionType::Analog, true, static_cast<int>(s.range(0))));
}

BENCHMARK(BM_WordsBinary)->Arg(8)->Arg(64)->Arg(512);
BENCHMARK(BM_WordsAscii)->Arg(8)->Arg(64)->Arg(256);
BENCHMARK(BM_WordsAnalogDeadBand)->Arg(64);
BENCHMARK(BM_BitsDigitalExceptions)->Arg(16)->Arg(256);
BENCHMARK(BM_FloatsDeadBand)->Arg(64);
BENCHMARK(BM_LongsAscii)->Arg(64);

// One 3E reply of 64 registers from the stream to area 1: framing, checks, conversion.
void BM_TcpReplyToArea1(benchmark::State& state) {
  ChannelBlock block;
  block.cpu_type = static_cast<std::uint16_t>(image::CpuType::QSeries);
  block.pc_number = 255;
  block.area1_size = 128;
  block.address_word = image::make_address_word(RegisterType::D, 0);
  block.prepared = 1;
  build_read_request(block);
  std::vector<std::uint8_t> reply = {0xD0, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 130, 0x00, 0x00, 0x00};
  for (int i = 0; i < 128; ++i) reply.push_back(static_cast<std::uint8_t>(i));
  image::ChannelRecord channel{};
  image::NullSink sink;
  ReplyCheckEnv env{channel, nullptr, sink};
  Case c = make_case(RegisterType::D, DataType::Unsigned, ExceptionType::Analog, false, 64);
  for (auto _ : state) {
    append_to_stream(block, reply);
    if (!take_reply(block)) state.SkipWithError("no reply");
    ReplyVerdict v = check_reply(block, {block.reply, block.reply_length}, env);
    ExceptionTable table(c.area5);
    benchmark::DoNotOptimize(convert_reply(c.plan, v.data, c.area1, table));
    reply[11] ^= 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TcpReplyToArea1);

void BM_BuildReadRequest1EAscii(benchmark::State& state) {
  ChannelBlock block;
  block.cpu_type = static_cast<std::uint16_t>(image::CpuType::AnU);
  block.coding = static_cast<std::uint16_t>(image::Coding::Ascii);
  block.area1_size = 128;
  block.address_word = image::make_address_word(RegisterType::D, 100);
  for (auto _ : state) {
    build_read_request(block);
    benchmark::DoNotOptimize(block.request);
  }
}
BENCHMARK(BM_BuildReadRequest1EAscii);

// The per-tick count-down of an idle channel: records polled, none due.
void BM_CountDownIdle(benchmark::State& state) {
  std::vector<image::PollControlEntry> entries(static_cast<std::size_t>(state.range(0)));
  for (auto& e : entries) {
    e.polled = 1;
    e.poll_countdown = 360000;
    e.access_countdown = image::kAccessNeverExpires;
  }
  for (auto _ : state) {
    CountDown cd = count_down_entries(entries.data(), static_cast<int>(entries.size()), 1);
    benchmark::DoNotOptimize(cd);
    if (entries[0].poll_countdown < 1000)
      for (auto& e : entries) e.poll_countdown = 360000;
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CountDownIdle)->Arg(313)->Arg(10000);

}  // namespace
}  // namespace hbt::poller

BENCHMARK_MAIN();
