// Bounded byte access for the configuration file reader, and the replace-by-rename
// writer used for every file the editor saves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace hbt::editor {

// Random-access bytes of known size. read() fails, without touching `out`, for any range
// that does not lie wholly inside.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t size() const = 0;
  virtual bool read(std::uint64_t offset, std::size_t count, void* out) = 0;

  template <typename T>
  bool read_struct(std::uint64_t offset, T* out) {
    return read(offset, sizeof(T), out);
  }
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool read(std::uint64_t offset, std::size_t count, void* out) override;

 private:
  std::span<const std::uint8_t> bytes_;
};

class FileSource final : public ByteSource {
 public:
  FileSource() = default;
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  // False with errno set when the file cannot be opened for reading.
  bool open(const std::string& path);
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t offset, std::size_t count, void* out) override;

 private:
  struct Window {
    std::vector<char> bytes;
    std::uint64_t start = 0;
    std::size_t size = 0;
    std::uint64_t last_use = 0;
  };
  bool fill(Window& window, std::uint64_t offset, std::size_t count);
  int fd_ = -1;
  std::uint64_t size_ = 0;
  // A few windows of the file: the reader moves forwards through the channel, device and
  // poll-record regions in turn, a few bytes at a time.
  Window windows_[4];
  std::uint64_t uses_ = 0;
};

// Writes `bytes` to a new file beside `path` and renames it over `path`, so readers see
// either the old file or the whole new one. On failure *error_number is the errno and
// the old file is untouched.
bool replace_file(const std::string& path, std::span<const std::uint8_t> bytes, int* error_number);

// Reads a whole file (or pipe) into *out. False with *error_number set (EISDIR for a folder,
// otherwise the errno of the open or read that failed).
bool read_whole_file(const std::string& path, std::string* out, int* error_number);

}  // namespace hbt::editor
