// hbtopc groups [NAME...]: adds the named groups ("" for a name the server makes up), lists
// every group of the connection, then removes what it added; each step is printed.
#include <cstdio>

#include "tools/hbtio/json.h"
#include "commands.h"
#include "session.h"

namespace hbt::hbtopc {

namespace {

std::string group_name(IUnknown* group) {
  IOPCGroupStateMgt* state = nullptr;
  if (FAILED(group->QueryInterface(IID_IOPCGroupStateMgt, reinterpret_cast<void**>(&state)))) return "";
  LPWSTR name = nullptr;
  state->GetState(nullptr, nullptr, &name, nullptr, nullptr, nullptr, nullptr, nullptr);
  std::string out = narrow(name);
  CoTaskMemFree(name);
  state->Release();
  return out;
}

}  // namespace

int cmd_groups(const Options& options, const std::vector<std::string>& names) {
  Session session;
  std::string error;
  if (!session.connect(options.server, &error)) {
    std::fprintf(stderr, "hbtopc: %s\n", error.c_str());
    return 1;
  }
  IOPCServer* server = session.server();
  struct Added {
    OPCHANDLE handle;
    IUnknown* group;
  };
  std::vector<Added> added;
  int exit_code = 0;
  auto report = [&](const char* action, const std::string& name, HRESULT hr, OPCHANDLE handle) {
    if (options.json) {
      hbtio::JsonLine()
          .field("action", action)
          .field("name", name)
          .field("handle", static_cast<std::int64_t>(handle))
          .field("result", hresult_hex(hr))
          .field("text", session.error_text(hr))
          .print();
    } else {
      std::printf("%-7s %-24s %s\n", action, name.c_str(), session.error_text(hr).c_str());
    }
  };
  for (const auto& name : names) {
    std::u16string wide = widen(name);
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    IUnknown* group = nullptr;
    HRESULT hr = server->AddGroup(wide.c_str(), TRUE, 1000, 0, nullptr, nullptr, LOCALE_SYSTEM_DEFAULT, &handle,
                                  &revised, IID_IUnknown, &group);
    report("add", SUCCEEDED(hr) ? group_name(group) : name, hr, handle);
    if (FAILED(hr)) {
      exit_code = 1;
      continue;
    }
    added.push_back({handle, group});
  }
  IEnumUnknown* all = nullptr;
  if (SUCCEEDED(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown, reinterpret_cast<LPUNKNOWN*>(&all)))) {
    IUnknown* group = nullptr;
    ULONG n = 0;
    while (all->Next(1, &group, &n) == S_OK && n == 1) {
      report("list", group_name(group), S_OK, 0);
      group->Release();
    }
    all->Release();
  }
  for (auto& a : added) {
    std::string name = group_name(a.group);
    a.group->Release();
    HRESULT hr = server->RemoveGroup(a.handle, FALSE);
    report("remove", name, hr, a.handle);
    if (FAILED(hr)) exit_code = 1;
  }
  return exit_code;
}

}  // namespace hbt::hbtopc
