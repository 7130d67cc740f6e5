#include "tools/soak/opc_leg.h"

#include <signal.h>

#include "testsupport/mcsim_peer.h"

namespace hbt::soak {

OpcLeg::OpcLeg(std::string dir, std::vector<std::string> item_ids, int update_rate_ms)
    : dir_(std::move(dir)), items_(item_ids), update_rate_ms_(update_rate_ms), reader_(std::move(item_ids)) {}

OpcLeg::~OpcLeg() { stop(); }

bool OpcLeg::start(std::string* error) {
  // Registered by the same program an installer runs, so that the soak's own process never
  // loads a second copy of the host library.
  const auto reg = testsupport::run_program(
      {testsupport::bin_path("hbtregsvr"), "/s", std::string(HBT_LIB_DIR) + "/HBTOPC.so"}, 30000, dir_);
  if (reg.exit_code != 0) {
    *error = "hbtregsvr failed: " + reg.output;
    return false;
  }
  std::vector<std::string> argv = {testsupport::bin_path("hbtopc"), "--json", "subscribe"};
  argv.insert(argv.end(), items_.begin(), items_.end());
  argv.push_back("--rate");
  argv.push_back(std::to_string(update_rate_ms_));
  client_ = std::make_unique<testsupport::ChildProcess>(argv, false, dir_);
  if (client_->pid() <= 0) {
    *error = "cannot start hbtopc";
    return false;
  }
  return true;
}

void OpcLeg::collect(std::vector<OpcReport>* out) {
  if (!client_) return;
  const std::string text = client_->take_output();
  if (text.empty()) return;
  reader_.feed(text, out);
  tail_ += text;
  if (tail_.size() > 2000) tail_.erase(0, tail_.size() - 2000);
}

bool OpcLeg::running() { return client_ && client_->running(); }

int OpcLeg::pid() const { return client_ ? client_->pid() : -1; }

int OpcLeg::stop() {
  if (!client_) return -1;
  client_->kill_now(SIGTERM);
  auto code = client_->wait_exit(10000);
  if (!code) client_->kill_now();
  std::vector<OpcReport> rest;
  collect(&rest);
  client_.reset();
  return code.value_or(-1);
}

}  // namespace hbt::soak
