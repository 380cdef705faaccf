// com.apple.mobilesync: the device greets with DLMessageVersionExchange (300, 100), says
// DLMessageDeviceReady once the computer accepts, then answers one data class at a time:
//   SyncDataClassWithDevice   SyncDataClassWithComputer (slow sync without the device's anchor,
//                             fast with it), a refusal ("No Data Store available") when the class
//                             has no store, the profile refuses it, or its data_sync entry names
//                             no local source, or SDMessageCancelSession when the profile says so;
//   GetAllRecordsFromDevice   the store in ProcessChanges batches, each further one after an
//   GetChangesFromDevice      acknowledgement (changes: one empty batch); the acknowledgement of
//                             the last batch is answered with DeviceReadyToReceiveChanges;
//   DLMessagePing             nothing (the computer says it is about to send);
//   ProcessChanges            only once the device said it is ready to receive: applied to the
//                             store, answered with RemapRecordIdentifiers; before that the session
//                             is cancelled, as a device does with changes it did not ask for;
//   FinishSessionOnDevice     DeviceFinishedSession.
// An armed `error VALUE` answers the next request with SDMessageCancelSession VALUE; `frame N`
// sends a bare length field in place of the next answer.
#include <arpa/inet.h>

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
constexpr const char* kDataSyncDomain = "com.apple.mobile.data_sync";

std::string ItemString(plist_t array, uint32_t index) {
  plist_t item = plist_array_get_item(array, index);
  if (!item || plist_get_node_type(item) != PLIST_STRING) return std::string();
  char* text = nullptr;
  plist_get_string_val(item, &text);
  std::string value = text ? text : "";
  std::free(text);
  return value;
}

// The data_sync domain keeps one entry per class ("Contacts" for "com.apple.Contacts"); an entry
// whose "Sources" does not name the class says the device keeps no local store for it (its data
// live only with an account).
bool NoLocalSource(const VirtualDevice& device, const std::string& data_class) {
  const std::string prefix = "com.apple.";
  if (data_class.compare(0, prefix.size(), prefix) != 0) return false;
  PlistPtr entry = device.GetValue(kDataSyncDomain, data_class.substr(prefix.size()));
  plist_t sources = entry ? DictItem(entry.get(), "Sources", PLIST_ARRAY) : nullptr;
  if (!sources) return false;
  for (uint32_t i = 0; i < plist_array_get_size(sources); ++i) {
    if (ItemString(sources, i) == data_class) return false;
  }
  return true;
}

// Where the conversation of the announced class stands.
enum class Phase {
  kNone,       // no class announced
  kAnnounced,  // the class is being synchronised; the device sends before it receives
  kSending,    // batches went out; the last one waits for its acknowledgement
  kReceiving,  // the device said it is ready to receive changes
};

class MobileSyncService : public DeviceService {
 public:
  void Serve(ServiceContext& context) override {
    device_ = &context.device;
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

  // Every answer goes out here so that an armed frame fault replaces it.
  bool Reply(ServiceStream& stream, const DeviceLinkMessage& message) {
    if (std::optional<uint32_t> length = stream.TakeFrameLength()) {
      const uint32_t field = htonl(*length);
      if (!stream.Send({{&field, sizeof(field)}})) return false;
      // A device that announced a body it does not send is gone; an empty one goes on.
      return *length == 0;
    }
    return SendDeviceLink(stream, message);
  }

  bool Cancel(ServiceStream& stream, const std::string& data_class, const std::string& reason) {
    LogLine("%s mobilesync: %s cancelled: %s", udid_.c_str(), data_class.c_str(), reason.c_str());
    EndClass();
    return Reply(stream, DeviceLinkMessage("SDMessageCancelSession").String(data_class).String(reason));
  }

  void EndClass() {
    data_class_.clear();
    phase_ = Phase::kNone;
    pending_.clear();
  }

  bool Answer(ServiceStream& stream, const HostMessage& message) {
    const std::string data_class = ItemString(message.array.get(), 1);
    if (message.name == "DLMessagePing") return true;
    if (message.name == "SDMessageCancelSession") {
      EndClass();
      return true;
    }
    if (std::optional<std::string> injected = stream.TakeInjectedError()) return Cancel(stream, data_class, *injected);
    if (message.name == "SDMessageSyncDataClassWithDevice") return Announce(stream, message, data_class);
    if (data_class_.empty() || data_class != data_class_) {
      return Cancel(stream, data_class, "No session for this data class");
    }
    if (message.name == "SDMessageGetAllRecordsFromDevice" || message.name == "SDMessageGetChangesFromDevice") {
      pending_.clear();
      if (message.name == "SDMessageGetAllRecordsFromDevice") {
        for (PlistPtr& batch : store_.Batches(settings_.batch_size)) pending_.push_back(std::move(batch));
      } else {
        pending_.push_back(MakeDict());
      }
      return SendNextBatch(stream);
    }
    if (message.name == "SDMessageAcknowledgeChangesFromDevice") {
      if (!pending_.empty()) return SendNextBatch(stream);
      phase_ = Phase::kReceiving;
      return Reply(stream, DeviceLinkMessage("SDMessageDeviceReadyToReceiveChanges").String(data_class_));
    }
    if (message.name == "SDMessageProcessChanges") return Receive(stream, message);
    if (message.name == "SDMessageFinishSessionOnDevice") {
      EndClass();
      return Reply(stream, DeviceLinkMessage("SDMessageDeviceFinishedSession").String(data_class));
    }
    LogLine("%s mobilesync: unknown message %s", udid_.c_str(), message.name.c_str());
    return Cancel(stream, data_class, "Unknown message");
  }

  bool Announce(ServiceStream& stream, const HostMessage& message, const std::string& data_class) {
    EndClass();
    if (settings_.cancelled.count(data_class)) return Cancel(stream, data_class, "Sync cancelled by the device");
    if (settings_.refused.count(data_class) || NoLocalSource(*device_, data_class) ||
        !store_.Load(folder_, data_class)) {
      LogLine("%s mobilesync: refused %s", udid_.c_str(), data_class.c_str());
      return Reply(stream, DeviceLinkMessage("SDMessageRefuseToSyncDataClassWithComputer").String(data_class).String("No Data Store available"));
    }
    data_class_ = data_class;
    phase_ = Phase::kAnnounced;
    const std::string host_anchor = ItemString(message.array.get(), 2);
    const bool fast = host_anchor == kDeviceAnchor;
    uint64_t version = 0;
    plist_t version_node = plist_array_get_item(message.array.get(), 4);
    if (version_node && plist_get_node_type(version_node) == PLIST_UINT) plist_get_uint_val(version_node, &version);
    return Reply(stream, DeviceLinkMessage("SDMessageSyncDataClassWithComputer")
                             .String(data_class)
                             .String(fast ? kDeviceAnchor : kEmptyParameterString)
                             .String(kDeviceAnchor)
                             .String(fast ? "SDSyncTypeFast" : "SDSyncTypeSlow")
                             .Unsigned(version));
  }

  bool SendNextBatch(ServiceStream& stream) {
    phase_ = Phase::kSending;
    PlistPtr batch = std::move(pending_.front());
    pending_.pop_front();
    const bool more = !pending_.empty();
    PlistPtr actions = MakeDict();
    SetBool(actions.get(), "SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey", !more);
    DeviceLinkMessage message("SDMessageProcessChanges");
    message.String(data_class_).Node(std::move(batch)).Node(PlistPtr(plist_new_bool(more))).Node(std::move(actions));
    return Reply(stream, message);
  }

  // ["SDMessageProcessChanges", class, entities, more, actions]: applied and remapped.
  bool Receive(ServiceStream& stream, const HostMessage& message) {
    if (phase_ != Phase::kReceiving) return Cancel(stream, data_class_, "Not ready to receive changes");
    PlistPtr remap = store_.Apply(plist_array_get_item(message.array.get(), 2));
    if (!store_.Save()) LogLine("%s mobilesync: cannot write the %s store", udid_.c_str(), data_class_.c_str());
    LogLine("%s mobilesync: %s changes applied, %u new identifiers, %zu records", udid_.c_str(), data_class_.c_str(),
            plist_dict_get_size(remap.get()), store_.size());
    return Reply(stream, DeviceLinkMessage("SDMessageRemapRecordIdentifiers").String(data_class_).Node(std::move(remap)));
  }

  const VirtualDevice* device_ = nullptr;
  std::string udid_;
  std::string folder_;
  SyncSettings settings_;
  SyncStore store_;
  std::string data_class_;
  Phase phase_ = Phase::kNone;
  std::deque<PlistPtr> pending_;
};

std::unique_ptr<DeviceService> MakeMobileSyncService(const VirtualDevice&) { return std::make_unique<MobileSyncService>(); }

}  // namespace

VDEVICE_REGISTER_SERVICE("com.apple.mobilesync", MakeMobileSyncService);

}  // namespace vdevice
