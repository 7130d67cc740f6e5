#include "subscription_printer.h"

#include <cstdio>

#include "da1_stream.h"
#include "value_output.h"

namespace hbt::hbtopc {

namespace {

// Milliseconds with three decimals whatever the uptime (a "%g" number loses them after a day).
std::string milliseconds(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", ms);
  return text;
}

}  // namespace

std::string SubscriptionPrinter::item_name(OPCHANDLE client) const {
  // Client handles are positions in the command's item list; anything else is the server's
  // mistake and shown as such.
  return client < items_.size() ? items_[client] : "#" + std::to_string(client);
}

void SubscriptionPrinter::data_change(const DataChange& change) {
  const double received = monotonic_ms();
  std::lock_guard lock(mutex_);
  if (closed_) return;
  ++callbacks_;
  if (change.count == 0) {
    hbtio::JsonLine line;
    line.field("event", "keepalive").field("transaction", static_cast<std::int64_t>(change.transaction));
    line.raw("received_ms", milliseconds(received));
    print_line(options_, line, "(keep-alive: nothing changed)");
    return;
  }
  if (change.client_handles == nullptr || change.values == nullptr || change.qualities == nullptr ||
      change.timestamps == nullptr || change.errors == nullptr) {
    hbtio::JsonLine line;
    line.field("event", "malformed").field("count", static_cast<std::int64_t>(change.count));
    print_line(options_, line, "(a change report without its arrays)");
    return;
  }
  for (DWORD i = 0; i < change.count; ++i) {
    ItemValue v;
    v.item = item_name(change.client_handles[i]);
    v.value = &change.values[i];
    v.quality = change.qualities[i];
    v.timestamp = change.timestamps[i];
    v.result = change.errors[i];
    hbtio::JsonLine head;
    head.field("event", "data")
        .field("transaction", static_cast<std::int64_t>(change.transaction))
        .raw("received_ms", milliseconds(received));
    print_value(options_, session_, v, head);
  }
}

void SubscriptionPrinter::stream(const char* format, DWORD size, OPCHANDLE group, DWORD transaction, HRESULT status,
                                 const std::vector<StreamItem>& items, bool with_time) {
  const double received = monotonic_ms();
  std::lock_guard lock(mutex_);
  if (closed_) return;
  ++callbacks_;
  hbtio::JsonLine line;
  line.field("event", "stream")
      .field("format", format)
      .field("size", static_cast<std::int64_t>(size))
      .field("group", static_cast<std::int64_t>(group))
      .field("transaction", static_cast<std::int64_t>(transaction))
      .field("status", hresult_hex(status))
      .field("items", static_cast<std::int64_t>(items.size()))
      .raw("received_ms", milliseconds(received));
  print_line(options_, line,
             std::string(format) + ": " + std::to_string(items.size()) + " items, " + std::to_string(size) +
                 " bytes, transaction " + std::to_string(transaction));
  for (const auto& item : items) {
    ItemValue v;
    v.item = item_name(item.client);
    v.value = &item.value;
    v.quality = item.quality;
    v.has_timestamp = with_time;
    v.timestamp = item.timestamp;
    // A stream carries what a client can read of a value; what it only names (an interface,
    // an array of several dimensions) is shown by its type.
    if (item.sent_type != item.value.vt) {
      v.value = nullptr;
      v.note = vartype_name(item.sent_type) + " is not carried by the stream";
    }
    hbtio::JsonLine head;
    head.field("event", "data").field("transaction", static_cast<std::int64_t>(transaction));
    head.raw("received_ms", milliseconds(received));
    print_value(options_, session_, v, head, "  ");
  }
}

void SubscriptionPrinter::stream_error(const char* format, const std::string& why) {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  ++bad_streams_;
  hbtio::JsonLine line;
  line.field("event", "bad_stream").field("format", format).field("error", why);
  print_line(options_, line, std::string(format) + ": malformed block: " + why);
}

void SubscriptionPrinter::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
}

}  // namespace hbt::hbtopc
