// The OPC server's settings under HKEY_LOCAL_MACHINE\<settings key>: poll thread, new items
// and new groups. Registration writes the defaults into subkeys that did not exist; the
// library's attach reads them, keeping a default for any value it cannot read.
#pragma once

#include <cstdint>
#include <string>

namespace hbt::opc {

struct Settings {
  std::uint32_t thread_sleep_time = 40;  // poll-thread wait, ms; also the smallest update rate
  std::uint32_t thread_priority = 7;     // 1..15 scale
  std::uint32_t auto_start = 1;          // activation clears the out-of-service quality bits
  std::uint16_t string_length = 120;     // default length of text items
  std::string signal_conditioning = "NONE";
  std::string lo_egu = "0.0";
  std::string hi_egu = "65535.0";
  std::string hardware_options;          // "NONE" (any case) is read as empty
  std::string generated_group_name = "Group";
};

// Reads every setting from the registry stand-in.
Settings load_settings();

// Creates the three subkeys; fills only those that are new with the defaults.
void write_default_settings();
// Deletes the three subkeys and the settings key.
void delete_settings();

// The process-wide settings the server objects use (loaded at library attach).
const Settings& settings();
void set_settings(const Settings& s);

}  // namespace hbt::opc
