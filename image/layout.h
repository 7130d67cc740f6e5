// Byte layouts shared by every program of the driver: the configuration file, which is
// also the image region the poller loads it into, and the driver pointer block.
// Every multi-byte field is little-endian; every offset is checked at compile time.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace hbt::image {

static_assert(std::endian::native == std::endian::little,
              "the shared layouts are little-endian and are used in place");

// Everything inside the image is packed: the image header starts 102 bytes into its region,
// so no record of the image sits on a natural boundary. The pointer block starts its own
// region and keeps natural alignment, so that its counters can be updated atomically.

inline constexpr char kAcronym[] = "HBT";
inline constexpr char kProductName[] = "Brenlow Ethernet Driver";
inline constexpr char kVersion[] = "7.9.21";
inline constexpr char kPointerBlockSuffix[] = "_TO_IOC";

inline constexpr std::size_t kFilePrefixSize = 102;  // image header starts here
inline constexpr std::uint32_t kFormatVersion = 279;
inline constexpr std::uint32_t kOlderFormatVersion = 278;
inline constexpr int kMaxChannels = 32;
inline constexpr int kMaxDevices = 255;
inline constexpr int kMaxPollRecords = 10000;
inline constexpr std::size_t kSegmentSize = 65536;  // no table or record crosses this
inline constexpr std::uint8_t kSegmentFill = 'F';

inline constexpr std::uint8_t kLocked = 'L';
inline constexpr std::uint8_t kUnlocked = 'U';

// Status word of a poll record.
inline constexpr std::uint16_t kStatusGood = 0;
inline constexpr std::uint16_t kStatusCommFailure = 4293;
inline constexpr std::uint16_t kStatusAccessExpired = 4296;
inline constexpr std::uint16_t kStatusNotPolled = 4297;

// Poll and access times are in 1/100 s.
inline constexpr std::int32_t kPollTimeDisabled = -100;
inline constexpr std::int32_t kAccessNeverExpires = 17280100;

enum class RegisterType : std::uint8_t {
  X = 0, Y = 1, B = 2, L = 3, M = 4, F = 5, TC = 6, TS = 7,
  TN = 8, CC = 9, CS = 10, CN = 11, D = 12, W = 13, R = 14, EX = 15,
};
inline constexpr const char* kRegisterTypeNames[16] = {
    "X", "Y", "B", "L", "M", "F", "TC", "TS", "TN", "CC", "CS", "CN", "D", "W", "R", "EX"};

constexpr bool is_word_device(RegisterType t) {
  switch (t) {
    case RegisterType::TN: case RegisterType::CN: case RegisterType::D:
    case RegisterType::W: case RegisterType::R: case RegisterType::EX:
      return true;
    default:
      return false;
  }
}

enum class DataType : std::uint16_t {
  Ascii = 0, Signed = 1, Unsigned = 2, Float = 3, Digital = 4, LongUnsigned = 6, LongSigned = 7,
};
constexpr bool is_32_bit(DataType t) {
  return t == DataType::Float || t == DataType::LongUnsigned || t == DataType::LongSigned;
}

enum class ExceptionType : std::uint8_t { Disabled = 0, Analog = 1, Digital = 2, Ascii = 3 };

enum class CpuType : std::uint16_t { AnN = 0, AnA = 1, AnAS = 2, AnU = 3, QSeries = 4 };
enum class Coding : std::uint16_t { Binary = 0, Ascii = 1 };

// Address word of a poll record: register type in bits 28..31, start address in bits 0..23.
constexpr RegisterType address_register_type(std::uint32_t address_word) {
  return static_cast<RegisterType>(address_word >> 28);
}
constexpr std::uint32_t address_start(std::uint32_t address_word) { return address_word & 0xFFFFFF; }
constexpr std::uint32_t make_address_word(RegisterType t, std::uint32_t start) {
  return (static_cast<std::uint32_t>(t) << 28) | (start & 0xFFFFFF);
}

struct [[gnu::packed]] FilePrefix {
  std::uint32_t file_length;
  std::uint32_t file_length_again;
  std::uint8_t zero[94];
};
static_assert(sizeof(FilePrefix) == kFilePrefixSize);
static_assert(offsetof(FilePrefix, file_length_again) == 4);

// Offsets stored in the image are relative to the start of this header.
struct [[gnu::packed]] ImageHeader {
  std::uint8_t unused0;
  std::uint8_t lock;               // taken by the poller while it clears the polling flag
  std::uint8_t load_check;         // must be 'L' or 'U' for the image to be accepted
  std::uint8_t channel_count;      // 1..32
  std::uint8_t device_count;       // 1..255
  std::uint8_t flags;              // bit 0: polling flag (poller)
  std::uint32_t save_time;         // seconds since 1970, low 32 bits
  std::uint32_t version;           // 279, or 278 for the older layout
  std::uint16_t watchdog;          // poller: +1 every tick
  std::uint16_t constant_108;
  std::uint16_t poll_record_count; // 1..10000
  std::uint16_t device_record_size;
  std::uint32_t channel_table_offset;
  std::uint32_t device_table_offset;
  std::uint32_t poll_control_table_offset;
};
inline constexpr std::uint8_t kPollingFlag = 0x01;
static_assert(sizeof(ImageHeader) == 34);
static_assert(offsetof(ImageHeader, lock) == 1);
static_assert(offsetof(ImageHeader, load_check) == 2);
static_assert(offsetof(ImageHeader, channel_count) == 3);
static_assert(offsetof(ImageHeader, device_count) == 4);
static_assert(offsetof(ImageHeader, flags) == 5);
static_assert(offsetof(ImageHeader, save_time) == 6);
static_assert(offsetof(ImageHeader, version) == 10);
static_assert(offsetof(ImageHeader, watchdog) == 14);
static_assert(offsetof(ImageHeader, constant_108) == 16);
static_assert(offsetof(ImageHeader, poll_record_count) == 18);
static_assert(offsetof(ImageHeader, device_record_size) == 20);
static_assert(offsetof(ImageHeader, channel_table_offset) == 22);
static_assert(offsetof(ImageHeader, device_table_offset) == 26);
static_assert(offsetof(ImageHeader, poll_control_table_offset) == 30);

// Bytes 0..39 of a channel record; the poller is its only writer, a reset zeroes 2..39.
struct [[gnu::packed]] StatisticsBlock {
  std::uint8_t active_selector;    // equals primary.port_low: primary settings in use
  std::uint8_t reserved1;
  std::uint16_t requests_sent;
  std::uint16_t replies_received;
  std::uint16_t retries;
  std::uint16_t reply_timeouts;
  std::uint16_t abnormal_codes;      // A-series
  std::uint16_t last_abnormal_code;  // A-series
  std::uint8_t reserved14[6];
  std::uint16_t reads_not_sent;      // connection not ready
  std::uint16_t last_extended_error; // A-series code 0x5B
  std::uint16_t writes_not_sent;     // connection not ready
  std::uint8_t reserved26[10];
  std::uint16_t rejected_replies;    // wrong length or command code
  std::uint16_t reserved38;
};
inline constexpr std::uint8_t kChannelNotInService = 0xFF;
static_assert(sizeof(StatisticsBlock) == 40);
static_assert(offsetof(StatisticsBlock, requests_sent) == 2);
static_assert(offsetof(StatisticsBlock, replies_received) == 4);
static_assert(offsetof(StatisticsBlock, retries) == 6);
static_assert(offsetof(StatisticsBlock, reply_timeouts) == 8);
static_assert(offsetof(StatisticsBlock, abnormal_codes) == 10);
static_assert(offsetof(StatisticsBlock, last_abnormal_code) == 12);
static_assert(offsetof(StatisticsBlock, reads_not_sent) == 20);
static_assert(offsetof(StatisticsBlock, last_extended_error) == 22);
static_assert(offsetof(StatisticsBlock, writes_not_sent) == 24);
static_assert(offsetof(StatisticsBlock, rejected_replies) == 36);

// One of the two settings blocks of a channel (serial framework fields are kept as stored).
struct [[gnu::packed]] ChannelSettings {
  std::uint8_t port_low;          // port number - 1, low 8 bits
  std::uint8_t serial_codes[6];   // baud, data bits (+ port bits 8..11), stop, parity, 0, flow
  std::uint8_t retries;
  std::uint32_t reply_timeout;    // 1/100 s
  std::uint32_t delay;            // 1/100 s before a failed record is polled again
};
static_assert(sizeof(ChannelSettings) == 16);
static_assert(offsetof(ChannelSettings, retries) == 7);
static_assert(offsetof(ChannelSettings, reply_timeout) == 8);
static_assert(offsetof(ChannelSettings, delay) == 12);

struct [[gnu::packed]] ChannelRecord {
  StatisticsBlock stats;
  std::uint16_t first_device;
  std::uint16_t device_count;
  std::uint16_t first_poll_record;
  std::uint16_t poll_record_count;  // 0 = channel not polled
  std::uint8_t display_alarms;
  std::uint8_t disable_comms_alarms;
  ChannelSettings primary;
  ChannelSettings backup;
  std::uint8_t u82;                 // 'U'
  std::uint8_t u83;                 // 'U'
  std::uint8_t reserved84[8];
  std::uint32_t runtime_ref;        // poller-private channel block handle; 0 when not polling
  std::uint8_t reserved96[12];
  std::uint32_t ip_port;
  std::uint32_t ip_address;         // first octet in bits 24..31
  std::uint32_t ip_protocol;        // 0 UDP, else TCP
  std::uint8_t reserved120[8];
};
static_assert(sizeof(ChannelRecord) == 128);
static_assert(offsetof(ChannelRecord, first_device) == 40);
static_assert(offsetof(ChannelRecord, device_count) == 42);
static_assert(offsetof(ChannelRecord, first_poll_record) == 44);
static_assert(offsetof(ChannelRecord, poll_record_count) == 46);
static_assert(offsetof(ChannelRecord, display_alarms) == 48);
static_assert(offsetof(ChannelRecord, disable_comms_alarms) == 49);
static_assert(offsetof(ChannelRecord, primary) == 50);
static_assert(offsetof(ChannelRecord, primary) + offsetof(ChannelSettings, retries) == 57);
static_assert(offsetof(ChannelRecord, primary) + offsetof(ChannelSettings, reply_timeout) == 58);
static_assert(offsetof(ChannelRecord, primary) + offsetof(ChannelSettings, delay) == 62);
static_assert(offsetof(ChannelRecord, backup) == 66);
static_assert(offsetof(ChannelRecord, backup) + offsetof(ChannelSettings, retries) == 73);
static_assert(offsetof(ChannelRecord, backup) + offsetof(ChannelSettings, reply_timeout) == 74);
static_assert(offsetof(ChannelRecord, backup) + offsetof(ChannelSettings, delay) == 78);
static_assert(offsetof(ChannelRecord, u82) == 82);
static_assert(offsetof(ChannelRecord, u83) == 83);
static_assert(offsetof(ChannelRecord, runtime_ref) == 92);
static_assert(offsetof(ChannelRecord, ip_port) == 108);
static_assert(offsetof(ChannelRecord, ip_address) == 112);
static_assert(offsetof(ChannelRecord, ip_protocol) == 116);

struct [[gnu::packed]] DeviceRecord {
  std::uint16_t first_poll_record;
  std::uint16_t poll_record_count;  // at least 1
  char name[12];                    // upper case, NUL-terminated, at most 11 characters
  char description[36];             // NUL-terminated, at most 35 characters
  std::uint8_t u52;                 // 'U'
  std::uint8_t u53;                 // 'U'
  std::uint8_t reserved54[12];
  std::uint16_t cpu_type;           // CpuType
  std::uint16_t pc_number;          // 255 = the PLC carrying the Ethernet module
  std::uint16_t pc_number_again;
  std::uint16_t backup_plc;         // 0xFFFF
  std::uint16_t reserved74;
  std::uint16_t coding;             // Coding
  std::uint16_t network_number;
  std::uint16_t module_number;      // 0 = the addressed CPU, n = CPU n of a multiple-CPU system
  std::uint16_t last_end_code;      // run-time, Q-series
  std::uint8_t reserved84[18];
};
inline constexpr std::size_t kDeviceRecordSize = 102;
inline constexpr std::size_t kOlderDescriptionOffset = 10;  // format 278
static_assert(sizeof(DeviceRecord) == kDeviceRecordSize);
static_assert(offsetof(DeviceRecord, poll_record_count) == 2);
static_assert(offsetof(DeviceRecord, name) == 4);
static_assert(offsetof(DeviceRecord, description) == 16);
static_assert(offsetof(DeviceRecord, u52) == 52);
static_assert(offsetof(DeviceRecord, cpu_type) == 66);
static_assert(offsetof(DeviceRecord, pc_number) == 68);
static_assert(offsetof(DeviceRecord, pc_number_again) == 70);
static_assert(offsetof(DeviceRecord, backup_plc) == 72);
static_assert(offsetof(DeviceRecord, coding) == 76);
static_assert(offsetof(DeviceRecord, network_number) == 78);
static_assert(offsetof(DeviceRecord, module_number) == 80);
static_assert(offsetof(DeviceRecord, last_end_code) == 82);

struct [[gnu::packed]] PollControlEntry {
  std::uint32_t record_offset;
  std::int32_t poll_countdown;      // 1/100 s; poller decrements
  std::int32_t access_countdown;    // 1/100 s; host reloads, poller decrements
  std::uint16_t write_request_count;
  std::uint8_t polled;
  std::uint8_t access_expired;
  std::uint8_t lock;                // guards bytes 4..19
  std::uint8_t unused17;
  std::uint16_t changed_count;
  std::uint8_t reserved20[12];
};
static_assert(sizeof(PollControlEntry) == 32);
static_assert(offsetof(PollControlEntry, poll_countdown) == 4);
static_assert(offsetof(PollControlEntry, access_countdown) == 8);
static_assert(offsetof(PollControlEntry, write_request_count) == 12);
static_assert(offsetof(PollControlEntry, polled) == 14);
static_assert(offsetof(PollControlEntry, access_expired) == 15);
static_assert(offsetof(PollControlEntry, lock) == 16);
static_assert(offsetof(PollControlEntry, changed_count) == 18);

struct [[gnu::packed]] DataAreaRef {
  std::uint32_t offset;  // from the poll record start
  std::uint16_t size;
};
static_assert(sizeof(DataAreaRef) == 6);

// Data area kinds, as numbered by nio_find_data.
enum DataArea : int {
  kAreaCurrent = 1,
  kAreaWriteValues = 2,
  kAreaWriteFlags = 3,
  kAreaEmpty = 4,
  kAreaExceptions = 5,
};

struct [[gnu::packed]] PollRecordHead {
  std::uint16_t status;
  std::uint8_t polled;
  std::uint8_t lock;                // guards the data areas
  std::uint8_t unused4;
  std::uint8_t exception_type;      // ExceptionType
  std::int32_t poll_time;           // 1/100 s, -100 = disabled
  std::int32_t access_time;         // 1/100 s, 17280100 = never expires
  std::uint16_t device_index;
  std::uint8_t reserved16[4];
  float dead_band;
  std::uint16_t dead_band_int;
  std::uint8_t reserved26[2];
  DataAreaRef areas[5];             // kinds 1..5
  std::uint16_t data_type;          // DataType
  std::uint16_t length;             // points (bit devices) or 16-bit registers
  std::uint8_t reserved62[8];
  std::uint32_t address_word;
  std::uint32_t extension;          // EX number for register type EX
  std::uint8_t reserved78[8];
};
inline constexpr std::size_t kPollRecordHeadSize = 86;
static_assert(sizeof(PollRecordHead) == kPollRecordHeadSize);
static_assert(offsetof(PollRecordHead, polled) == 2);
static_assert(offsetof(PollRecordHead, lock) == 3);
static_assert(offsetof(PollRecordHead, exception_type) == 5);
static_assert(offsetof(PollRecordHead, poll_time) == 6);
static_assert(offsetof(PollRecordHead, access_time) == 10);
static_assert(offsetof(PollRecordHead, device_index) == 14);
static_assert(offsetof(PollRecordHead, dead_band) == 20);
static_assert(offsetof(PollRecordHead, dead_band_int) == 24);
static_assert(offsetof(PollRecordHead, areas) == 28);
static_assert(offsetof(PollRecordHead, areas) + 1 * sizeof(DataAreaRef) == 34);
static_assert(offsetof(PollRecordHead, areas) + 2 * sizeof(DataAreaRef) == 40);
static_assert(offsetof(PollRecordHead, areas) + 3 * sizeof(DataAreaRef) == 46);
static_assert(offsetof(PollRecordHead, areas) + 4 * sizeof(DataAreaRef) == 52);
static_assert(offsetof(PollRecordHead, data_type) == 58);
static_assert(offsetof(PollRecordHead, length) == 60);
static_assert(offsetof(PollRecordHead, address_word) == 70);
static_assert(offsetof(PollRecordHead, extension) == 74);

struct [[gnu::packed]] ExceptionEntry {
  std::uint8_t changed;
  std::uint8_t id;       // non-zero while a host client has registered the point
  std::uint16_t group;   // 0xFFFF: continues the preceding entry of a text item
};
inline constexpr std::uint16_t kGroupContinuation = 0xFFFF;
static_assert(sizeof(ExceptionEntry) == 4);

struct MessageRingEntry {
  std::uint16_t colour;
  std::uint16_t length;
  char text[124];        // at most 123 characters and a NUL
};
inline constexpr int kMessageRingEntries = 64;
inline constexpr std::size_t kMessageRingTextMax = 123;
static_assert(sizeof(MessageRingEntry) == 128);

enum Command : std::uint16_t { kCommandRun = 1, kCommandStop = 2, kCommandExit = 3 };
enum State : std::uint16_t {
  kStateNotStarted = 0, kStateRunning = 1, kStateStopped = 2, kStateExited = 3,
};

struct PointerBlock {
  std::uint16_t unused0;                 // 1
  std::uint16_t command;                 // Command; clients and the poller's console
  std::uint16_t state;                   // State; poller
  std::uint16_t reserved6;
  std::uint32_t alive_counter;           // poller: +1 every tick, 0 at exit
  std::int32_t client_usage_countdown;   // 10 ms ticks; clients reload, poller counts down
  std::uint32_t loaded_generation;       // poller
  std::uint32_t map_generation;          // poller: 1, 2, 3, 1, ...
  std::uint32_t reserved24;
  std::uint32_t client_count;            // interlocked
  char image_name[8];
  char config_path[128];
  std::uint32_t ring_next;               // 0..63: next entry; advanced only after the entry is written
  std::uint32_t ring_writer;             // process id of the ring's writer, 0 when free
  std::uint32_t ring_started;            // entries whose writing began, for readers to see laps
  std::uint32_t ring_enabled;
  std::uint32_t file_log;
  MessageRingEntry ring[kMessageRingEntries];
};
inline constexpr std::size_t kPointerBlockSize = 8380;
inline constexpr std::int32_t kClientUsageTicks = 1000;
inline constexpr std::int32_t kInitialClientUsageTicks = 2000;
static_assert(sizeof(PointerBlock) == kPointerBlockSize);
static_assert(offsetof(PointerBlock, command) == 2);
static_assert(offsetof(PointerBlock, state) == 4);
static_assert(offsetof(PointerBlock, alive_counter) == 8);
static_assert(offsetof(PointerBlock, client_usage_countdown) == 12);
static_assert(offsetof(PointerBlock, loaded_generation) == 16);
static_assert(offsetof(PointerBlock, map_generation) == 20);
static_assert(offsetof(PointerBlock, client_count) == 28);
static_assert(offsetof(PointerBlock, image_name) == 32);
static_assert(offsetof(PointerBlock, config_path) == 40);
static_assert(offsetof(PointerBlock, ring_next) == 168);
static_assert(offsetof(PointerBlock, ring_writer) == 172);
static_assert(offsetof(PointerBlock, ring_started) == 176);
static_assert(offsetof(PointerBlock, ring_enabled) == 180);
static_assert(offsetof(PointerBlock, file_log) == 184);
static_assert(offsetof(PointerBlock, ring) == 188);

// Sizes of data areas 1..5 of a poll record, from its register type, length and exception type.
struct AreaSizes {
  std::uint16_t size[5];
  std::uint32_t total() const {
    return std::uint32_t{size[0]} + size[1] + size[2] + size[3] + size[4];
  }
};

constexpr AreaSizes area_sizes(RegisterType type, std::uint32_t length, ExceptionType exception) {
  std::uint32_t values = 0;
  std::uint32_t exceptions = 0;
  if (is_word_device(type)) {
    values = 2 * length;
    switch (exception) {
      case ExceptionType::Digital: exceptions = 64 * length; break;
      case ExceptionType::Analog:
      case ExceptionType::Ascii: exceptions = 4 * length; break;
      case ExceptionType::Disabled: exceptions = 0; break;
    }
  } else {
    if (type == RegisterType::M && length % 16 != 0) {
      std::uint32_t t = length / 8 + 1;
      t += t % 2;
      values = (length / 16) * 2 + t;
    } else {
      values = (length / 16) * 2 + 1;
    }
    exceptions = exception == ExceptionType::Digital ? 4 * length : 0;
  }
  return AreaSizes{{static_cast<std::uint16_t>(values), static_cast<std::uint16_t>(values),
                    static_cast<std::uint16_t>(values), 0, static_cast<std::uint16_t>(exceptions)}};
}
static_assert(area_sizes(RegisterType::X, 16, ExceptionType::Digital).size[0] == 3);
static_assert(area_sizes(RegisterType::X, 16, ExceptionType::Digital).size[4] == 64);

}  // namespace hbt::image
