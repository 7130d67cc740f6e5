// The dictionary tables and their look-ups.
#include "editor/dictionary.h"

namespace hbt::editor {

namespace {

constexpr DictEntry kCpu[] = {
    {4, "AnN/AnS", 0}, {4, "AnAS", 2}, {3, "AnA", 1}, {3, "AnU", 3}, {2, "Q Series", 4}};
constexpr DictEntry kProtocol[] = {{1, "BINARY", 0}, {1, "ASCII", 1}};
constexpr DictEntry kDataType[] = {{1, "Unsigned", 2}, {1, "Signed", 1},       {1, "Float", 3},
                                   {6, "Long Signed", 7}, {6, "Long Unsigned", 6},
                                   {1, "ASCII", 0},    {1, "Digital", 4}};
constexpr DictEntry kException[] = {
    {3, "Disabled", 0}, {2, "Analog", 1}, {3, "Digital", 2}, {2, "ASCII", 3}};
constexpr DictEntry kYesNo[] = {{1, "Yes", 1}, {1, "No", 0}};
constexpr DictEntry kBaud[] = {{3, "110", 2},    {3, "150", 4},    {2, "200", 20},  {2, "300", 5},
                               {1, "600", 6},    {3, "1200", 7},   {2, "2400", 10}, {1, "4800", 12},
                               {1, "9600", 14},  {3, "19200", 15}, {2, "38400", 16},
                               {2, "57600", 17}, {3, "115200", 19}};
constexpr DictEntry kDataBits[] = {{1, "7", 2}, {1, "8", 3}};
constexpr DictEntry kParity[] = {{1, "None", 0}, {1, "Odd", 1}, {1, "Even", 3}};
constexpr DictEntry kStopBits[] = {{1, "1", 0}, {1, "2", 1}};
constexpr DictEntry kHandshake[] = {{1, "None", 0},       {7, "RTS/CTS", 0x12},
                                    {1, "DTR/DSR", 0x21}, {9, "RTS Toggle", 4},
                                    {9, "RTS Tog CTS", 0x14}, {9, "RTS T CTS+CD", 0x94}};
constexpr DictEntry kPort[] = {
    {4, "None", -1},   {5, "COM1:", 0},   {4, "COM2:", 1},   {4, "COM3:", 2},   {4, "COM4:", 3},
    {4, "COM5:", 4},   {4, "COM6:", 5},   {4, "COM7:", 6},   {4, "COM8:", 7},   {4, "COM9:", 8},
    {5, "COM10:", 9},  {5, "COM11:", 10}, {5, "COM12:", 11}, {5, "COM13:", 12}, {5, "COM14:", 13},
    {5, "COM15:", 14}, {5, "COM16:", 15}, {5, "COM17:", 16}, {5, "COM18:", 17}, {5, "COM19:", 18},
    {5, "COM20:", 19}, {5, "COM21:", 20}, {5, "COM22:", 21}, {5, "COM23:", 22}, {5, "COM24:", 23},
    {5, "COM25:", 24}, {5, "COM26:", 25}, {5, "COM27:", 26}, {5, "COM28:", 27}, {5, "COM29:", 28},
    {5, "COM30:", 29}, {5, "COM31:", 30}, {5, "COM32:", 31}, {5, "COM33:", 32}, {5, "COM34:", 33},
    {5, "COM35:", 34}, {5, "COM36:", 35}, {5, "COM37:", 36}, {5, "COM38:", 37}, {5, "COM39:", 38},
    {5, "COM40:", 39}};

// strncmp(text, entry, n) == 0, with the end of `text` read as a NUL.
bool agrees(std::string_view text, const char* entry, int n) {
  for (int i = 0; i < n; ++i) {
    char a = static_cast<std::size_t>(i) < text.size() ? text[static_cast<std::size_t>(i)] : '\0';
    char b = entry[i];
    if (a != b) return false;
    if (a == '\0') return true;
  }
  return true;
}

}  // namespace

const Dictionary kCpuTypeDct("HBT_Cpu_Type_dct", kCpu);
const Dictionary kProtocolTypeDct("HBT_Protocol_Type_dct", kProtocol);
const Dictionary kDataTypeDct("hbt_Data_Type_dct", kDataType);
const Dictionary kExceptionDct("hbt_Exception_dct", kException);
const Dictionary kYesNoDct("Yes_No_dct", kYesNo);
const Dictionary kBaudDct("baud_dct", kBaud);
const Dictionary kDataBitsDct("data_bits_dct", kDataBits);
const Dictionary kParityDct("parity_dct", kParity);
const Dictionary kStopBitsDct("stop_bits_dct", kStopBits);
const Dictionary kHandshakeDct("handshake_dct", kHandshake);
const Dictionary kPortDct("", kPort);

std::optional<int> Dictionary::find(std::string_view text) const {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (agrees(text, entries_[i].text, entries_[i].min_match)) return static_cast<int>(i);
  }
  return std::nullopt;
}

std::optional<int> Dictionary::position_of_code(int code) const {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].code == code) return static_cast<int>(i);
  }
  return std::nullopt;
}

int Dictionary::code_at(int position) const {
  if (position < 0 || position >= size()) return -1;
  return at(position).code;
}

std::string Dictionary::text_at(int position) const {
  if (position < 0 || position >= size()) return "UNDEFINED";
  return at(position).text;
}

std::string Dictionary::text_of_code(int code) const {
  if (code >= 0 && (code & 0x8000) != 0) return "*?*";
  auto position = position_of_code(code);
  return position ? std::string(at(*position).text) : "UNDEFINED";
}

}  // namespace hbt::editor
