#include "item_group.h"

namespace hbt::hbtopc {

ItemGroup::~ItemGroup() {
  if (group_ == nullptr) return;
  group_->Release();
  // Forced: a callback sink or enumerator the server still holds must not keep it alive.
  session_.server()->RemoveGroup(handle_, TRUE);
}

bool ItemGroup::create(const GroupSettings& settings, const std::vector<std::string>& ids, std::string* error) {
  float deadband = settings.percent_deadband;
  IUnknown* unknown = nullptr;
  HRESULT hr = session_.server()->AddGroup(u"", settings.active ? TRUE : FALSE, settings.update_rate, 0, nullptr,
                                           &deadband, LOCALE_SYSTEM_DEFAULT, &handle_, &revised_rate_,
                                           IID_IOPCItemMgt, &unknown);
  if (FAILED(hr) || unknown == nullptr) {
    *error = "AddGroup failed: " + session_.error_text(hr);
    return false;
  }
  group_ = static_cast<IOPCItemMgt*>(static_cast<void*>(unknown));
  std::vector<std::u16string> wide;
  for (const auto& id : ids) wide.push_back(widen(id));
  std::vector<OPCITEMDEF> defs(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    defs[i].szAccessPath = const_cast<LPWSTR>(u"");
    defs[i].szItemID = const_cast<LPWSTR>(wide[i].c_str());
    defs[i].bActive = TRUE;
    defs[i].hClient = static_cast<OPCHANDLE>(i);
    defs[i].vtRequestedDataType = VT_EMPTY;
  }
  items_.assign(ids.size(), Item{});
  for (std::size_t i = 0; i < ids.size(); ++i) items_[i].id = ids[i];
  if (ids.empty()) return true;
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  hr = group_->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors);
  if (FAILED(hr) || errors == nullptr) {
    for (auto& item : items_) item.added = FAILED(hr) ? hr : E_FAIL;
  } else {
    for (std::size_t i = 0; i < ids.size(); ++i) {
      items_[i].added = errors[i];
      if (SUCCEEDED(errors[i]) && results != nullptr) {
        items_[i].server_handle = results[i].hServer;
        items_[i].canonical = results[i].vtCanonicalDataType;
      }
      if (results != nullptr) CoTaskMemFree(results[i].pBlob);
    }
  }
  CoTaskMemFree(results);
  CoTaskMemFree(errors);
  return true;
}

std::vector<OPCHANDLE> ItemGroup::added_handles() const {
  std::vector<OPCHANDLE> out;
  for (const auto& item : items_)
    if (SUCCEEDED(item.added)) out.push_back(item.server_handle);
  return out;
}

std::vector<std::size_t> ItemGroup::added_positions() const {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (SUCCEEDED(items_[i].added)) out.push_back(i);
  return out;
}

}  // namespace hbt::hbtopc
