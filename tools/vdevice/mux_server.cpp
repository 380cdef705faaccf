#include "mux_server.h"

#include "device_connection.h"
#include "device_service.h"
#include "log.h"
#include "mux_protocol.h"
#include "platform/kst_socket_io.h"

namespace vdevice {

namespace {

// How often an idle Listen connection checks for events, a closed peer and shutdown.
constexpr int kListenPollMs = 100;

}  // namespace

void MuxServer::ServeClient(kst::KstSocket& socket) {
  for (;;) {
    uint32_t tag = 0;
    PlistPtr request;
    std::string error;
    MuxReadStatus status = ReadMuxMessage(socket, &tag, &request, &error);
    if (status == MuxReadStatus::kClosed) return;
    if (status == MuxReadStatus::kMalformed) {
      LogLine("usbmuxd: rejected a malformed request: %s", error.c_str());
      ReplyResult(socket, tag, kMuxBadVersion);
      return;
    }
    if (HandleRequest(socket, tag, request.get()) == Next::kClose) return;
  }
}

MuxServer::Next MuxServer::HandleRequest(kst::KstSocket& socket, uint32_t tag, plist_t request) {
  std::string type = DictString(request, "MessageType").value_or("");
  LogDetail("usbmuxd: %s (tag %u)", type.c_str(), tag);
  bool ok = true;
  if (type == "ListDevices") {
    ok = ListDevices(socket, tag);
  } else if (type == "Listen") {
    Listen(socket, tag);
    return Next::kClose;
  } else if (type == "Connect") {
    Connect(socket, tag, request);
    return Next::kClose;
  } else if (type == "ReadPairRecord") {
    ok = ReadPairRecord(socket, tag, request);
  } else if (type == "SavePairRecord") {
    ok = SavePairRecord(socket, tag, request);
  } else if (type == "DeletePairRecord") {
    ok = DeletePairRecord(socket, tag, request);
  } else if (type == "ReadBUID") {
    ok = ReadBuid(socket, tag);
  } else {
    LogLine("usbmuxd: unknown request \"%s\"", type.c_str());
    ok = ReplyResult(socket, tag, kMuxBadCommand);
  }
  return ok ? Next::kContinue : Next::kClose;
}

bool MuxServer::Reply(const kst::KstSocket& socket, uint32_t tag, plist_t message) {
  std::string bytes = EncodeMuxMessage(tag, message);
  return socket.SendAll(bytes.data(), bytes.size());
}

bool MuxServer::ReplyResult(const kst::KstSocket& socket, uint32_t tag, uint32_t number) {
  return Reply(socket, tag, MuxResultMessage(number).get());
}

bool MuxServer::ListDevices(const kst::KstSocket& socket, uint32_t tag) {
  PlistPtr list(plist_new_array());
  for (const auto& device : registry_.Devices()) {
    plist_array_append_item(list.get(), DeviceRegistry::AttachedMessage(*device).release());
  }
  PlistPtr reply = MakeDict();
  SetNode(reply.get(), "DeviceList", std::move(list));
  return Reply(socket, tag, reply.get());
}

void MuxServer::Listen(const kst::KstSocket& socket, uint32_t tag) {
  std::shared_ptr<EventQueue> events = registry_.Subscribe();
  if (!ReplyResult(socket, tag, kMuxOk)) return;
  while (!stopping_.load()) {
    for (PlistPtr& message : events->TakeAll(kListenPollMs)) {
      if (!Reply(socket, 0, message.get())) return;
    }
    if (kst::PeerHasClosed(socket)) return;
  }
}

void MuxServer::Connect(kst::KstSocket& socket, uint32_t tag, plist_t request) {
  std::optional<uint64_t> device_id = DictUnsigned(request, "DeviceID");
  std::optional<uint64_t> port_number = DictUnsigned(request, "PortNumber");
  std::shared_ptr<VirtualDevice> device =
      device_id && *device_id <= UINT32_MAX ? registry_.FindById(static_cast<uint32_t>(*device_id)) : nullptr;
  if (!device || !port_number) {
    LogLine("usbmuxd: Connect to unknown device %llu", static_cast<unsigned long long>(device_id.value_or(0)));
    ReplyResult(socket, tag, kMuxBadDevice);
    return;
  }
  uint16_t port = PortFromMux(*port_number);
  std::optional<std::string> service =
      port == kLockdownPort ? std::optional<std::string>(kLockdownServiceName) : device->ClaimServicePort(port);
  if (!service) {
    LogLine("usbmuxd: Connect to closed port %u of %s", port, device->udid().c_str());
    ReplyResult(socket, tag, kMuxConnectionRefused);
    return;
  }
  if (!ReplyResult(socket, tag, kMuxOk)) return;
  ServeDeviceConnection(socket, *device, *service, stopping_, tcp_);
}

bool MuxServer::ReadPairRecord(const kst::KstSocket& socket, uint32_t tag, plist_t request) {
  std::optional<std::string> record = registry_.ReadPairRecord(DictString(request, "PairRecordID").value_or(""));
  if (!record) return ReplyResult(socket, tag, kMuxBadDevice);
  PlistPtr reply = MakeDict();
  SetData(reply.get(), "PairRecordData", *record);
  return Reply(socket, tag, reply.get());
}

bool MuxServer::SavePairRecord(const kst::KstSocket& socket, uint32_t tag, plist_t request) {
  std::optional<std::string> udid = DictString(request, "PairRecordID");
  std::optional<std::string> record = DictData(request, "PairRecordData");
  if (!udid || udid->empty() || !record || !ParsePlist(record->data(), record->size())) {
    LogLine("usbmuxd: SavePairRecord without a usable PairRecordID and PairRecordData");
    return ReplyResult(socket, tag, kMuxBadCommand);
  }
  registry_.SavePairRecord(*udid, *record);
  LogLine("usbmuxd: saved the pair record of %s", udid->c_str());
  return ReplyResult(socket, tag, kMuxOk);
}

bool MuxServer::DeletePairRecord(const kst::KstSocket& socket, uint32_t tag, plist_t request) {
  std::string udid = DictString(request, "PairRecordID").value_or("");
  bool deleted = registry_.DeletePairRecord(udid);
  LogLine("usbmuxd: %s the pair record of %s", deleted ? "deleted" : "had no", udid.c_str());
  return ReplyResult(socket, tag, kMuxOk);
}

bool MuxServer::ReadBuid(const kst::KstSocket& socket, uint32_t tag) {
  PlistPtr reply = MakeDict();
  SetString(reply.get(), "BUID", registry_.buid());
  return Reply(socket, tag, reply.get());
}

}  // namespace vdevice
