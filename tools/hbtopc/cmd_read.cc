// hbtopc read ITEM... [--device|--cache]: one synchronous read of the items (IOPCSyncIO::Read
// on a group of its own); items the server refuses are printed with the reason.
#include "arguments.h"
#include "commands.h"
#include "item_group.h"
#include "value_output.h"

namespace hbt::hbtopc {

int cmd_read(const Options& options, const std::vector<std::string>& args) {
  CommandArguments a;
  std::string error;
  if (!parse_arguments(args, {}, {"--device", "--cache"}, &a, &error)) return command_usage_error("read", error);
  if (a.positional.empty()) return command_usage_error("read", "read needs at least one item ID");
  if (a.has("--device") && a.has("--cache")) return command_usage_error("read", "--device and --cache exclude each other");
  const OPCDATASOURCE source = a.has("--cache") ? OPC_DS_CACHE : OPC_DS_DEVICE;

  Session session;
  if (!session.connect(options.server, &error)) return failure(error);
  session.wait_until_running(kRunningWaitMs);
  ItemGroup group(session);
  if (!group.create({}, a.positional, &error)) return failure(error);
  IOPCSyncIO* sync = group.query<IOPCSyncIO>(IID_IOPCSyncIO, "IOPCSyncIO", &error);
  if (sync == nullptr) return failure(error);

  std::vector<OPCHANDLE> handles = group.added_handles();
  std::vector<std::size_t> positions = group.added_positions();
  OPCITEMSTATE* states = nullptr;
  HRESULT* errors = nullptr;
  HRESULT hr = S_OK;
  if (!handles.empty()) hr = sync->Read(source, static_cast<DWORD>(handles.size()), handles.data(), &states, &errors);
  sync->Release();
  if (FAILED(hr)) return failure("Read failed: " + session.error_text(hr));

  int exit_code = 0;
  std::size_t next = 0;  // index into the read results
  for (std::size_t i = 0; i < group.items().size(); ++i) {
    const auto& item = group.items()[i];
    ItemValue v;
    v.item = item.id;
    if (next < positions.size() && positions[next] == i) {
      const OPCITEMSTATE& s = states[next];
      v.value = &s.vDataValue;
      v.quality = s.wQuality;
      v.timestamp = s.ftTimeStamp;
      v.result = errors[next];
      ++next;
    } else {
      v.result = item.added;
    }
    if (FAILED(v.result)) exit_code = 1;
    print_value(options, session, v);
  }
  if (states != nullptr)
    for (std::size_t k = 0; k < handles.size(); ++k) VariantClear(&states[k].vDataValue);
  CoTaskMemFree(states);
  CoTaskMemFree(errors);
  return exit_code;
}

}  // namespace hbt::hbtopc
