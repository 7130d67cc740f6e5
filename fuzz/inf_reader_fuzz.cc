// The installer's INF reader over any text: never a crash; a refusal names the file; what it
// accepts has its lines numbered in file order within each section, and written out again
// (every key and field quoted) reads back as the same sections, keys and fields. Field
// expansion with directory ids never crashes and changes nothing in a field without '%'.
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "fuzz/fuzz_target.h"
#include "setup/inf_file.h"

namespace hbt::setup {
namespace {

using fuzz::fail;

constexpr const char* kName = "inf_reader";
constexpr const char* kFile = "F.inf";

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// The file as text again: one header per section, one line per logical line.
std::string write_out(const InfFile& inf) {
  std::string out;
  for (const InfSection& s : inf.sections()) {
    out += "[" + s.name + "]\n";
    for (const InfLine& line : s.lines) {
      if (line.has_key) out += quoted(line.key) + " =";
      for (std::size_t f = 0; f < line.fields.size(); ++f) out += (f == 0 ? (line.has_key ? " " : "") : ", ") + quoted(line.fields[f]);
      out += "\n";
    }
  }
  return out;
}

bool has_percent(const InfFile& inf) {
  for (const InfSection& s : inf.sections()) {
    if (equal_ignoring_case(s.name, "Strings")) continue;
    for (const InfLine& line : s.lines) {
      if (line.key.find('%') != std::string::npos) return true;
      for (const auto& f : line.fields)
        if (f.find('%') != std::string::npos) return true;
    }
  }
  return false;
}

std::string describe(const InfFile& inf) {
  std::ostringstream out;
  for (const InfSection& s : inf.sections()) {
    out << "[" << s.name << "]\n";
    for (const InfLine& line : s.lines) {
      out << (line.has_key ? "key <" + line.key + ">" : std::string("no key"));
      for (const auto& f : line.fields) out << " <" << f << ">";
      out << "\n";
    }
  }
  return out.str();
}

void run(std::span<const std::uint8_t> data) {
  const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  std::string error;
  const std::optional<InfFile> inf = InfFile::parse(text, kFile, &error);
  if (!inf) {
    if (error.rfind(kFile, 0) != 0) fail(kName, "refused without naming the file: " + error);
    return;
  }
  int physical_lines = 1;
  for (char c : text) physical_lines += c == '\n';
  for (const InfSection& s : inf->sections()) {
    if (s.name.empty()) fail(kName, "a section without a name");
    for (const InfSection& t : inf->sections())
      if (&s != &t && equal_ignoring_case(s.name, t.name)) fail(kName, "section [" + s.name + "] twice");
    int after = 0;
    for (const InfLine& line : s.lines) {
      if (line.first_line <= after || line.last_line < line.first_line || line.last_line > physical_lines)
        fail(kName, "section [" + s.name + "] has a line numbered " + std::to_string(line.first_line) + ".." +
                        std::to_string(line.last_line) + " after line " + std::to_string(after));
      after = line.last_line;
      if (line.has_key && line.key.empty()) fail(kName, "a key that is empty");
      const DirectoryIds ids = {{11, "/sys32"}, {65702, "/data/%x%"}, {1, ""}};
      for (const auto& f : line.fields) {
        std::string out, why;
        const bool expanded = inf->expand(f, line, ids, &out, &why);
        if (expanded && f.find('%') == std::string::npos && out != f) fail(kName, "expansion changed " + f);
        if (!expanded && why.rfind(kFile, 0) != 0) fail(kName, "expansion refused without naming the file: " + why);
        (void)parse_inf_number(f);
      }
    }
  }
  // A string substituted when the file was read may hold '%', which the text written out
  // would have to define again: such files are not written out.
  if (has_percent(*inf)) return;
  const std::string written = write_out(*inf);
  const std::optional<InfFile> again = InfFile::parse(written, kFile, &error);
  if (!again) fail(kName, "written out, it no longer reads: " + error + "\n" + written);
  if (describe(*again) != describe(*inf))
    fail(kName, "written out and read again, it differs:\n" + describe(*inf) + "--\n" + describe(*again));
}

// The shipped INF file and the constructs of the reader's tests.
std::vector<fuzz::Bytes> seeds() {
  std::vector<fuzz::Bytes> out;
  std::ifstream shipped(std::string(HBT_SOURCE_DIR) + "/setup/HBT.inf", std::ios::binary);
  if (shipped) out.emplace_back(std::istreambuf_iterator<char>(shipped), std::istreambuf_iterator<char>());
  const std::string version = "[Version]\nSignature=\"$Windows NT$\"\n";
  for (const std::string& body : {
           std::string("; a comment line\n[Data]   ; comment after a header\n"
                       "key = a, \"b, c\" , \"say \"\"hi\"\"\"   ; trailing comment\n"
                       "  \" padded \" ,, last\nx = \"semi;colon\", 0x10\n"
                       "joined = one, \\\n   two, \\\n   three\nempty =\n\"quoted=key\"\r\n"
                       "[data]\nmerged = yes\n[Strings]\nName = \"Brenlow\"\n"),
           std::string("[Files]\nCopy = %11%\\HBTSPOLL, %Name%, %%\n[Strings]\nname = \"Brenlow Ethernet Driver\"\n"),
           std::string("[Reg]\nHKLM,\"Software\\Velmora\",\"Count\",0x00010001,65536\n"),
       })
    out.push_back(fuzz::text_bytes(version + body));
  out.push_back(fuzz::text_bytes("\xEF\xBB\xBF[Version]\r\nSignature=$Chicago$\r\n[A]\r\nb=c\r\n"));
  return out;
}

}  // namespace
}  // namespace hbt::setup

HBT_FUZZ_TARGET(inf_reader, hbt::setup::run, hbt::setup::seeds)
