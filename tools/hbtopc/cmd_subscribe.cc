// hbtopc subscribe ITEM... --rate MS [--deadband P] [--keepalive MS] [--da1] [--seconds N]:
// a group of its own at the given rate, every change the server reports printed as it comes,
// until Ctrl-C, SIGTERM or the given time.
#include <csignal>
#include <chrono>
#include <thread>

#include "arguments.h"
#include "commands.h"
#include "data_callback.h"
#include "subscribe.h"
#include "value_output.h"

namespace hbt::hbtopc {

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void request_stop(int) { stop_requested = 1; }

class CallbackSubscription final : public Subscription {
 public:
  CallbackSubscription(IUnknown* group, std::shared_ptr<SubscriptionPrinter> printer) {
    sink_ = new DataCallback;
    sink_->on_data_change = [printer](const DataChange& c) { printer->data_change(c); };
    result_ = connection_.connect(group, sink_);
  }
  ~CallbackSubscription() override {
    connection_.disconnect();
    sink_->Release();
  }
  HRESULT result() const { return result_; }

 private:
  DataCallback* sink_;
  CallbackConnection connection_;
  HRESULT result_;
};

}  // namespace

std::unique_ptr<Subscription> subscribe_callback(ItemGroup& group, std::shared_ptr<SubscriptionPrinter> printer,
                                                 std::string* error) {
  IUnknown* unknown = group.query<IUnknown>(IID_IUnknown, "IUnknown", error);
  if (unknown == nullptr) return nullptr;
  auto subscription = std::make_unique<CallbackSubscription>(unknown, std::move(printer));
  unknown->Release();
  if (FAILED(subscription->result())) {
    *error = "cannot connect IOPCDataCallback (" + hresult_hex(subscription->result()) + ")";
    return nullptr;
  }
  return subscription;
}

int cmd_subscribe(const Options& options, const std::vector<std::string>& args) {
  CommandArguments a;
  std::string error;
  if (!parse_arguments(args, {"--rate", "--deadband", "--keepalive", "--seconds"}, {"--da1"}, &a, &error))
    return command_usage_error("subscribe", error);
  if (a.positional.empty()) return command_usage_error("subscribe", "subscribe needs at least one item ID");
  if (!a.values.count("--rate")) return command_usage_error("subscribe", "subscribe needs --rate MS");
  unsigned long rate = 0, keepalive = 0, seconds = 0;
  double deadband = 0;
  if (!parse_count(a.values["--rate"], 0, 0xFFFFFFFFul, &rate))
    return command_usage_error("subscribe", "--rate takes milliseconds, not '" + a.values["--rate"] + "'");
  if (a.values.count("--deadband") && !parse_decimal(a.values["--deadband"], 0, 100, &deadband))
    return command_usage_error("subscribe", "--deadband takes a percentage from 0 to 100");
  if (a.values.count("--keepalive") && !parse_count(a.values["--keepalive"], 0, 0xFFFFFFFFul, &keepalive))
    return command_usage_error("subscribe", "--keepalive takes milliseconds");
  if (a.values.count("--seconds") && !parse_count(a.values["--seconds"], 1, 0x7FFFFFFFul / 1000, &seconds))
    return command_usage_error("subscribe", "--seconds takes a whole number of seconds, at least 1");

  Session session;
  if (!session.connect(options.server, &error)) return failure(error);
  session.wait_until_running(kRunningWaitMs);
  int exit_code = 0;
  {
    ItemGroup group(session);
    GroupSettings settings;
    settings.update_rate = static_cast<DWORD>(rate);
    settings.percent_deadband = static_cast<float>(deadband);
    if (!group.create(settings, a.positional, &error)) return failure(error);
    for (const auto& item : group.items()) {
      if (SUCCEEDED(item.added)) continue;
      exit_code = 1;
      hbtio::JsonLine line;
      line.field("event", "refused").field("item", item.id).field("result", hresult_hex(item.added));
      line.field("error", session.error_text(item.added));
      print_line(options, line, item.id + ": refused: " + session.error_text(item.added));
    }
    if (group.added_handles().empty()) return failure("no item to subscribe to");
    if (group.revised_rate() != rate) {
      hbtio::JsonLine line;
      line.field("event", "revised_rate").field("rate", static_cast<std::int64_t>(group.revised_rate()));
      print_line(options, line, "the server updates every " + std::to_string(group.revised_rate()) + " ms");
    }
    if (a.values.count("--keepalive")) {
      IOPCGroupStateMgt2* state = group.query<IOPCGroupStateMgt2>(IID_IOPCGroupStateMgt2, "IOPCGroupStateMgt2", &error);
      if (state == nullptr) return failure(error);
      DWORD revised = 0;
      HRESULT hr = state->SetKeepAlive(static_cast<DWORD>(keepalive), &revised);
      state->Release();
      if (FAILED(hr)) return failure("SetKeepAlive failed: " + session.error_text(hr));
      if (revised != keepalive) {
        hbtio::JsonLine line;
        line.field("event", "revised_keepalive").field("keepalive", static_cast<std::int64_t>(revised));
        print_line(options, line, "the server keeps the subscription alive every " + std::to_string(revised) + " ms");
      }
    }

    auto printer = std::make_shared<SubscriptionPrinter>(options, session, a.positional);
    std::unique_ptr<Subscription> subscription =
        a.has("--da1") ? subscribe_da1(group, printer, &error) : subscribe_callback(group, printer, &error);
    if (!subscription) return failure(error);

    struct sigaction action {};
    action.sa_handler = request_stop;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!stop_requested && (seconds == 0 || std::chrono::steady_clock::now() < deadline))
      std::this_thread::sleep_for(std::chrono::milliseconds(20));

    subscription.reset();
    printer->close();
    if (printer->bad_streams() > 0) exit_code = 1;
  }
  return exit_code;
}

}  // namespace hbt::hbtopc
