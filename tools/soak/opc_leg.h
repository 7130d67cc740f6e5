// The OPC leg of the soak: the driver's OPC server registered in the soak's private registry
// and one client in a process of its own (`hbtopc --json subscribe`), as a SCADA node runs
// it: its own copy of the host library, its own threads, its own CPU to count.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "testsupport/child_process.h"
#include "tools/soak/opc_reports.h"

namespace hbt::soak {

class OpcLeg {
 public:
  OpcLeg(std::string dir, std::vector<std::string> item_ids, int update_rate_ms);
  ~OpcLeg();

  // Registers the server and starts the client; false with the reason when either fails.
  bool start(std::string* error);
  // The reports the client printed since the last call, in order.
  void collect(std::vector<OpcReport>* out);
  bool running();
  int pid() const;
  // Ends the client as Ctrl-C would and gives its exit code (-1 when it had to be killed).
  int stop();
  const OpcReportReader& reader() const { return reader_; }
  const std::string& output_tail() const { return tail_; }  // the last output, for a failure

 private:
  std::string dir_;
  std::vector<std::string> items_;
  int update_rate_ms_;
  OpcReportReader reader_;
  std::unique_ptr<testsupport::ChildProcess> client_;
  std::string tail_;
};

}  // namespace hbt::soak
