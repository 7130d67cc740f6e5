#include "opc/settings.h"

#include <string_view>

#include "opc/identity.h"
#include "platform/registry.h"

namespace hbt::opc {
namespace {

namespace reg = platform::registry;

constexpr std::string_view kServerDefaults = "ServerDefaults";
constexpr std::string_view kItemDefaults = "ItemDefaults";
constexpr std::string_view kGroupDefaults = "GroupDefaults";

// Values are read into a 100-byte buffer: a longer text does not fit and counts as unreadable.
constexpr std::size_t kValueBuffer = 100;

std::string subkey(std::string_view name) { return identity().settings_key + "\\" + std::string(name); }

void read_dword(std::string_view key, std::string_view name, std::uint32_t* out) {
  if (auto v = reg::get_dword(reg::Hive::LocalMachine, subkey(key), name)) *out = *v;
}

void read_text(std::string_view key, std::string_view name, std::string* out) {
  auto v = reg::get_string(reg::Hive::LocalMachine, subkey(key), name);
  if (v && v->size() < kValueBuffer) *out = *v;
}

bool equals_none(const std::string& s) {
  if (s.size() != 4) return false;
  for (std::size_t i = 0; i < 4; ++i)
    if ((s[i] & ~0x20) != "NONE"[i]) return false;
  return true;
}

// Creates the subkey; true when it did not exist before (REG_CREATED_NEW_KEY).
bool create_new(std::string_view key) {
  bool existed = reg::key_exists(reg::Hive::LocalMachine, subkey(key));
  reg::create_key(reg::Hive::LocalMachine, subkey(key));
  return !existed;
}

// Set by the library attach before any server object exists; read-only afterwards. A
// function-local object, because the attach runs while the library's statics are still
// being constructed.
Settings& current() {
  static Settings s;
  return s;
}

}  // namespace

Settings load_settings() {
  Settings s;
  read_dword(kServerDefaults, "ThreadSleepTime", &s.thread_sleep_time);
  read_dword(kServerDefaults, "ThreadPriority", &s.thread_priority);
  read_dword(kItemDefaults, "AutoStart", &s.auto_start);
  std::uint32_t length = s.string_length;
  read_dword(kItemDefaults, "StringLength", &length);
  s.string_length = static_cast<std::uint16_t>(length);  // held as a 16-bit value
  read_text(kItemDefaults, "SignalConditioning", &s.signal_conditioning);
  read_text(kItemDefaults, "LoEGU", &s.lo_egu);
  read_text(kItemDefaults, "HiEGU", &s.hi_egu);
  std::string options = "NONE";
  read_text(kItemDefaults, "HardwareOptions", &options);
  s.hardware_options = equals_none(options) ? std::string() : options;
  read_text(kGroupDefaults, "GeneratedGroupName", &s.generated_group_name);
  return s;
}

void write_default_settings() {
  const auto lm = reg::Hive::LocalMachine;
  const Settings d;
  if (create_new(kServerDefaults)) {
    reg::set_dword(lm, subkey(kServerDefaults), "ThreadSleepTime", d.thread_sleep_time);
    reg::set_dword(lm, subkey(kServerDefaults), "ThreadPriority", d.thread_priority);
  }
  if (create_new(kItemDefaults)) {
    reg::set_dword(lm, subkey(kItemDefaults), "AutoStart", d.auto_start);
    reg::set_dword(lm, subkey(kItemDefaults), "StringLength", d.string_length);
    reg::set_string(lm, subkey(kItemDefaults), "SignalConditioning", d.signal_conditioning);
    reg::set_string(lm, subkey(kItemDefaults), "LoEGU", d.lo_egu);
    reg::set_string(lm, subkey(kItemDefaults), "HiEGU", d.hi_egu);
    reg::set_string(lm, subkey(kItemDefaults), "HardwareOptions", "NONE");
  }
  if (create_new(kGroupDefaults)) {
    reg::set_string(lm, subkey(kGroupDefaults), "GeneratedGroupName", d.generated_group_name);
  }
}

void delete_settings() {
  const auto lm = reg::Hive::LocalMachine;
  reg::delete_key(lm, subkey(kServerDefaults));
  reg::delete_key(lm, subkey(kGroupDefaults));
  reg::delete_key(lm, subkey(kItemDefaults));
  reg::delete_key(lm, identity().settings_key);
}

const Settings& settings() { return current(); }

void set_settings(const Settings& s) { current() = s; }

}  // namespace hbt::opc
