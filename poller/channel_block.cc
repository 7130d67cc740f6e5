#include "poller/channel_block.h"

#include <sys/socket.h>
#include <unistd.h>

namespace hbt::poller {

void close_channel_socket(ChannelBlock& block) {
  if (block.socket >= 0) {
    shutdown(block.socket, SHUT_RDWR);
    close(block.socket);
  }
  block.socket = -1;
}

}  // namespace hbt::poller
