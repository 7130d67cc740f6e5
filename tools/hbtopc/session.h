// A connection to an OPC DA server through the COM runtime: the apartment, the server made
// from its ProgID or class identifier, and the texts a person reads (error texts, type names).
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "objbase.h"
#include "opcda.h"

namespace hbt::hbtopc {

// How long read, props and subscribe give a new server to see the poller alive.
constexpr int kRunningWaitMs = 2000;

class Session {
 public:
  Session();   // enters the multithreaded apartment
  ~Session();  // releases the server, leaves the apartment
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Makes the server named by a ProgID or "{CLSID}"; false with *error set when it fails.
  bool connect(const std::string& server, std::string* error);
  IOPCServer* server() const { return server_; }

  // A new server judges the poller alive only from its own poll cycles, and until it has seen
  // the watchdog move it reports every value as out of service. Waits (up to `timeout_ms`)
  // until the server says it is running; false when it never did (the poller is away).
  bool wait_until_running(int timeout_ms);

  // The server's own text for a result code, or the code in hexadecimal. Texts are asked for
  // once per code: callbacks print many lines with the same few results.
  std::string error_text(HRESULT code);

 private:
  std::mutex texts_mutex_;
  std::map<HRESULT, std::string> texts_;
  bool initialised_ = false;
  IOPCServer* server_ = nullptr;
};

std::string hresult_hex(HRESULT code);
std::string narrow(const OLECHAR* text);
std::u16string widen(const std::string& text);
std::string vartype_name(VARTYPE vt);
std::string filetime_text(const FILETIME& t);
std::string guid_string(const GUID& g);

}  // namespace hbt::hbtopc
