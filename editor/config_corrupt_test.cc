// Damaged configuration files: the reader must refuse each without crashing, hanging or
// allocating without bound, and leave the document empty.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <random>

#include "editor/config_file.h"
#include "editor/test_configs.h"

namespace hbt::editor {
namespace {

std::vector<std::uint8_t> small_file() {
  CDidDoc doc;
  testing::build_small_plant(doc);
  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(pack_configuration(doc, 1, &bytes).ok());
  return bytes;
}

ReadReport read(const std::vector<std::uint8_t>& bytes, CDidDoc& doc) {
  MemorySource source(bytes);
  return read_configuration(doc, source);
}

void put_u16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) { std::memcpy(&b[at], &v, 2); }
void put_u32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) { std::memcpy(&b[at], &v, 4); }

void expect_corrupt(const std::vector<std::uint8_t>& bytes, const char* what) {
  CDidDoc doc;
  ReadReport report = read(bytes, doc);
  EXPECT_TRUE(report.corrupt) << what;
  EXPECT_TRUE(doc.channels().empty()) << what;
}

TEST(ConfigCorruptTest, EveryTruncationIsRefusedUntilTheLastHeadIsWhole) {
  std::vector<std::uint8_t> full = small_file();
  ASSERT_EQ(full.size(), 919u);
  // The last poll record head ends at 733 + 86; its data areas are not read on open.
  for (std::size_t size = 0; size < full.size(); ++size) {
    std::vector<std::uint8_t> cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size));
    CDidDoc doc;
    ReadReport report = read(cut, doc);
    ASSERT_EQ(report.corrupt, size < 819) << "size " << size;
    if (report.corrupt) {
      ASSERT_TRUE(doc.channels().empty());
    }
  }
}

TEST(ConfigCorruptTest, NamedFailureModes) {
  const std::vector<std::uint8_t> good = small_file();
  std::size_t h = 102;
  {
    auto b = good;
    put_u32(b, h + 22, 0xFFFFFFF0u);  // channel table far beyond the end
    expect_corrupt(b, "channel table offset");
  }
  {
    auto b = good;
    b[h + 3] = 255;  // 255 channels, table runs off the end
    expect_corrupt(b, "channel count");
  }
  {
    auto b = good;
    put_u16(b, h + 18, 65535);  // 65535 poll records: the control table cannot fit
    expect_corrupt(b, "poll record count");
  }
  {
    auto b = good;
    put_u32(b, 136, 0x7FFFFFFFu);  // channel record offset
    expect_corrupt(b, "channel offset");
  }
  {
    auto b = good;
    put_u16(b, 140 + 42, 2);  // the channel claims two devices, the table holds one
    expect_corrupt(b, "device range");
  }
  {
    auto b = good;
    put_u16(b, 272 + 2, 4);  // the device claims four poll records
    expect_corrupt(b, "poll record range");
  }
  {
    auto b = good;
    put_u32(b, 374 + 32, 0xFFFFFF00u);  // a poll record offset that wraps when 102 is added
    expect_corrupt(b, "poll record offset");
  }
  {
    auto b = good;
    put_u16(b, 470 + 58, 5);  // data type 5 does not exist
    expect_corrupt(b, "data type");
  }
  {
    auto b = good;
    b[470 + 5] = 9;  // exception type 9 does not exist
    expect_corrupt(b, "exception type");
  }
  {
    auto b = good;
    put_u16(b, 272 + 66, 7);  // CPU type 7 does not exist
    expect_corrupt(b, "cpu type");
  }
  {
    // Two channels sharing one device would build every device and poll record twice
    // over; a file can be made to multiply objects that way, so sharing is corruption.
    auto b = good;
    b[h + 3] = 2;
    put_u32(b, h + 22, 556 - 102);  // a new channel table in the first record's data area
    put_u32(b, 556, 140 - 102);
    put_u32(b, 560, 140 - 102);
    expect_corrupt(b, "shared device");
  }
}

TEST(ConfigCorruptTest, RandomDamageNeverCrashes) {
  const std::vector<std::uint8_t> good = small_file();
  std::mt19937 random(20240613);
  int refused = 0, loaded = 0;
  for (int round = 0; round < 3000; ++round) {
    auto b = good;
    int flips = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < flips; ++i) {
      // Aim at the structural part of the file, where damage matters.
      std::size_t at = random() % 819;
      b[at] = static_cast<std::uint8_t>(random());
    }
    CDidDoc doc;
    ReadReport report = read(b, doc);
    if (report.corrupt) {
      ++refused;
      ASSERT_TRUE(doc.channels().empty());
    } else {
      ++loaded;
      // Whatever loaded stays within what the file can describe.
      ASSERT_LE(doc.channels().size(), 255u);
      ASSERT_LE(doc.device_count(), 255u);
      ASSERT_LE(doc.poll_record_count(), 65535u);
      // And can be shown and saved again.
      for (auto& c : doc.channels()) {
        for (auto& d : c->devices()) {
          for (auto& r : d->iorecs()) {
            auto* io = static_cast<CDrvSpecificIORec*>(r.get());
            ASSERT_FALSE(io->get_start_address().empty());
            ASSERT_FALSE(io->get_data_type().empty());
          }
        }
      }
      std::vector<std::uint8_t> again;
      pack_configuration(doc, 0, &again);
    }
  }
  EXPECT_GT(refused, 0);
  EXPECT_GT(loaded, 0);
}

// The file reader serves records from a window of the file; every read must return the
// bytes at its offset, whatever window came before, and refuse ranges past the end.
TEST(FileSourceTest, ReadsMatchTheFileAcrossWindows) {
  std::string path = ::testing::TempDir() + "hbt_file_source_" + std::to_string(::getpid());
  std::vector<std::uint8_t> pattern(200000);
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(pattern.data(), 1, pattern.size(), f), pattern.size());
    std::fclose(f);
  }
  FileSource source;
  ASSERT_TRUE(source.open(path));
  ASSERT_EQ(source.size(), pattern.size());
  std::mt19937 random(3);
  std::vector<std::uint8_t> out;
  for (int i = 0; i < 5000; ++i) {
    std::size_t count = random() % 4 == 0 ? random() % 150000 : random() % 300;
    std::uint64_t offset = random() % (pattern.size() + 10);
    out.assign(count, 0);
    bool inside = offset + count <= pattern.size();
    ASSERT_EQ(source.read(offset, count, out.data()), inside) << offset << " " << count;
    if (inside) {
      ASSERT_TRUE(std::equal(out.begin(), out.end(), pattern.begin() + static_cast<std::ptrdiff_t>(offset)))
          << offset << " " << count;
    }
  }
  std::remove(path.c_str());
  FileSource directory;
  EXPECT_FALSE(directory.open(::testing::TempDir()));
}

TEST(ConfigCorruptTest, OlderLayoutsStillLoad) {
  auto b = small_file();
  put_u16(b, 102 + 20, 86);
  put_u32(b, 102 + 10, 278);
  // Format 278 keeps the description at +10 of the device record.
  std::memset(&b[272 + 4], 0, 48);
  std::memcpy(&b[272 + 4], "OLD", 3);
  std::memcpy(&b[272 + 10], "Old text", 8);
  CDidDoc doc;
  ReadReport report = read(b, doc);
  EXPECT_FALSE(report.corrupt);
  ASSERT_TRUE(report.older_format.has_value());
  EXPECT_EQ(*report.older_format, 86);
  ASSERT_NE(doc.find_device("OLD"), nullptr);
  EXPECT_EQ(doc.find_device("OLD")->description(), "Old text");
}

TEST(ConfigCorruptTest, NamesWithoutTerminatorAreCut) {
  auto b = small_file();
  std::memset(&b[272 + 4], 'A', 12 + 36);  // name and description fill their fields
  CDidDoc doc;
  ASSERT_FALSE(read(b, doc).corrupt);
  const CDevice& d = *doc.channels()[0]->devices()[0];
  EXPECT_EQ(d.name(), "AAAAAAAAAAA");
  EXPECT_EQ(d.description(), std::string(35, 'A'));
}

}  // namespace
}  // namespace hbt::editor
