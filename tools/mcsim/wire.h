// Bounds-checked field reading and writing for MC protocol frames in binary coding
// (little-endian bytes) and ASCII coding (upper-case hexadecimal, high digit first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace hbt::mcsim {

enum class Coding { kBinary, kAscii };

// -1 when c is not a hexadecimal digit; lower case is accepted as the modules do.
constexpr int hex_value(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

class FieldReader {
 public:
  enum class Status { kOk, kShort, kBadText };

  FieldReader(std::span<const std::uint8_t> data, Coding coding) : data_(data), coding_(coding) {}

  // A field of `bytes` bytes: binary little-endian, or 2 x bytes hex characters.
  Status field(int bytes, std::uint32_t* value) {
    std::size_t width = coding_ == Coding::kBinary ? bytes : 2 * bytes;
    if (data_.size() - pos_ < width) return Status::kShort;
    std::uint32_t v = 0;
    if (coding_ == Coding::kBinary) {
      for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | data_[pos_ + i];
    } else {
      for (std::size_t i = 0; i < width; ++i) {
        int d = hex_value(data_[pos_ + i]);
        if (d < 0) return Status::kBadText;
        v = (v << 4) | static_cast<std::uint32_t>(d);
      }
    }
    pos_ += width;
    *value = v;
    return Status::kOk;
  }

  // Raw bytes or characters, whatever the coding.
  Status raw(std::size_t count, std::span<const std::uint8_t>* out) {
    if (data_.size() - pos_ < count) return Status::kShort;
    *out = data_.subspan(pos_, count);
    pos_ += count;
    return Status::kOk;
  }

  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return data_.size() - pos_; }
  Coding coding() const { return coding_; }

 private:
  std::span<const std::uint8_t> data_;
  Coding coding_;
  std::size_t pos_ = 0;
};

class FieldWriter {
 public:
  FieldWriter(std::vector<std::uint8_t>* out, Coding coding) : out_(out), coding_(coding) {}

  void field(int bytes, std::uint32_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (coding_ == Coding::kBinary) {
      for (int i = 0; i < bytes; ++i) out_->push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    } else {
      for (int i = 2 * bytes - 1; i >= 0; --i) out_->push_back(kDigits[(value >> (4 * i)) & 0xF]);
    }
  }
  void raw(std::string_view text) { out_->insert(out_->end(), text.begin(), text.end()); }
  void byte(std::uint8_t b) { out_->push_back(b); }
  std::size_t size() const { return out_->size(); }
  std::vector<std::uint8_t>& buffer() { return *out_; }

 private:
  std::vector<std::uint8_t>* out_;
  Coding coding_;
};

}  // namespace hbt::mcsim
