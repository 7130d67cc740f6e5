// A private group of the commands that read, write and subscribe: added with the items the
// user named (client handle = position in that list), removed again when it goes.
#pragma once

#include <string>
#include <vector>

#include "session.h"

namespace hbt::hbtopc {

struct GroupSettings {
  bool active = true;
  DWORD update_rate = 1000;   // ms
  float percent_deadband = 0;
};

class ItemGroup {
 public:
  struct Item {
    std::string id;
    HRESULT added = E_FAIL;  // AddItems' result for this item
    OPCHANDLE server_handle = 0;
    VARTYPE canonical = VT_EMPTY;
  };

  explicit ItemGroup(Session& session) : session_(session) {}
  ~ItemGroup();
  ItemGroup(const ItemGroup&) = delete;
  ItemGroup& operator=(const ItemGroup&) = delete;

  // Adds the group and the items; false with *error when the group itself cannot be made.
  // Items the server refuses stay in items() with their result.
  bool create(const GroupSettings& settings, const std::vector<std::string>& ids, std::string* error);

  const std::vector<Item>& items() const { return items_; }
  DWORD revised_rate() const { return revised_rate_; }
  OPCHANDLE handle() const { return handle_; }
  // Server handles and positions of the items that were added.
  std::vector<OPCHANDLE> added_handles() const;
  std::vector<std::size_t> added_positions() const;

  // Another interface of the group; null (with *error naming it) when the server has none.
  template <typename Interface>
  Interface* query(REFIID iid, const char* name, std::string* error) {
    void* out = nullptr;
    if (FAILED(group_->QueryInterface(iid, &out)) || out == nullptr) {
      *error = std::string("the server's groups do not offer ") + name;
      return nullptr;
    }
    return static_cast<Interface*>(out);
  }

 private:
  Session& session_;
  IOPCItemMgt* group_ = nullptr;
  OPCHANDLE handle_ = 0;
  DWORD revised_rate_ = 0;
  std::vector<Item> items_;
};

}  // namespace hbt::hbtopc
