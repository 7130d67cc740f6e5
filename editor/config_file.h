// The configuration file: turning the document into the file's bytes and back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "editor/byte_io.h"
#include "editor/document.h"
#include "editor/messages.h"

namespace hbt::editor {

// Lays the document out as the configuration file. Devices without poll records are not
// written and are removed from the document; poll records get their record numbers in
// file order. A document the file cannot hold (more than 32 channels, 255 devices with
// poll records or 10000 poll records) is refused with the message, and left unchanged.
Message pack_configuration(CDidDoc& doc, std::uint32_t save_time, std::vector<std::uint8_t>* bytes);

struct ReadReport {
  bool corrupt = false;
  std::string reason;                        // why the file was judged corrupt
  std::optional<std::uint16_t> older_format;  // header device-record size when it is not 102
  std::uint32_t version = 0;
};

// Fills an empty document from the file's bytes. Every offset, count and code is checked
// before it is used; a corrupt file leaves the document empty. Never throws.
ReadReport read_configuration(CDidDoc& doc, ByteSource& source);

}  // namespace hbt::editor
