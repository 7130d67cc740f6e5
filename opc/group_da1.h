// A group's DA 1.0 state: its IDataObject and IOPCAsyncIO tear-offs, the advise words of the
// data and data-with-time streams, the pending read and write transactions, and the change
// reports built during an update pass and sent once the group lock is released.
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <vector>

#include "opc/com_base.h"

namespace hbt::opc {

class COPCDrvAsyncTrans;
class CImpIDataObject;
class CImpIOPCAsyncIO;

// The three DA 1.0 stream formats, in the order of their clipboard format table.
enum Da1Format : int { kFormatData = 0, kFormatDataTime = 1, kFormatWriteComplete = 2 };
inline constexpr int kDa1FormatCount = 3;

struct Da1Report {
  Da1Format format;
  HGLOBAL block;
};

class GroupDa1 {
 public:
  GroupDa1();
  // Pending transactions and unsent reports go with the group; the tear-offs release the
  // client's sinks.
  ~GroupDa1();
  GroupDa1(const GroupDa1&) = delete;
  GroupDa1& operator=(const GroupDa1&) = delete;

  // Tear-offs, created under the group's tear-off lock. `data_object_seen` lets the poll
  // thread see the IDataObject without that lock; it is set once and lives with the group.
  std::unique_ptr<CImpIDataObject> data_object;
  std::atomic<CImpIDataObject*> data_object_seen{nullptr};
  std::unique_ptr<CImpIOPCAsyncIO> async_io;

  // advf of DAdvise for the data and data-with-time formats (ADVF_PRIMEFIRST is consumed by
  // the next change scan).
  std::atomic<DWORD> advise_words[2] = {0, 0};

  // Under the group lock.
  std::list<COPCDrvAsyncTrans*> reads;   // reads and refreshes
  std::list<COPCDrvAsyncTrans*> writes;
  std::vector<Da1Report> outbox;         // built in the update pass, sent after it
};

}  // namespace hbt::opc
