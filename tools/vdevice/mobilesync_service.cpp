// com.apple.mobilesync: the device greets with DLMessageVersionExchange (300, 100), says
// DLMessageDeviceReady once the computer accepts, then answers one data class at a time:
// SyncDataClassWithDevice with SyncDataClassWithComputer (slow sync without a device anchor,
// fast with one) or a refusal when the profile has no store for the class or refuses it;
// GetAllRecordsFromDevice with the store in ProcessChanges batches, each further batch after an
// acknowledgement, then DeviceReadyToReceiveChanges; GetChangesFromDevice with one empty batch;
// ProcessChanges from the computer applied to the store and answered with the identifier
// remapping; FinishSessionOnDevice with DeviceFinishedSession.
#include <cstdlib>
#include <deque>

#include "device_link.h"
#include "device_service.h"
#include "log.h"
#include "sync_store.h"

namespace vdevice {

namespace {

constexpr uint64_t kVersionMajor = 300;
constexpr uint64_t kVersionMinor = 100;
constexpr const char* kDeviceAnchor = "vdevice-anchor-1";

std::string ItemString(plist_t array, uint32_t index) {
  plist_t item = plist_array_get_item(array, index);
  if (!item || plist_get_node_type(item) != PLIST_STRING) return std::string();
  char* text = nullptr;
  plist_get_string_val(item, &text);
  std::string value = text ? text : "";
  std::free(text);
  return value;
}

class MobileSyncService : public DeviceService {
 public:
  void Serve(ServiceContext& context) override {
    udid_ = context.device.udid();
    folder_ = context.device.profile().DataFolder("mobilesync");
    settings_ = LoadSyncSettings(folder_);
    ServiceStream& stream = context.stream;
    if (!Greet(stream)) return;
    for (;;) {
      HostMessage message;
      const HostRead read = ReadHostMessage(stream, &message);
      if (read == HostRead::kClosed) return;
      if (read == HostRead::kMalformed) {
        LogLine("%s mobilesync: a message that is not a DeviceLink array; session ended", udid_.c_str());
        return;
      }
      LogDetail("%s mobilesync: %s", udid_.c_str(), message.name.c_str());
      if (message.name == "DLMessageDisconnect") return;
      if (!Answer(stream, message)) return;
    }
  }

 private:
  bool Greet(ServiceStream& stream) {
    if (!SendDeviceLink(stream, DeviceLinkMessage("DLMessageVersionExchange").Unsigned(kVersionMajor).Unsigned(kVersionMinor))) {
      return false;
    }
    HostMessage reply;
    if (ReadHostMessage(stream, &reply) != HostRead::kMessage) return false;
    if (reply.name != "DLMessageVersionExchange" || ItemString(reply.array.get(), 1) != "DLVersionsOk") {
      LogLine("%s mobilesync: the computer did not accept the DeviceLink version (%s %s)", udid_.c_str(),
              reply.name.c_str(), ItemString(reply.array.get(), 1).c_str());
      return false;
    }
    return SendDeviceLink(stream, DeviceLinkMessage("DLMessageDeviceReady"));
  }

  bool Answer(ServiceStream& stream, const HostMessage& message) {
    const std::string data_class = ItemString(message.array.get(), 1);
    if (message.name == "SDMessageSyncDataClassWithDevice") return Announce(stream, message, data_class);
    if (message.name == "DLMessagePing") return true;
    if (data_class != data_class_) {
      return SendDeviceLink(stream, DeviceLinkMessage("SDMessageCancelSession").String(data_class).String("No session for this data class"));
    }
    if (message.name == "SDMessageGetAllRecordsFromDevice") {
      pending_.clear();
      for (PlistPtr& batch : store_.Batches(settings_.batch_size)) pending_.push_back(std::move(batch));
      return SendNextBatch(stream);
    }
    if (message.name == "SDMessageGetChangesFromDevice") {
      pending_.clear();
      pending_.push_back(MakeDict());
      return SendNextBatch(stream);
    }
    if (message.name == "SDMessageAcknowledgeChangesFromDevice") {
      if (!pending_.empty()) return SendNextBatch(stream);
      return SendDeviceLink(stream, DeviceLinkMessage("SDMessageDeviceReadyToReceiveChanges").String(data_class_));
    }
    if (message.name == "SDMessageProcessChanges") {
      PlistPtr remap = store_.Apply(plist_array_get_item(message.array.get(), 2));
      if (!store_.Save()) LogLine("%s mobilesync: cannot write the %s store", udid_.c_str(), data_class_.c_str());
      return SendDeviceLink(stream, DeviceLinkMessage("SDMessageRemapRecordIdentifiers").String(data_class_).Node(std::move(remap)));
    }
    if (message.name == "SDMessageFinishSessionOnDevice") {
      data_class_.clear();
      return SendDeviceLink(stream, DeviceLinkMessage("SDMessageDeviceFinishedSession").String(data_class));
    }
    LogLine("%s mobilesync: unknown message %s; session cancelled", udid_.c_str(), message.name.c_str());
    return SendDeviceLink(stream, DeviceLinkMessage("SDMessageCancelSession").String(data_class).String("Unknown message"));
  }

  bool Announce(ServiceStream& stream, const HostMessage& message, const std::string& data_class) {
    if (settings_.refused.count(data_class) || !store_.Load(folder_, data_class)) {
      LogLine("%s mobilesync: refused %s", udid_.c_str(), data_class.c_str());
      return SendDeviceLink(stream, DeviceLinkMessage("SDMessageRefuseToSyncDataClassWithComputer").String(data_class).String("No Data Store available"));
    }
    data_class_ = data_class;
    const std::string host_anchor = ItemString(message.array.get(), 2);
    const bool fast = host_anchor == kDeviceAnchor;
    uint64_t version = 0;
    plist_t version_node = plist_array_get_item(message.array.get(), 4);
    if (version_node && plist_get_node_type(version_node) == PLIST_UINT) plist_get_uint_val(version_node, &version);
    return SendDeviceLink(stream, DeviceLinkMessage("SDMessageSyncDataClassWithComputer")
                                      .String(data_class)
                                      .String(fast ? kDeviceAnchor : kEmptyParameterString)
                                      .String(kDeviceAnchor)
                                      .String(fast ? "SDSyncTypeFast" : "SDSyncTypeSlow")
                                      .Unsigned(version));
  }

  bool SendNextBatch(ServiceStream& stream) {
    PlistPtr batch = std::move(pending_.front());
    pending_.pop_front();
    const bool more = !pending_.empty();
    PlistPtr actions = MakeDict();
    SetBool(actions.get(), "SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey", !more);
    DeviceLinkMessage message("SDMessageProcessChanges");
    message.String(data_class_).Node(std::move(batch)).Node(PlistPtr(plist_new_bool(more))).Node(std::move(actions));
    return SendDeviceLink(stream, message);
  }

  std::string udid_;
  std::string folder_;
  SyncSettings settings_;
  SyncStore store_;
  std::string data_class_;
  std::deque<PlistPtr> pending_;
};

std::unique_ptr<DeviceService> MakeMobileSyncService(const VirtualDevice&) { return std::make_unique<MobileSyncService>(); }

}  // namespace

VDEVICE_REGISTER_SERVICE("com.apple.mobilesync", MakeMobileSyncService);

}  // namespace vdevice
