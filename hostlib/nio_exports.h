// The exports of HBTSTSR, as a host or the OPC server calls them. Every per-point export
// sets the caller's status word and also returns it.
#pragma once

#include <cstdint>

#include "com/filetime.h"
#include "com/variant.h"
#include "hostlib/nio_types.h"

// The library is built with hidden visibility; only these names are its interface.
#define NIO_EXPORT __attribute__((visibility("default")))

extern "C" {

using hbt::hostlib::NioBlock;
using hbt::hostlib::NioEventId;
using hbt::hostlib::NioFormat;
using hbt::hostlib::NioStatus;
using hbt::hostlib::NioValue;

// Addresses.
NIO_EXPORT NioStatus nio_paddr(NioStatus* status, NioBlock* block, NioFormat* format, const char* address);
NIO_EXPORT NioStatus nio_daddr(NioStatus* status, NioBlock* block, NioFormat* format, char* out, std::uint16_t size);

// Reads and exception reporting.
NIO_EXPORT NioStatus nio_read(NioStatus* status, NioBlock* block, NioFormat* format, NioValue* value);
NIO_EXPORT NioStatus nio_readEx(NioStatus* status, NioBlock* block, NioFormat* format, hbt::com::FILETIME* timestamp,
                     std::uint16_t* quality, std::int32_t count, hbt::com::VARIANT* value);
NIO_EXPORT std::int16_t nio_enable_options(void* reserved, std::int16_t options);
NIO_EXPORT NioStatus nio_on(NioStatus* status, NioBlock* block, NioFormat* format, NioEventId* event, std::int16_t length);
NIO_EXPORT NioStatus nio_off(NioStatus* status, NioBlock* block, NioFormat* format, NioEventId* event);
NIO_EXPORT NioStatus nio_fetch(NioStatus* status, void* reserved, NioEventId* events, std::int16_t capacity, std::int16_t* count);

// Writes. A write that was made sets the status word to 0; its result word is 0, or 4292 (the
// value status of a value outside its range) when the value had to be changed to fit: held at
// the edge of the registers' range, or a text cut to its length or to the record.
NIO_EXPORT NioStatus nio_send(NioStatus* status, NioBlock* block, NioFormat* format, NioValue* value);
NIO_EXPORT NioStatus nio_sendEx(NioStatus* status, NioBlock* block, NioFormat* format, void* reserved, std::int32_t count,
                     hbt::com::VARIANT* value);
// `vqt` points at an OPCITEMVQT, whose first member is the VARIANT; nothing after it is read.
NIO_EXPORT NioStatus nio_sendVQT(NioStatus* status, NioBlock* block, NioFormat* format, std::int32_t count, void* vqt);

// Signal conditioning and hardware options.
NIO_EXPORT NioStatus nio_psig(NioStatus* status, NioBlock* block, NioFormat* format, const char* text);
NIO_EXPORT NioStatus nio_dsig(NioStatus* status, NioBlock* block, NioFormat* format, char* out, std::uint16_t size);
NIO_EXPORT NioStatus nio_EnumSigCond(NioStatus* status, std::uint32_t* count, std::uint32_t* bytes, char* buffer);
NIO_EXPORT NioStatus nio_SigCondSize(NioStatus* status, std::uint32_t* bytes);
NIO_EXPORT NioStatus nio_popt(NioStatus* status, NioBlock* block, NioFormat* format, const char* text);
NIO_EXPORT NioStatus nio_dopt(NioStatus* status, NioBlock* block, NioFormat* format, char* out, std::int16_t size);
NIO_EXPORT NioStatus nio_EnumOptions(NioStatus* status, std::uint32_t* count, std::uint32_t* bytes, char* buffer);
NIO_EXPORT NioStatus nio_OptionsSize(NioStatus* status, std::uint32_t* bytes);

// Enumeration, status and statistics.
NIO_EXPORT NioStatus nio_Enum_Devices(NioStatus* status, std::int32_t* count, char** buffer);
NIO_EXPORT NioStatus nio_Enum_PollRecs(NioStatus* status, const char* device, std::int32_t* count, char** buffer);
NIO_EXPORT void nio_Free(void* buffer);
NIO_EXPORT std::int32_t nio_find_dev(const char* device);
NIO_EXPORT std::int32_t nio_num_pollblocks();
NIO_EXPORT std::uint16_t nio_get_Watchdog();
NIO_EXPORT std::int32_t nio_get_ServerStatus(char* text, std::int32_t* changed);
NIO_EXPORT NioStatus nio_read_stats(NioStatus* status, void* reserved, std::int16_t channel, std::int16_t* selector,
                         std::uint8_t* block);
NIO_EXPORT NioStatus nio_reset_stats(NioStatus* status, void* reserved, std::int16_t channel);
NIO_EXPORT void nio_SendMsg(std::int16_t colour, const char* text);

// Entry points the host's driver interface requires and this driver has nothing to do in.
NIO_EXPORT NioStatus nio_CleanUp(NioStatus* status);
NIO_EXPORT NioStatus nio_getsub(NioStatus* status);
NIO_EXPORT NioStatus nio_reset(NioStatus* status);
NIO_EXPORT NioStatus nio_tick_enable(NioStatus* status);
NIO_EXPORT NioStatus nio_tick_disable(NioStatus* status);
NIO_EXPORT void nio_tick();
NIO_EXPORT void nio_reload_dit();

}  // extern "C"
