#include "tools/soak/register_history.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace hbt::soak {

void RegisterHistory::catch_up() {
  std::ifstream in(path_, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset_));
  std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A line still being written stays for the next call.
  const std::size_t end = chunk.rfind('\n');
  if (end == std::string::npos) return;
  offset_ += end + 1;
  std::istringstream lines(chunk.substr(0, end + 1));
  std::string line;
  while (std::getline(lines, line)) {
    double t;
    char type[8];
    unsigned n, v;
    if (std::sscanf(line.c_str(), "%lf %7s %u %u", &t, type, &n, &v) != 4 || std::strcmp(type, "D") != 0) continue;
    add(t, n, static_cast<std::uint16_t>(v));
  }
}

void RegisterHistory::add(double t, std::uint32_t n, std::uint16_t v) {
  changes_[n].push_back({t, v});
  ++lines_;
}

bool RegisterHistory::held(std::uint32_t n, std::uint16_t v, double from, double to) const {
  auto it = changes_.find(n);
  if (it == changes_.end()) return v == 0;
  const auto& c = it->second;
  // The value at `from`: that of the last change before it (0 before any).
  auto first = std::upper_bound(c.begin(), c.end(), from, [](double t, const Change& x) { return t < x.t; });
  const std::uint16_t at_from = first == c.begin() ? 0 : std::prev(first)->v;
  if (at_from == v) return true;
  for (auto i = first; i != c.end() && i->t <= to; ++i)
    if (i->v == v) return true;
  return false;
}

bool RegisterHistory::became(std::uint32_t n, std::uint16_t v, double from) const {
  auto it = changes_.find(n);
  if (it == changes_.end()) return false;
  for (auto i = it->second.rbegin(); i != it->second.rend() && i->t >= from; ++i)
    if (i->v == v) return true;
  return false;
}

double RegisterHistory::last_held(std::uint32_t n, std::uint16_t v, double to) const {
  auto it = changes_.find(n);
  if (it == changes_.end()) return v == 0 ? to : -1;
  const auto& c = it->second;
  double until = to;
  for (auto i = c.rbegin(); i != c.rend(); ++i) {
    if (i->t > to) continue;
    if (i->v == v) return until;
    until = i->t;
  }
  return v == 0 ? until : -1;
}

std::uint16_t RegisterHistory::latest(std::uint32_t n) const {
  auto it = changes_.find(n);
  return it == changes_.end() || it->second.empty() ? 0 : it->second.back().v;
}

}  // namespace hbt::soak
