// hbtopc write ITEM VALUE [--async]: the text is turned into the item's canonical type and
// written with IOPCSyncIO::Write, or with IOPCAsyncIO2::Write and its OnWriteComplete.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "arguments.h"
#include "commands.h"
#include "data_callback.h"
#include "item_group.h"
#include "value_output.h"
#include "values.h"

namespace hbt::hbtopc {

namespace {

constexpr auto kCompletionWait = std::chrono::seconds(10);

// What OnWriteComplete reports, shared with the sink: the server may hold the sink past the
// end of the call that made it.
struct Completion {
  std::mutex mutex;
  std::condition_variable done;
  bool completed = false;
  HRESULT result = E_FAIL;

  void complete(HRESULT r) {
    std::lock_guard lock(mutex);
    if (completed) return;
    result = r;
    completed = true;
    done.notify_all();
  }
};

// The asynchronous write: result of the call and of the item as OnWriteComplete reports it.
HRESULT write_async(ItemGroup& group, OPCHANDLE handle, VARIANT* value, HRESULT* item_result, std::string* error) {
  IOPCAsyncIO2* async = group.query<IOPCAsyncIO2>(IID_IOPCAsyncIO2, "IOPCAsyncIO2", error);
  if (async == nullptr) return E_NOINTERFACE;
  constexpr DWORD kTransaction = 1;
  auto completion = std::make_shared<Completion>();
  auto* sink = new DataCallback;
  sink->on_write_complete = [completion](const WriteCompletion& c) {
    if (c.transaction == kTransaction) completion->complete(c.count == 1 && c.errors != nullptr ? c.errors[0] : E_FAIL);
  };
  CallbackConnection connection;
  IUnknown* group_unknown = nullptr;
  HRESULT hr = async->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&group_unknown));
  if (SUCCEEDED(hr)) {
    hr = connection.connect(group_unknown, sink);
    group_unknown->Release();
  }
  if (FAILED(hr)) {
    *error = "cannot connect the write-complete callback";
  } else {
    DWORD cancel_id = 0;
    HRESULT* errors = nullptr;
    hr = async->Write(1, &handle, value, kTransaction, &cancel_id, &errors);
    // A refused item never completes: its result is the call's answer.
    if (errors != nullptr && FAILED(errors[0])) completion->complete(errors[0]);
    CoTaskMemFree(errors);
    std::unique_lock lock(completion->mutex);
    if (SUCCEEDED(hr) || completion->completed) {
      if (!completion->done.wait_for(lock, kCompletionWait, [&] { return completion->completed; })) {
        *error = "no OnWriteComplete within 10 s";
        hr = E_FAIL;
      }
    }
    *item_result = completion->result;
  }
  connection.disconnect();
  sink->Release();
  async->Release();
  return hr;
}

}  // namespace

int cmd_write(const Options& options, const std::vector<std::string>& args) {
  CommandArguments a;
  std::string error;
  if (!parse_arguments(args, {}, {"--async"}, &a, &error)) return command_usage_error("write", error);
  if (a.positional.size() != 2) return command_usage_error("write", "write needs an item ID and a value");
  const std::string& id = a.positional[0];
  const std::string& text = a.positional[1];

  Session session;
  if (!session.connect(options.server, &error)) return failure(error);
  ItemGroup group(session);
  if (!group.create({}, {id}, &error)) return failure(error);
  const auto& item = group.items()[0];
  if (FAILED(item.added)) {
    ItemValue v;
    v.item = id;
    v.result = item.added;
    v.has_timestamp = false;
    print_value(options, session, v);
    return 1;
  }
  // A value given as a list (brackets or commas) is an array of the item's element type,
  // whether or not the server names the item an array, except for text items, whose text may
  // hold commas; a single value is written as one.
  VARTYPE type = item.canonical;
  const bool list = text.find(',') != std::string::npos || text.find('[') != std::string::npos;
  if ((type & VT_TYPEMASK) != VT_BSTR && type != VT_EMPTY) type = list ? type | VT_ARRAY : type & ~VT_ARRAY;
  VARIANT value;
  if (!parse_value(text, type, &value, &error))
    return failure("cannot write " + id + " (" + vartype_name(type) + "): " + error);

  HRESULT item_result = E_FAIL;
  HRESULT hr = S_OK;
  OPCHANDLE handle = item.server_handle;
  if (a.has("--async")) {
    hr = write_async(group, handle, &value, &item_result, &error);
    if (FAILED(hr) && !error.empty()) {
      VariantClear(&value);
      return failure(error + " (" + session.error_text(hr) + ")");
    }
  } else {
    IOPCSyncIO* sync = group.query<IOPCSyncIO>(IID_IOPCSyncIO, "IOPCSyncIO", &error);
    if (sync == nullptr) {
      VariantClear(&value);
      return failure(error);
    }
    HRESULT* errors = nullptr;
    hr = sync->Write(1, &handle, &value, &errors);
    item_result = errors != nullptr ? errors[0] : hr;
    CoTaskMemFree(errors);
    sync->Release();
  }
  const HRESULT result = FAILED(hr) && SUCCEEDED(item_result) ? hr : item_result;
  // A write has no quality or timestamp of its own: the line shows what was sent and the result.
  hbtio::JsonLine line;
  line.field("mode", a.has("--async") ? "async" : "sync")
      .field("item", id)
      .raw("value", variant_json(value))
      .field("type", vartype_name(value.vt))
      .field("result", hresult_hex(result))
      .field("error", session.error_text(result));
  print_line(options, line, id + " <- " + variant_text(value) + "  " + session.error_text(result));
  VariantClear(&value);
  return FAILED(result) ? 1 : 0;
}

}  // namespace hbt::hbtopc
