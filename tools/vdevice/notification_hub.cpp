#include "notification_hub.h"

#include <map>
#include <mutex>

namespace vdevice {

namespace {

struct Subscription {
  std::string udid;
  NotificationHub::Listener listener;
};

struct HubState {
  std::mutex mutex;
  std::map<uint64_t, Subscription> subscriptions;
  uint64_t next_token = 1;
};

HubState& State() {
  static HubState* state = new HubState();
  return *state;
}

}  // namespace

void NotificationHub::Post(const std::string& udid, const std::string& name) {
  std::lock_guard<std::mutex> lock(State().mutex);
  for (auto& [token, subscription] : State().subscriptions) {
    if (subscription.udid == udid) subscription.listener(name);
  }
}

uint64_t NotificationHub::Subscribe(const std::string& udid, Listener listener) {
  std::lock_guard<std::mutex> lock(State().mutex);
  uint64_t token = State().next_token++;
  State().subscriptions.emplace(token, Subscription{udid, std::move(listener)});
  return token;
}

void NotificationHub::Unsubscribe(uint64_t token) {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().subscriptions.erase(token);
}

}  // namespace vdevice
