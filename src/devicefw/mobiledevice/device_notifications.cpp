// Device arrival and departure. libusbmuxd reports events on its own thread; each is turned into
// the host's callback record and posted to the CF run loop, so the host's callback runs on the
// thread inside CFRunLoopRun, in the order usbmuxd reported the events.
#include <usbmuxd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "common/guarded_call.h"
#include "devicefw/devicefw_exports.h"
#include "mobiledevice/device_registry.h"

struct am_device_notification {
  am_device_notification_callback callback = nullptr;
  void* cookie = nullptr;
  usbmuxd_subscription_context_t context = nullptr;
  std::atomic<bool> active{true};
  std::mutex mutex;
  // The attachments this subscription announced, by usbmuxd handle.
  std::unordered_map<uint32_t, AMDeviceRef> announced;
};

namespace devicefw::md {
namespace {

// Subscriptions that still receive usbmuxd events.
std::atomic<int> active_subscriptions{0};

// Every subscription ever made, kept for the life of the process (see AMDeviceNotificationSubscribe).
void KeepSubscription(AMDeviceNotificationRef subscription) {
  static std::mutex mutex;
  static auto* kept = new std::vector<AMDeviceNotificationRef>;
  std::lock_guard lock(mutex);
  kept->push_back(subscription);
}

struct PendingNotification {
  AMDeviceNotificationRef subscription;
  AMDeviceRef device;
  uint32_t message;
};

void Deliver(void* context) {
  std::unique_ptr<PendingNotification> pending(static_cast<PendingNotification*>(context));
  if (!pending->subscription->active.load()) return;
  am_device_notification_callback_info info{pending->device, pending->message, pending->subscription};
  pending->subscription->callback(&info, pending->subscription->cookie);
}

void Post(AMDeviceNotificationRef subscription, AMDeviceRef device, uint32_t message) {
  GuardedCall([&] {
    auto pending = std::make_unique<PendingNotification>(PendingNotification{subscription, device, message});
    if (KorRunLoopPost(Deliver, pending.get()) == 0) pending.release();
  });
}

DeviceAttachment AttachmentOf(const usbmuxd_device_info_t& info) {
  DeviceAttachment attachment;
  attachment.mux_handle = info.handle;
  attachment.udid.assign(info.udid, strnlen(info.udid, sizeof(info.udid)));
  attachment.interface_type = info.conn_type == CONNECTION_TYPE_NETWORK ? kAMDInterfaceNetwork : kAMDInterfaceUSB;
  return attachment;
}

// The device a subscription announced for this usbmuxd handle; `forget` drops it from the list.
AMDeviceRef AnnouncedDevice(AMDeviceNotificationRef subscription, uint32_t mux_handle, bool forget) {
  std::lock_guard lock(subscription->mutex);
  auto found = subscription->announced.find(mux_handle);
  if (found == subscription->announced.end()) return nullptr;
  AMDeviceRef device = found->second;
  if (forget) subscription->announced.erase(found);
  return device;
}

void OnMuxEvent(const usbmuxd_event_t* event, void* user_data) {
  auto* subscription = static_cast<AMDeviceNotificationRef>(user_data);
  if (event == nullptr || subscription == nullptr || !subscription->active.load()) return;
  const uint32_t mux_handle = event->device.handle;
  GuardedCall([&] {
    switch (event->event) {
      case UE_DEVICE_ADD: {
        AMDeviceRef device = DeviceForAttachment(AttachmentOf(event->device));
        {
          std::lock_guard lock(subscription->mutex);
          if (!subscription->announced.emplace(mux_handle, device).second) return;
        }
        Post(subscription, device, ADNCI_MSG_CONNECTED);
        break;
      }
      case UE_DEVICE_REMOVE: {
        AMDeviceRef device = AnnouncedDevice(subscription, mux_handle, true);
        DetachDevice(mux_handle);
        if (device != nullptr) Post(subscription, device, ADNCI_MSG_DISCONNECTED);
        break;
      }
      case UE_DEVICE_PAIRED: {
        AMDeviceRef device = AnnouncedDevice(subscription, mux_handle, false);
        if (device != nullptr) Post(subscription, device, ADNCI_MSG_TRUSTED);
        break;
      }
      default:
        break;
    }
  });
}

}  // namespace
}  // namespace devicefw::md

extern "C" {

// The subscription object is kept for the life of the process: usbmuxd and the run loop may still
// hold it after the host unsubscribes.
mach_error_t AMDeviceNotificationSubscribe(am_device_notification_callback callback, uint32_t, uint32_t, void* cookie,
                                           AMDeviceNotificationRef* subscription) {
  if (callback == nullptr || subscription == nullptr) return kAMDInvalidArgumentError;
  *subscription = nullptr;
  return devicefw::GuardedCall(kAMDUndefinedError, [&] {
    auto created = std::make_unique<am_device_notification>();
    created->callback = callback;
    created->cookie = cookie;
    if (usbmuxd_events_subscribe(&created->context, devicefw::md::OnMuxEvent, created.get()) != 0) return kAMDMuxError;
    ++devicefw::md::active_subscriptions;
    devicefw::md::KeepSubscription(created.get());
    *subscription = created.release();
    return kAMDSuccess;
  });
}

mach_error_t AMDeviceNotificationUnsubscribe(AMDeviceNotificationRef subscription) {
  if (subscription == nullptr) return kAMDInvalidArgumentError;
  if (!subscription->active.exchange(false)) return kAMDSuccess;
  usbmuxd_events_unsubscribe(subscription->context);
  if (--devicefw::md::active_subscriptions == 0) devicefw::md::DetachAllDevices();
  return kAMDSuccess;
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&AMDeviceNotificationSubscribe), AMDeviceNotificationSubscribeFn>);
static_assert(std::is_same_v<decltype(&AMDeviceNotificationUnsubscribe), AMDeviceNotificationUnsubscribeFn>);
