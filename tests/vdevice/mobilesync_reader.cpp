#include "mobilesync_reader.h"

#include <libimobiledevice/mobilesync.h>

#include <cstdlib>
#include <memory>

#include "plist_util.h"

namespace vdevice_test {

namespace {

struct PlistFree {
  void operator()(plist_t node) const { plist_free(node); }
};
using Owned = std::unique_ptr<void, PlistFree>;

std::string XmlOf(plist_t node) {
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(node, &xml, &length);
  std::string text = xml ? std::string(xml, length) : std::string();
  std::free(xml);
  return text;
}

// Calls `visit(key, value)` for every entry of a dict.
template <typename Visit>
void ForEachEntry(plist_t dict, Visit visit) {
  for (const std::string& key : vdevice::DictKeys(dict)) visit(key, plist_dict_get_item(dict, key.c_str()));
}

// A started mobilesync client with the class announced; closed (finish, free) on destruction.
class SyncClient {
 public:
  SyncClient(DeviceSession& session, const std::string& data_class, uint64_t class_version, MobileSyncReading* out) {
    out->error = mobilesync_client_start_service(session.device(), &client_, "vdevice-test");
    if (out->error != MOBILESYNC_E_SUCCESS) return;
    mobilesync_anchors_t anchors = mobilesync_anchors_new(nullptr, "2027-01-01 09:03:04 +0100");
    mobilesync_sync_type_t type;
    uint64_t device_version = 0;
    char* reason = nullptr;
    out->error = mobilesync_start(client_, data_class.c_str(), anchors, class_version, &type, &device_version, &reason);
    mobilesync_anchors_free(anchors);
    if (reason) out->refusal = reason;
    std::free(reason);
    started_ = out->error == MOBILESYNC_E_SUCCESS;
  }
  ~SyncClient() {
    if (started_) mobilesync_finish(client_);
    if (client_) mobilesync_client_free(client_);
  }
  bool started() const { return started_; }
  mobilesync_client_t get() const { return client_; }

 private:
  mobilesync_client_t client_ = nullptr;
  bool started_ = false;
};

// Reads the batches up to the last one, acknowledging each.
void ReadBatches(mobilesync_client_t client, MobileSyncReading* out) {
  out->error = mobilesync_get_all_records_from_device(client);
  for (uint8_t last = 0; out->error == MOBILESYNC_E_SUCCESS && !last;) {
    plist_t entities = nullptr;
    out->error = mobilesync_receive_changes(client, &entities, &last, nullptr);
    Owned owned(entities);
    if (out->error != MOBILESYNC_E_SUCCESS) break;
    ++out->batches;
    ForEachEntry(entities, [out](const std::string& key, plist_t value) { out->records[key] = XmlOf(value); });
    out->error = mobilesync_acknowledge_changes_from_device(client);
  }
}

}  // namespace

MobileSyncReading ReadAllRecords(DeviceSession& session, const std::string& data_class, uint64_t class_version) {
  MobileSyncReading out;
  SyncClient client(session, data_class, class_version, &out);
  if (!client.started()) return out;
  ReadBatches(client.get(), &out);
  if (out.error == MOBILESYNC_E_SUCCESS) out.error = mobilesync_ready_to_send_changes_from_computer(client.get());
  return out;
}

Remap PushSteps(DeviceSession& session, const std::string& data_class, uint64_t class_version,
                const std::vector<PushStep>& steps, int* error) {
  Remap remap;
  MobileSyncReading out;
  SyncClient client(session, data_class, class_version, &out);
  if (client.started()) ReadBatches(client.get(), &out);
  if (out.error == MOBILESYNC_E_SUCCESS) out.error = mobilesync_ready_to_send_changes_from_computer(client.get());
  for (size_t i = 0; i < steps.size() && out.error == MOBILESYNC_E_SUCCESS; ++i) {
    Owned entities(steps[i](remap));
    if (!entities) continue;
    out.error = mobilesync_send_changes(client.get(), entities.get(), i + 1 == steps.size() ? 1 : 0, nullptr);
    plist_t mapping = nullptr;
    if (out.error == MOBILESYNC_E_SUCCESS) out.error = mobilesync_remap_identifiers(client.get(), &mapping);
    Owned owned_mapping(mapping);
    if (!mapping) continue;
    ForEachEntry(mapping, [&remap](const std::string& key, plist_t value) {
      char* text = nullptr;
      if (plist_get_node_type(value) == PLIST_STRING) plist_get_string_val(value, &text);
      if (text) remap[key] = text;
      std::free(text);
    });
  }
  *error = out.error;
  return remap;
}

std::map<std::string, std::string> PushRecords(DeviceSession& session, const std::string& data_class,
                                               uint64_t class_version, plist_t entities, int* error) {
  Owned owned(entities);
  return PushSteps(session, data_class, class_version, {[&owned](const Remap&) { return owned.release(); }}, error);
}

std::vector<std::string> AnnounceAndSend(DeviceSession& session, const std::string& data_class, plist_t message,
                                         int* error) {
  Owned owned(message);
  MobileSyncReading out;
  SyncClient client(session, data_class, 106, &out);
  std::vector<std::string> answer;
  if (client.started()) out.error = mobilesync_send(client.get(), message);
  plist_t reply = nullptr;
  if (out.error == MOBILESYNC_E_SUCCESS) out.error = mobilesync_receive(client.get(), &reply);
  Owned owned_reply(reply);
  for (uint32_t i = 0; reply && plist_get_node_type(reply) == PLIST_ARRAY && i < plist_array_get_size(reply); ++i) {
    char* text = nullptr;
    plist_t item = plist_array_get_item(reply, i);
    if (plist_get_node_type(item) == PLIST_STRING) plist_get_string_val(item, &text);
    if (text && i != 1) answer.push_back(text);
    std::free(text);
  }
  *error = out.error;
  return answer;
}

}  // namespace vdevice_test
