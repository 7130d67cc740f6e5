// One line per item value, shared by read, write, subscribe and the DA 1.0 stream decoder:
// the value, its quality as a number and a name, its timestamp and the result with the
// server's own text for it. Safe to call from callback threads (one line at a time).
#pragma once

#include <string>

#include "commands.h"
#include "session.h"
#include "tools/hbtio/json.h"

namespace hbt::hbtopc {

struct ItemValue {
  std::string item;
  const VARIANT* value = nullptr;  // null: no value (a failed item)
  WORD quality = 0;
  bool has_timestamp = true;
  FILETIME timestamp{};
  HRESULT result = S_OK;
  std::string note;  // said after the value, when there is something to say about it
};

// `head` carries the fields that come first (for example the event of a subscription);
// `human_prefix` is put before the text line.
void print_value(const Options& options, Session& session, const ItemValue& v, hbtio::JsonLine head = {},
                 const std::string& human_prefix = "");

// A line for something other than a value (a keep-alive, a completion): JSON as given, or the
// text for people.
void print_line(const Options& options, const hbtio::JsonLine& json, const std::string& text);

// CLOCK_MONOTONIC in milliseconds, the clock mcsim's history uses.
double monotonic_ms();

}  // namespace hbt::hbtopc
