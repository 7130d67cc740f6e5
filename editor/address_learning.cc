#include "editor/address_learning.h"

#include <memory>
#include <string>

namespace hbt::editor {

LearnResult learn_address(CDidDoc& doc, std::string_view text) {
  std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return {};
  auto* device = dynamic_cast<CDrvSpecificDevice*>(doc.find_device(text.substr(0, colon)));
  if (device == nullptr) return {};
  std::string_view address = text.substr(colon + 1);
  while (!address.empty() && (address.back() == ' ' || address.back() == '\r' || address.back() == '\n')) {
    address.remove_suffix(1);
  }

  // Judged without the overlap rule: an address inside a record is found below.
  auto learned = std::make_unique<CDrvSpecificIORec>();
  if (!learned->set_start_address(address).ok()) return {};
  std::uint32_t start = learned->start_address();
  std::uint32_t end = learned->end_address();
  learned->set_device(device);

  for (auto& other_ptr : device->iorecs()) {
    auto* other = static_cast<CDrvSpecificIORec*>(other_ptr.get());
    if (other->length() == 0 || other->overlap_kind() != learned->overlap_kind()) continue;
    if (start >= other->start_address() && end <= other->end_address()) {
      return {LearnResult::Inside, other};
    }
    if (start < other->start_address() && other->end_address() - start + 1 <= kLearnSpan) {
      if (other->set_start_address(learned->get_start_address()).ok()) {
        doc.set_modified(true);
        return {LearnResult::ExtendedDown, other};
      }
    }
    if (start > other->end_address() && start - other->end_address() < kLearnSpan) {
      std::uint32_t length = end - other->start_address() + 1;
      if (other->set_length(std::to_string(length)).ok()) {
        doc.set_modified(true);
        return {LearnResult::ExtendedUp, other};
      }
    }
  }
  // Rules of the device (CPU type) and of the records already there.
  auto checked = std::make_unique<CDrvSpecificIORec>();
  checked->set_device(device);
  if (!checked->set_start_address(address).ok()) return {};
  CIORec* added = device->add_iorec(std::move(checked));
  doc.set_modified(true);
  return {LearnResult::Appended, added};
}

}  // namespace hbt::editor
