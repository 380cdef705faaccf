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

std::map<std::string, std::string> PushRecords(DeviceSession& session, const std::string& data_class,
                                               uint64_t class_version, plist_t entities, int* error) {
  Owned owned(entities);
  std::map<std::string, std::string> remap;
  MobileSyncReading out;
  SyncClient client(session, data_class, class_version, &out);
  if (client.started()) ReadBatches(client.get(), &out);
  if (out.error == MOBILESYNC_E_SUCCESS) out.error = mobilesync_ready_to_send_changes_from_computer(client.get());
  if (out.error == MOBILESYNC_E_SUCCESS) out.error = mobilesync_send_changes(client.get(), entities, 1, nullptr);
  plist_t mapping = nullptr;
  if (out.error == MOBILESYNC_E_SUCCESS) out.error = mobilesync_remap_identifiers(client.get(), &mapping);
  Owned owned_mapping(mapping);
  if (mapping) {
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

}  // namespace vdevice_test
