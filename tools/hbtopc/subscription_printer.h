// Prints what a subscription receives, from whatever thread the server calls on: one line per
// item with the event, the transaction and the time of receipt on CLOCK_MONOTONIC (so that
// scripts can line it up with mcsim's history), and a line per keep-alive. Shared with the
// sinks, which the server may hold a little after the command stops; once closed it prints
// nothing more and no longer touches the session.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "commands.h"
#include "data_callback.h"
#include "session.h"

namespace hbt::hbtopc {

struct StreamItem;

class SubscriptionPrinter {
 public:
  SubscriptionPrinter(const Options& options, Session& session, std::vector<std::string> items)
      : options_(options), session_(session), items_(std::move(items)) {}

  void data_change(const DataChange& change);
  // A decoded DA 1.0 stream: its header line, then one line per item.
  void stream(const char* format, DWORD size, OPCHANDLE group, DWORD transaction, HRESULT status,
              const std::vector<StreamItem>& items, bool with_time);
  void stream_error(const char* format, const std::string& why);

  // Waits for a callback in progress, then stops printing.
  void close();

  long callbacks() const { return callbacks_; }
  long bad_streams() const { return bad_streams_; }

 private:
  std::string item_name(OPCHANDLE client) const;

  Options options_;
  Session& session_;
  std::vector<std::string> items_;
  std::mutex mutex_;
  bool closed_ = false;
  std::atomic<long> callbacks_{0};
  std::atomic<long> bad_streams_{0};
};

}  // namespace hbt::hbtopc
