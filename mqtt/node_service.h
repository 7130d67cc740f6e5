// The running edge node: the broker sessions one after another (connect, births, commands,
// reconnect with backoff and a new bdSeq each time), the change feed between them, and a
// clean NDEATH when asked to stop.
#pragma once

#include <atomic>
#include <string>

#include "mqtt/edge_node.h"
#include "mqtt/point_source.h"
#include "mqtt/settings.h"

namespace hbt::mqtt {

class NodeService {
 public:
  NodeService(Settings settings, PointSource& source, LogSink log);

  // Runs until `stop` is set: 0 after a clean stop, 1 when the broker refused the node before
  // it was ever connected or the node cannot start (store folder, TLS files); `error` says why.
  int run(const std::atomic<bool>& stop, std::string& error);

 private:
  uint64_t next_bd_seq() const;
  void bd_seq_used(uint64_t bd_seq) const;
  void log(const std::string& line) const { if (log_) log_(line); }

  Settings settings_;
  PointSource& source_;
  LogSink log_;
};

}  // namespace hbt::mqtt
