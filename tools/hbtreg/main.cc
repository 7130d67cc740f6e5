// hbtreg: reads and writes the driver's registry (the REGEDIT4 hive files).
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace reg = hbt::platform::registry;

namespace {

constexpr char kUsage[] =
    "usage: hbtreg COMMAND ...\n"
    "  get KEY NAME                 print a value (\"\" names the default value)\n"
    "  set KEY NAME VALUE [--dword] store a text value, or a number with --dword\n"
    "                               (decimal, or hexadecimal with 0x)\n"
    "  delete KEY [NAME]            delete a value, or the key with all its subkeys\n"
    "  list KEY                     print the subkeys and values of a key\n"
    "  export                       print the whole registry as REGEDIT4 text\n"
    "  import FILE                  merge REGEDIT4 text from FILE (- for standard input)\n"
    "KEY starts with its hive: HKLM\\Software\\..., HKCU\\..., HKCR\\... (or the long names).\n"
    "The hives live in $HBT_REGISTRY_DIR (default ~/.config/hbt/registry).\n"
    "Exit status: 0 done, 1 not found or not written, 2 bad usage.\n";

int usage_error(const char* why) {
  std::fprintf(stderr, "hbtreg: %s\n%s", why, kUsage);
  return 2;
}

bool parse_key(const std::string& text, reg::Hive* hive, std::string* key) {
  if (reg::split_root(text, hive, key)) return true;
  std::fprintf(stderr, "hbtreg: %s: a key starts with HKLM, HKCU or HKCR\n", text.c_str());
  return false;
}

void print_value(const reg::Value& v, bool with_name) {
  if (with_name) std::printf("%s = ", v.name.empty() ? "@" : v.name.c_str());
  switch (v.type) {
    case reg::ValueType::String: std::printf("%s\n", v.text.c_str()); break;
    case reg::ValueType::Dword: std::printf("%u\n", v.dword); break;
    case reg::ValueType::Binary:
      for (std::size_t i = 0; i < v.bytes.size(); ++i) std::printf(i ? " %02x" : "%02x", v.bytes[i]);
      std::printf("\n");
      break;
  }
}

bool parse_number(const std::string& text, std::uint32_t* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (*end != '\0' || errno != 0 || v > 0xFFFFFFFFull || text[0] == '-') return false;
  *value = static_cast<std::uint32_t>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return usage_error("no command");
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  bool dword = false;
  std::erase_if(args, [&](const std::string& a) { return a == "--dword" ? (dword = true) : false; });
  const std::string command = args[0];
  reg::Hive hive;
  std::string key;

  if (command == "get") {
    if (args.size() != 3) return usage_error("get needs KEY NAME");
    if (!parse_key(args[1], &hive, &key)) return 2;
    auto value = reg::get_value(hive, key, args[2]);
    if (!value) {
      std::fprintf(stderr, "hbtreg: %s: no value \"%s\"\n", args[1].c_str(), args[2].c_str());
      return 1;
    }
    print_value(*value, false);
    return 0;
  }
  if (command == "set") {
    if (args.size() != 4) return usage_error("set needs KEY NAME VALUE");
    if (!parse_key(args[1], &hive, &key)) return 2;
    bool ok;
    if (dword) {
      std::uint32_t number;
      if (!parse_number(args[3], &number)) return usage_error("--dword needs a number from 0 to 4294967295");
      ok = reg::set_dword(hive, key, args[2], number);
    } else {
      ok = reg::set_string(hive, key, args[2], args[3]);
    }
    if (!ok) std::fprintf(stderr, "hbtreg: cannot write %s: %s\n", reg::directory().c_str(), std::strerror(errno));
    return ok ? 0 : 1;
  }
  if (command == "delete") {
    if (args.size() != 2 && args.size() != 3) return usage_error("delete needs KEY [NAME]");
    if (!parse_key(args[1], &hive, &key)) return 2;
    bool ok = args.size() == 3 ? reg::delete_value(hive, key, args[2]) : reg::delete_key(hive, key);
    if (!ok) std::fprintf(stderr, "hbtreg: cannot write %s: %s\n", reg::directory().c_str(), std::strerror(errno));
    return ok ? 0 : 1;
  }
  if (command == "list") {
    if (args.size() != 2) return usage_error("list needs KEY");
    if (!parse_key(args[1], &hive, &key)) return 2;
    if (!reg::key_exists(hive, key)) {
      std::fprintf(stderr, "hbtreg: %s: no such key\n", args[1].c_str());
      return 1;
    }
    for (const auto& sub : reg::subkeys(hive, key)) std::printf("[%s]\n", sub.c_str());
    for (const auto& v : reg::values(hive, key)) print_value(v, true);
    return 0;
  }
  if (command == "export") {
    if (args.size() != 1) return usage_error("export takes no arguments");
    std::fputs(reg::export_text().c_str(), stdout);
    return 0;
  }
  if (command == "import") {
    if (args.size() != 2) return usage_error("import needs FILE");
    std::string text;
    if (args[1] == "-") {
      text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
      FILE* f = std::fopen(args[1].c_str(), "rb");
      if (!f) {
        std::fprintf(stderr, "hbtreg: %s: %s\n", args[1].c_str(), std::strerror(errno));
        return 1;
      }
      char buffer[65536];
      std::size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
      std::fclose(f);
    }
    // Accept files written on Windows.
    std::erase(text, '\r');
    std::string error;
    if (!reg::import_text(text, &error)) {
      std::fprintf(stderr, "hbtreg: %s: %s\n", args[1].c_str(), error.c_str());
      return 1;
    }
    return 0;
  }
  return usage_error(("unknown command " + command).c_str());
}
