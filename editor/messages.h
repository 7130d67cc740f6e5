// The editor's message texts (its string table) and the result type of every setter:
// a message number (0 = accepted) and the text that would be shown for it.
#pragma once

#include <string>
#include <string_view>

namespace hbt::editor {

enum MessageId : int {
  kMsgNone = 0,
  // Addresses and poll records.
  kMsgInvalidRegisterType = 101,
  kMsgIncorrectFormat,
  kMsgUseHexadecimal,
  kMsgUseDecimal,
  kMsgRangeHex,
  kMsgRangeM,
  kMsgRange,
  kMsgStartAddressFirst,
  kMsgStartBeforeEnd,
  kMsgInvalidLength,
  kMsgMustBeDigital,
  kMsgInvalidDataTypeForAddress,
  kMsgAddressAlreadyDefined,
  kMsgInvalidPollTime,
  kMsgInvalidAccessTime,
  kMsgExceptionBasedAccess,
  kMsgDeadbandNegative,
  kMsgDeadbandInvalid,
  kMsgDataTypeInvalid,
  kMsgExceptionInvalid,
  // Channels.
  kMsgInvalidReplyTimeout = 201,
  kMsgInvalidDelay,
  kMsgInvalidRetry,
  kMsgInvalidBaud,
  kMsgInvalidDataBits,
  kMsgInvalidParity,
  kMsgInvalidFlowControl,
  kMsgInvalidStopBits,
  kMsgInvalidDisplayAlarm,
  kMsgInvalidIpAddress,
  kMsgInvalidIpPort,
  kMsgInvalidPort,
  // Devices.
  kMsgDeviceNameCharacters = 301,
  kMsgDeviceNameExistsDialog,
  kMsgDeviceNameExists,
  kMsgDeviceNameTooLong,
  kMsgDeviceNameForbidden,
  kMsgDescriptionTooLong,
  kMsgEnterNumber,
  kMsgInvalidPlcAddress,
  kMsgDeleteDevice,
  kMsgInvalidCpuType,
  kMsgInvalidProtocol,
  kMsgDeviceNameEmpty,
  // Configuration file.
  kMsgFileOpenError = 401,
  kMsgOlderFileFormat,
  kMsgNewStartupFile,
  kMsgHostExpecting,
  kMsgInvalidFileType,
  kMsgModifiedSaveChanges,
  kMsgCannotOpenFile,
  kMsgCannotSaveFile,
  kMsgTooManyChannels,
  kMsgTooManyDevices,
  kMsgTooManyPollRecords,
  kMsgStartupNotRecorded,
  // CSV import and export.
  kMsgCsvDeviceNotFound = 501,
  kMsgCsvChannelNotFound,
  kMsgCsvIorecNotFound,
  kMsgCsvErrorsDetected,
  kMsgCsvMemory,
  kMsgCsvUnableToOpen,
  kMsgCsvDiskFull,
  kMsgCsvFieldNotFound,
  kMsgCsvLineTooLong,
  kMsgCsvWriteFailed,
  kMsgErrorFileFailed,
};

// The text of a message as stored, with its %1 / %2 / printf placeholders unfilled.
std::string_view message_text(MessageId id);

// Caption of the message boxes that carry a captioned message; "" for the default caption.
inline constexpr std::string_view kCaptionWarning = "Warning !";
inline constexpr std::string_view kCaptionCorrupt = "The Configuration file is corrupt, Please re-save";

struct Message {
  int id = kMsgNone;
  std::string text;
  bool ok() const { return id == kMsgNone; }
};

inline Message accepted() { return Message{}; }
// The message with its text as stored.
Message message(MessageId id);
// The message with "%1" (and "%2") replaced by the given texts.
Message message(MessageId id, std::string_view p1);
Message message(MessageId id, std::string_view p1, std::string_view p2);
// Replaces every "%1", "%2" in `pattern`.
std::string fill_placeholders(std::string_view pattern, std::string_view p1, std::string_view p2 = {});

}  // namespace hbt::editor
