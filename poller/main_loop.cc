#include "poller/main_loop.h"

#include <atomic>
#include <csignal>

#include "image/lock_byte.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "poller/command_line.h"
#include "poller/console_keys.h"
#include "poller/poll_tick.h"
#include "poller/polling.h"
#include "poller/tick_stats.h"

namespace hbt::poller {

using namespace hbt::image;

namespace {

constexpr int kTickMs = 10;
constexpr int kIdleSleepMs = 50;
constexpr int kSingleInstanceWaitMs = 500;
constexpr int kExitLingerMs = 1000;

volatile std::sig_atomic_t exit_requested = 0;

std::atomic_ref<std::uint16_t> word(std::uint16_t& field) { return std::atomic_ref<std::uint16_t>(field); }

// Sleeps to the next 10 ms boundary of a steady grid, so that the tick stays regular
// however long the work of a tick took (the elapsed count covers any slip).
class TickPacer {
 public:
  TickPacer() : next_(platform::monotonic_ns()) {}
  void wait() {
    next_ += kTickMs * 1000000LL;
    const std::int64_t deadline = next_;
    std::int64_t now = platform::monotonic_ns();
    if (now > next_ + kTickMs * 1000000LL) next_ = now;  // fell behind: start a new grid
    if (next_ > now) sleep_until(next_);
    if (measure_) record_tick_lateness(platform::monotonic_ns() - deadline);
  }

 private:
  static void sleep_until(std::int64_t deadline_ns) {
    timespec ts{static_cast<time_t>(deadline_ns / 1000000000), static_cast<long>(deadline_ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
      if (exit_requested) return;
    }
  }
  std::int64_t next_;
  bool measure_ = tick_stats_enabled();
};

bool check_exit_request(PointerBlock* block) {
  if (exit_requested) {
    word(block->command).store(kCommandExit);
    return true;
  }
  return false;
}

// One polling run: polls until the command word asks for stop or exit.
void polling_run(Poller& poller, platform::Console* console) {
  PointerBlock* block = poller.niolib.pointer_block();
  report(poller.messages, kColourNotice, " %s Starting", kAcronym);
  ImageHeader* header = poller.niolib.nio_map_hdr();
  if (header == nullptr)
    word(block->command).store(kCommandStop);
  else
    start_polling(poller);

  std::uint32_t previous = platform::tick_count_ms();
  TickPacer pacer;
  for (;;) {
    check_exit_request(block);
    std::uint16_t command = word(block->command).load();
    if (command == kCommandStop || command == kCommandExit) break;
    word(block->state).store(kStateRunning);
    pacer.wait();
    if (header) ++header->watchdog;
    shared_counter(block->alive_counter).fetch_add(1);
    std::uint32_t now = platform::tick_count_ms();
    const std::uint16_t elapsed = static_cast<std::uint16_t>((now - previous + 4) / kTickMs);
    previous = now;
    std::int32_t usage = std::atomic_ref<std::int32_t>(block->client_usage_countdown).fetch_sub(elapsed) - elapsed;
    if (usage < 0 && shared_counter(block->client_count).load() == 0) {
      report(poller.messages, kColourSevere, "Exiting No Client usage");
      word(block->command).store(kCommandExit);
    }
    if (header && (header->flags & kPollingFlag)) run_poll_tick(poller, elapsed);
    handle_pending_keys(poller, console);
  }
  word(block->state).store(kStateStopped);
  report(poller.messages, kColourNotice, " %s Stopping..", kAcronym);
  if (header) {
    stop_polling(poller);
    if (word(block->command).load() != kCommandExit) nio_poll_reload(poller);
  }
}

void on_signal(int) { exit_requested = 1; }

}  // namespace

void request_exit() { exit_requested = 1; }

int run_poller(Poller& poller, platform::Console* console, const std::vector<std::string>& arguments) {
  report(poller.messages, kColourNormal, "%s (%s) V%s Started", kProductName, kAcronym, kVersion);
  PointerBlock* block = poller.niolib.open_pointer_block();
  if (block == nullptr) {
    report(poller.messages, kColourError, "MapToDIT() failed to open driver pointer");
    return 1;
  }
  poller.messages.set_pointer_block(block);

  CommandLineEffects effects = examine_command_line(arguments);
  if (effects.any_argument) shared_counter(block->alive_counter).store(0);
  if (effects.file_log) block->file_log = 1;
  if (effects.paused) poller.messages.set_paused(true);

  // Another poller increments the alive counter every tick; give it time to show itself.
  if (shared_counter(block->alive_counter).load() > 0) {
    shared_counter(block->alive_counter).store(0);
    platform::sleep_ms(kSingleInstanceWaitMs);
    if (shared_counter(block->alive_counter).load() > 0) return 0;
  }
  shared_counter(block->alive_counter).fetch_add(1);
  std::atomic_ref<std::int32_t>(block->client_usage_countdown).store(kClientUsageTicks);
  word(block->command).store(kCommandRun);

  struct sigaction action {};
  action.sa_handler = on_signal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);

  poller.niolib.nio_map_hdr();
  platform::raise_priority();

  while (!check_exit_request(block) && word(block->command).load() != kCommandExit) {
    if (word(block->state).load() != kStateStopped) word(block->command).store(kCommandRun);
    platform::sleep_ms(kIdleSleepMs);
    handle_pending_keys(poller, console);
    while (!check_exit_request(block) && word(block->command).load() == kCommandRun) polling_run(poller, console);
  }
  word(block->state).store(kStateExited);
  shared_counter(block->alive_counter).store(0);
  write_tick_stats();
  platform::sleep_ms(kExitLingerMs);
  return 0;
}

}  // namespace hbt::poller
