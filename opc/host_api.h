// The host library entry points the OPC server calls. HBTOPC.so fills the table with the
// nio_* exports of HBTSTSR.so; tests fill it with a host library of their own.
#pragma once

#include <cstdint>

#include "opc/com_base.h"
#include "hostlib/nio_types.h"

namespace hbt::opc {

using hostlib::NioAddress;
using hostlib::NioBlock;
using hostlib::NioDriverArea;
using hostlib::NioFormat;
using hostlib::NioStatus;

struct HostApi {
  NioStatus (*paddr)(NioStatus* status, NioBlock* block, NioFormat* format, const char* address) = nullptr;
  NioStatus (*psig)(NioStatus* status, NioBlock* block, NioFormat* format, const char* text) = nullptr;
  NioStatus (*popt)(NioStatus* status, NioBlock* block, NioFormat* format, const char* text) = nullptr;
  NioStatus (*readEx)(NioStatus* status, NioBlock* block, NioFormat* format, FILETIME* timestamp,
                      std::uint16_t* quality, std::int32_t count, VARIANT* value) = nullptr;
  NioStatus (*sendEx)(NioStatus* status, NioBlock* block, NioFormat* format, void* reserved, std::int32_t count,
                      VARIANT* value) = nullptr;
  // `vqt` is an OPCITEMVQT.
  NioStatus (*sendVQT)(NioStatus* status, NioBlock* block, NioFormat* format, std::int32_t count,
                       void* vqt) = nullptr;
  std::int32_t (*get_ServerStatus)(char* text, std::int32_t* changed) = nullptr;
  void (*SendMsg)(std::int16_t colour, const char* text) = nullptr;
  NioStatus (*CleanUp)(NioStatus* status) = nullptr;

  // The address space and the display texts of item properties.
  std::int32_t (*find_dev)(const char* device) = nullptr;
  NioStatus (*Enum_Devices)(NioStatus* status, std::int32_t* count, char** buffer) = nullptr;
  NioStatus (*Enum_PollRecs)(NioStatus* status, const char* device, std::int32_t* count, char** buffer) = nullptr;
  std::int32_t (*num_pollblocks)() = nullptr;
  void (*Free)(void* buffer) = nullptr;
  NioStatus (*daddr)(NioStatus* status, NioBlock* block, NioFormat* format, char* out, std::uint16_t size) = nullptr;
  NioStatus (*dsig)(NioStatus* status, NioBlock* block, NioFormat* format, char* out, std::uint16_t size) = nullptr;
  NioStatus (*dopt)(NioStatus* status, NioBlock* block, NioFormat* format, char* out, std::int16_t size) = nullptr;
};

}  // namespace hbt::opc
