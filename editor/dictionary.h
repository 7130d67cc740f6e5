// Value dictionaries: ordered {minimum match length, text, code} tables through which
// every enumerated field is typed, shown and stored.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace hbt::editor {

struct DictEntry {
  int min_match;
  const char* text;
  int code;
};

class Dictionary {
 public:
  constexpr Dictionary(const char* name, std::span<const DictEntry> entries)
      : name_(name), entries_(entries) {}

  const char* name() const { return name_; }
  int size() const { return static_cast<int>(entries_.size()); }
  const DictEntry& at(int position) const { return entries_[static_cast<std::size_t>(position)]; }

  // Position of the first entry whose text agrees with `text` in its first
  // min_match characters (case-sensitive; the end of `text` counts as a NUL).
  std::optional<int> find(std::string_view text) const;
  // Position of the first entry with this code.
  std::optional<int> position_of_code(int code) const;
  // Code of the entry at `position`; -1 for a position outside the table.
  int code_at(int position) const;
  // Text of the entry at `position`; "UNDEFINED" for a position outside the table.
  std::string text_at(int position) const;
  // Text of a code: the first entry with it; "*?*" for a code with bit 15 set;
  // "UNDEFINED" for a code no entry has.
  std::string text_of_code(int code) const;

 private:
  const char* name_;
  std::span<const DictEntry> entries_;
};

extern const Dictionary kCpuTypeDct;       // "HBT_Cpu_Type_dct"
extern const Dictionary kProtocolTypeDct;  // "HBT_Protocol_Type_dct"
extern const Dictionary kDataTypeDct;      // "hbt_Data_Type_dct" (same as "Data_Type_dct")
extern const Dictionary kExceptionDct;     // "hbt_Exception_dct" (same as "Exception_dct")
extern const Dictionary kYesNoDct;
extern const Dictionary kBaudDct;
extern const Dictionary kDataBitsDct;
extern const Dictionary kParityDct;
extern const Dictionary kStopBitsDct;
extern const Dictionary kHandshakeDct;
extern const Dictionary kPortDct;          // serial ports; code = port number - 1

// Positions of the entries that serve as defaults.
inline constexpr int kCpuAnN = 0;          // "AnN/AnS"
inline constexpr int kCpuQSeries = 4;      // "Q Series"
inline constexpr int kProtocolBinary = 0;  // "BINARY"
inline constexpr int kDataUnsigned = 0;    // "Unsigned"
inline constexpr int kDataDigital = 6;     // "Digital"
inline constexpr int kExceptionDisabled = 0;
inline constexpr int kBaud9600 = 8;
inline constexpr int kDataBits8 = 1;
inline constexpr int kParityNone = 0;
inline constexpr int kStopBits1 = 0;
inline constexpr int kHandshakeNone = 0;

}  // namespace hbt::editor
