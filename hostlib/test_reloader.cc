// A stand-in for the poller's reload, run as its own process by the concurrency test: loads
// the configuration into the next image generation, says so, and holds the new image until
// it is killed (an image lives only while some process holds it).
#include <unistd.h>

#include <cstdio>

#include "image/niolib.h"

int main() {
  hbt::image::NullSink sink;
  hbt::image::Niolib driver(hbt::image::NiolibOptions{hbt::image::NiolibVariant::kDriver}, sink);
  if (driver.open_pointer_block() == nullptr || !driver.nio_poll_reload()) {
    std::printf("failed\n");
    return 1;
  }
  std::printf("reloaded\n");
  std::fflush(stdout);
  for (;;) pause();
}
