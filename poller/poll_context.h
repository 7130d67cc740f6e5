// What the polling work of a tick reaches: the image, the message routine and the sockets.
#pragma once

#include <algorithm>

#include "image/message_sink.h"
#include "image/niolib.h"
#include "poller/socket_api.h"
#include "poller/transport.h"

namespace hbt::poller {

struct PollContext {
  image::Niolib& niolib;
  image::MessageSink& sink;
  SocketApi& sockets;

  TransportEnv transport(image::ChannelRecord& channel) { return TransportEnv{sockets, sink, channel, &niolib}; }
};

// The poll records of a channel as a range of record indexes, bounded by the image.
struct RecordRange {
  int first = 0;
  int count = 0;
  bool contains(int k) const { return k >= first && k < first + count; }
  int next(int k) const { return k + 1 < first + count ? k + 1 : first; }
};

inline RecordRange channel_records(image::Niolib& niolib, const image::ChannelRecord& channel) {
  RecordRange r;
  r.first = channel.first_poll_record;
  const int total = niolib.poll_record_count();
  r.count = r.first < total ? std::min<int>(channel.poll_record_count, total - r.first) : 0;
  return r;
}

}  // namespace hbt::poller
