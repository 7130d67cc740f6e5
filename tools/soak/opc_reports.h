// What the subscribing OPC client (`hbtopc --json subscribe`) prints, read back as reports:
// one per item in each data change, in the order the client received them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hbt::soak {

constexpr int kQualityGood = 0xC0;

struct OpcReport {
  int item = -1;             // position in the subscribed item list
  double received_ms = 0;    // monotonic, stamped by the client when the callback came
  int quality = 0;
  bool register_value = false;  // the value is a whole number a 16-bit register can hold
  std::uint16_t value = 0;
  std::string value_text;    // as printed, for the details of a violation
  bool good() const { return (quality & 0xC0) == kQualityGood; }
};

class OpcReportReader {
 public:
  explicit OpcReportReader(std::vector<std::string> items) : items_(std::move(items)) {}

  // Takes printed output in any pieces; every complete data line becomes a report. Lines that
  // are neither data nor keep-alives (a refused item, a malformed change report, an error of
  // the client) are kept as problems.
  void feed(const std::string& text, std::vector<OpcReport>* out);

  const std::vector<std::string>& problems() const { return problems_; }

 private:
  void line(const std::string& text, std::vector<OpcReport>* out);
  void problem(const std::string& text);

  std::vector<std::string> items_;
  std::string partial_;
  std::vector<std::string> problems_;
};

}  // namespace hbt::soak
