// String table of the editor.
#include "editor/messages.h"

namespace hbt::editor {

std::string_view message_text(MessageId id) {
  switch (id) {
    case kMsgNone: return "";
    case kMsgInvalidRegisterType: return "Invalid Register Type";
    case kMsgIncorrectFormat: return "Invalid Address - Incorrect format.";
    case kMsgUseHexadecimal: return "Invalid address, use HEXADECIMAL for this Register Type";
    case kMsgUseDecimal: return "Invalid address, use DECIMAL for this Register Type";
    case kMsgRangeHex: return "\rAddress is out of range\n\r(Valid Range is %lu to %lx)\n";
    case kMsgRangeM: return "\rAddress is out of range\n\r(Valid Ranges: %lu to %lu or %lu to %lu)\n";
    case kMsgRange: return "\rAddress is out of range\n\r(Valid Range is %lu to %lu)\n";
    case kMsgStartAddressFirst:
      return "A Start Address must be entered before an End Address or Length";
    case kMsgStartBeforeEnd: return "Start Address must be before End Address";
    case kMsgInvalidLength: return "Invalid Length\n\r[Valid Range 1 - %1]";
    case kMsgMustBeDigital: return "Data Type must be Digital for this Memory Address";
    case kMsgInvalidDataTypeForAddress: return "Invalid Data Type for this Register Address";
    case kMsgAddressAlreadyDefined: return "Address already defined in Poll Record %1";
    case kMsgInvalidPollTime: return "Invalid Poll Time (Valid Range %1 - %2)";
    case kMsgInvalidAccessTime: return "Invalid Access Time (Valid Range %1 - %2)\nOr \"Disabled\"";
    case kMsgExceptionBasedAccess:
      return "Invalid for exception based poll record\n\n(Valid entry: DISABLED)";
    case kMsgDeadbandNegative: return "Deadband can't be negative";
    case kMsgDeadbandInvalid: return "DEAD BAND specified is invalid.";
    case kMsgDataTypeInvalid: return "DATA TYPE specified is valid.";
    case kMsgExceptionInvalid: return "EXCEPTION specified is invalid";
    case kMsgInvalidReplyTimeout: return "Invalid Reply Timeout Value (Valid Range %1 - %2)";
    case kMsgInvalidDelay: return "Invalid Delay Value (Valid Range %1 - %2)";
    case kMsgInvalidRetry: return "Invalid Retry Value (Valid Range %1 - %2)";
    case kMsgInvalidBaud: return "Invalid BAUD RATE specified.";
    case kMsgInvalidDataBits: return "Invalid DATA BITS specified.";
    case kMsgInvalidParity: return "Invalid PARITY specified.";
    case kMsgInvalidFlowControl: return "Invalid FLOW CONTROL specified.";
    case kMsgInvalidStopBits: return "Invalid STOP BITS specified.";
    case kMsgInvalidDisplayAlarm: return "Invalid DISPLAY ALARM specified.";
    case kMsgInvalidIpAddress: return "Invalid IP ADDRESS specified.";
    case kMsgInvalidIpPort: return "Invalid IP PORT specified.";
    case kMsgInvalidPort: return "Invalid PORT specified.";
    case kMsgDeviceNameCharacters:
      return "Device name must contain only alphanumeric characters or '-' ,'_'";
    case kMsgDeviceNameExistsDialog: return "Device Name Already Exists";
    case kMsgDeviceNameExists: return "Device Name already Exists";
    case kMsgDeviceNameTooLong: return "DEVICE NAME is more than the maximum length.";
    case kMsgDeviceNameEmpty: return "A PLC name must be entered.";
    case kMsgDeviceNameForbidden:
      return "The devicename may not include any of the following characters \":,|&\"";
    case kMsgDescriptionTooLong: return "DEVICE DESCRIPTION is more than the maximum length.";
    case kMsgEnterNumber: return "Please enter a number.";
    case kMsgInvalidPlcAddress: return "Invalid plc address, valid range %1 - %2 or 255";
    case kMsgDeleteDevice:
      return "This will delete the Device and all associated Poll Records.\n\r\n\rDo You Wish to "
             "Continue?";
    case kMsgInvalidCpuType: return "CPU TYPE specified is invalid.";
    case kMsgInvalidProtocol: return "PROTOCOL TYPE specified is invalid.";
    case kMsgFileOpenError: return "File Open Error";
    case kMsgOlderFileFormat: return "Older File Format, Please save & re-open";
    case kMsgNewStartupFile:
      return "You are Saving to %s\nThe Driver is starting up with %s\nDo You wish to make this "
             "the new Startup file ?";
    case kMsgHostExpecting:
      return "You are Saving to %s\niFix is expecting %s\niFix expects \\PDB\\<nodename>.XXX";
    case kMsgInvalidFileType: return "Invalid File Type specified.";
    case kMsgModifiedSaveChanges:
      return "The I/O Driver Configuration has been modified but not saved. \n\rSave changes? "
             "(Selecting NO will result in changes being discarded.)";
    case kMsgCannotOpenFile: return "Unable to open %1\n%2";
    case kMsgCannotSaveFile: return "Unable to save %1\n%2";
    case kMsgTooManyChannels:
      return "Save refused: %1 channels, the driver accepts at most %2.";
    case kMsgTooManyDevices:
      return "Save refused: %1 devices with poll records, the file holds at most %2.";
    case kMsgTooManyPollRecords:
      return "Save refused: %1 poll records, the driver accepts at most %2.";
    case kMsgStartupNotRecorded: return "Unable to record %1 as the Startup file.";
    case kMsgCsvDeviceNotFound: return "DEVICE NAME  not found. Line ignored!";
    case kMsgCsvChannelNotFound: return "CHANNEL NUMBER not found. Line ignored!";
    case kMsgCsvIorecNotFound: return "IOREC Number not found. Line ignored.";
    case kMsgCsvErrorsDetected: return "%1 Errors detected during import. Errors reported to file %2";
    case kMsgCsvMemory: return "Fatal error: Memory allocation failed.";
    case kMsgCsvUnableToOpen: return "Unable to open file. Please Check file attributes. ";
    case kMsgCsvDiskFull: return "Save Failed. Disk Full.";
    case kMsgCsvFieldNotFound: return "%1 not found. Line ignored!";
    case kMsgCsvLineTooLong: return "Line is longer than %1 characters. Line ignored!";
    case kMsgCsvWriteFailed: return "Save Failed. %1";
    case kMsgErrorFileFailed: return "Import errors could not be written to file %1";
  }
  return "";
}

std::string fill_placeholders(std::string_view pattern, std::string_view p1, std::string_view p2) {
  std::string out;
  out.reserve(pattern.size() + p1.size() + p2.size());
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && (pattern[i + 1] == '1' || pattern[i + 1] == '2')) {
      out += pattern[i + 1] == '1' ? p1 : p2;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

Message message(MessageId id) { return Message{id, std::string(message_text(id))}; }

Message message(MessageId id, std::string_view p1) {
  return Message{id, fill_placeholders(message_text(id), p1)};
}

Message message(MessageId id, std::string_view p1, std::string_view p2) {
  return Message{id, fill_placeholders(message_text(id), p1, p2)};
}

}  // namespace hbt::editor
