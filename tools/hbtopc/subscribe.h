// The two ways hbtopc subscribes: the IOPCDataCallback connection point (DA 2.0/3.0) and the
// DA 1.0 IDataObject advise with its streams.
#pragma once

#include <memory>
#include <string>

#include "item_group.h"
#include "subscription_printer.h"

namespace hbt::hbtopc {

// A running subscription; destroying it unadvises.
class Subscription {
 public:
  virtual ~Subscription() = default;
};

std::unique_ptr<Subscription> subscribe_callback(ItemGroup& group, std::shared_ptr<SubscriptionPrinter> printer,
                                                 std::string* error);
std::unique_ptr<Subscription> subscribe_da1(ItemGroup& group, std::shared_ptr<SubscriptionPrinter> printer,
                                            std::string* error);

}  // namespace hbt::hbtopc
