#include "session.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <ctime>

#include "com/bstr.h"
#include "com/filetime.h"

namespace hbt::hbtopc {

Session::Session() { initialised_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }

Session::~Session() {
  if (server_) server_->Release();
  if (initialised_) CoUninitialize();
}

bool Session::connect(const std::string& name, std::string* error) {
  if (!initialised_) {
    *error = "cannot initialise COM";
    return false;
  }
  std::u16string wide = widen(name);
  CLSID clsid{};
  HRESULT hr = CLSIDFromString(wide.c_str(), &clsid);
  if (FAILED(hr)) {
    *error = "no server is registered as " + name + " (" + hresult_hex(hr) + ")";
    return false;
  }
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, reinterpret_cast<void**>(&server_));
  if (FAILED(hr)) {
    server_ = nullptr;
    *error = "cannot start " + name + " (" + hresult_hex(hr) + ")";
    return false;
  }
  return true;
}

bool Session::wait_until_running(int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    OPCSERVERSTATUS* status = nullptr;
    bool running = false;
    if (SUCCEEDED(server_->GetStatus(&status)) && status != nullptr) {
      running = status->dwServerState == OPC_STATUS_RUNNING;
      CoTaskMemFree(status->szVendorInfo);
      CoTaskMemFree(status);
    }
    if (running) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string Session::error_text(HRESULT code) {
  {
    std::lock_guard lock(texts_mutex_);
    auto known = texts_.find(code);
    if (known != texts_.end()) return known->second;
  }
  LPWSTR text = nullptr;
  std::string out = hresult_hex(code);
  if (server_ && SUCCEEDED(server_->GetErrorString(code, LOCALE_SYSTEM_DEFAULT, &text)) && text) out = narrow(text);
  CoTaskMemFree(text);
  if (server_) {
    std::lock_guard lock(texts_mutex_);
    texts_.emplace(code, out);
  }
  return out;
}

std::string hresult_hex(HRESULT code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

std::string narrow(const OLECHAR* text) { return text ? com::utf8_from_utf16(text) : std::string(); }

std::u16string widen(const std::string& text) { return com::utf16_from_utf8(text); }

std::string vartype_name(VARTYPE vt) {
  static constexpr struct {
    VARTYPE vt;
    const char* name;
  } kNames[] = {
      {VT_EMPTY, "VT_EMPTY"}, {VT_NULL, "VT_NULL"}, {VT_I2, "VT_I2"}, {VT_I4, "VT_I4"}, {VT_R4, "VT_R4"},
      {VT_R8, "VT_R8"}, {VT_CY, "VT_CY"}, {VT_DATE, "VT_DATE"}, {VT_BSTR, "VT_BSTR"}, {VT_DISPATCH, "VT_DISPATCH"},
      {VT_ERROR, "VT_ERROR"}, {VT_BOOL, "VT_BOOL"}, {VT_VARIANT, "VT_VARIANT"}, {VT_UNKNOWN, "VT_UNKNOWN"},
      {VT_DECIMAL, "VT_DECIMAL"}, {VT_I1, "VT_I1"}, {VT_UI1, "VT_UI1"}, {VT_UI2, "VT_UI2"}, {VT_UI4, "VT_UI4"},
      {VT_I8, "VT_I8"}, {VT_UI8, "VT_UI8"}, {VT_INT, "VT_INT"}, {VT_UINT, "VT_UINT"},
  };
  const VARTYPE base_type = vt & VT_TYPEMASK;
  std::string base = "VT_" + std::to_string(base_type);
  for (const auto& known : kNames)
    if (known.vt == base_type) base = known.name;
  if (vt & VT_BYREF) base = "VT_BYREF|" + base;
  return (vt & VT_ARRAY) ? "VT_ARRAY|" + base : base;
}

std::string filetime_text(const FILETIME& t) { return com::iso8601_utc(t); }

std::string guid_string(const GUID& g) {
  OLECHAR text[40] = {};
  StringFromGUID2(g, text, 40);
  return narrow(text);
}

}  // namespace hbt::hbtopc
