#include "platform/error_text.h"

#include <cerrno>
#include <cstring>

namespace hbt::platform {

int last_error() { return errno; }

std::string system_error_text(int error) {
  char buffer[256];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  return text != nullptr ? std::string(text) : std::string("Unknown error");
}

}  // namespace hbt::platform
