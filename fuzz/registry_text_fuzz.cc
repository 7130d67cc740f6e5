// The registry's REGEDIT4 text parser over any text: never a crash, and a hive built from
// what it accepts writes out as text that parses and writes out the same again.
#include <string>

#include "fuzz/fuzz_target.h"
#include "platform/registry_text.h"

namespace hbt::platform::registry {
namespace {

using fuzz::fail;

constexpr const char* kName = "registry_text";

HiveData build(Hive hive, const std::vector<TextEntry>& entries) {
  HiveData data;
  std::vector<TextEntry> mine;
  for (const auto& e : entries)
    if (e.hive == hive) mine.push_back(e);
  apply(data, hive, mine);
  return data;
}

void run(std::span<const std::uint8_t> data) {
  const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  std::vector<TextEntry> entries;
  std::string error;
  if (!parse_text(text, &entries, &error)) {
    if (error.empty()) fail(kName, "refused without a message");
    return;
  }
  for (Hive hive : {Hive::LocalMachine, Hive::CurrentUser, Hive::ClassesRoot}) {
    const std::string first = format_hive(hive, build(hive, entries));
    std::vector<TextEntry> reparsed;
    if (!parse_text(first, &reparsed, &error)) fail(kName, "written text does not parse: " + error + "\n" + first);
    const std::string second = format_hive(hive, build(hive, reparsed));
    if (first != second)
      fail(kName, "writing out, parsing and writing again changes the text:\n" + first + "\n--\n" + second);
  }
}

// Texts of the registry tests and of a driver's settings.
std::vector<fuzz::Bytes> seeds() {
  return {
      fuzz::text_bytes("REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\Software\\Gone]\n\n"
                       "[HKLM\\Software\\Keep]\n\"drop\"=-\n\"bin\"=hex:01,02,\\\n  03\n"),
      fuzz::text_bytes("REGEDIT4\n[HKLM\\A]\n\"x\"=\"1\"\n\"y\"=dword:0000002a\n"),
      fuzz::text_bytes("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\HBT]\n@=\"default\"\n"
                       "\"ConfigFile\"=\"C:\\\\HBT\\\\PLANT.HBT\"\n\"Quoted\"=\"say \\\"hi\\\"\"\n\n"
                       "[HKEY_CURRENT_USER\\Software\\HBT\\Editor]\n\"Window\"=hex:00,ff,10\n\"Count\"=dword:ffffffff\n"),
      fuzz::text_bytes("REGEDIT4\n[HKEY_CLASSES_ROOT\\HBT.Server]\n@=\"HBT OPC Server\"\n[HKCU\\A\\B\\C]\n\"v\"=-\n"),
  };
}

}  // namespace
}  // namespace hbt::platform::registry

HBT_FUZZ_TARGET(registry_text, hbt::platform::registry::run, hbt::platform::registry::seeds)
