#include "opc/error_strings.h"

#include <cstdint>

namespace hbt::opc {
namespace {

struct Entry {
  std::uint32_t code;
  std::string_view text;
};

// Texts as clients of this server have always seen them, the duplicated filter text included;
// every code the server itself returns has one.
constexpr Entry kTable[] = {
    {0x00000000, "Operation Successful"},
    {0x00000001, "Non Fatal / Partial Error"},
    {0x0004000D, "The server does not support the requested data rate, but will use the closest available rate."},
    {0x0004000E, "The value passed to WRITE was accepted, but was clamped."},
    {0x0004000F, "The operation cannot be completed because the object still has references that exist."},
    {0x00048001, "Attempt to read inactive item"},
    {0x80004001, "Operation not implemented."},
    {0x80004002, "Interface not supported."},
    {0x80004003, "Invalid or NULL pointer."},
    {0x80004005, "Error. Operation failed."},
    {0x80010105, "The Server Threw an exception"},
    {0x80040004, "No previous connection."},
    {0x80040064, "Bad stream format."},
    {0x80040110, "Aggregation is not supported."},
    {0x80040111, "Class not available."},
    {0x80040200, "Callback Connection not established."},
    {0x80040201, "Connection limit exceeded. Request cancelled."},
    {0x80040202, "Cannot connect to interface."},
    {0x8007000E, "Not enough memory to complete the requested operation."},
    {0x80070057, "The value of one or more parameters was not valid."},
    {0xC0040001, "The server handle is invalid."},
    {0xC0040004, "Write operation failed due to a bad type."},
    {0xC0040005, "The requested operation cannot be done on a public group."},
    {0xC0040006, "The Items AccessRights do not allow the operation."},
    {0xC0040007, "The item is no longer available in the server address space."},
    {0xC0040008, "Item ID was invalid and not found."},
    {0xC0040009, "The Filter string was not valid."},
    {0xC004000A, "The Filter string was not valid."},
    {0xC004000B, "The value was out of range."},
    {0xC004000C, "A group is already defined with that name."},
    {0xC0040010, "The server's configuration file is an invalid format."},
    {0xC0040011, "The server could not locate the requested object."},
    {0xC0040203, "The server does not recognise the passed property ID."},
    // Codes of the DA 3.0 interfaces this server returns, in their published wording.
    {0xC0040400, "The item deadband has not been set for this item."},
    {0xC0040401, "The item does not support deadband."},
    {0xC0040403, "The continuation point is not valid."},
    {0xC0040406, "The server does not support writing of quality and/or timestamp."},
};

}  // namespace

std::optional<std::string_view> error_text(HRESULT code) {
  for (const Entry& e : kTable)
    if (e.code == static_cast<std::uint32_t>(code)) return e.text;
  return std::nullopt;
}

}  // namespace hbt::opc
