#include "utility/module/basicinfo/kor_storage_report.h"

#include <rapidjson/document.h>

#include "iOSAPI/kor_afc.h"
#include "iOSAPI/kor_cf.h"
#include "iOSAPI/kor_service_message.h"
#include "iOSAPI/kor_xml_value.h"
#include "platform/kst_log.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_device_handles.h"

namespace {

constexpr const char* kDiagnosticsService = "com.apple.mobile.diagnostics_relay";
constexpr const char* kAssetService = "com.apple.atc";
// An asset-metrics message larger than this is taken as a broken stream.
constexpr uint32_t kMaxAtcMessage = 64u * 1024 * 1024;

const char* kBatteryRequest =
    R"(<?xml version="1.0" encoding="UTF-8"?>)"
    R"(<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">)"
    R"(<plist version="1.0"><dict><key>EntryClass</key><string>IOPMPowerSource</string>)"
    R"(<key>Request</key><string>IORegistry</string></dict></plist>)";

const char* kPowerAssertionRequest =
    R"(<?xml version="1.0" encoding="UTF-8"?>)"
    R"(<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">)"
    R"(<plist version="1.0"><dict><key>Command</key><string>PowerAssertion</string>)"
    R"(<key>Params</key><dict><key>Enabled</key><true/></dict><key>Session</key><integer>0</integer>)"
    R"(</dict></plist>)";

// A started service used for one exchange; invalidated when it goes out of scope.
class ScopedService {
 public:
  ScopedService(AMDeviceRef device, const char* name) {
    int result = 0;
    session_ = KorDeviceHandles::Get().GetSession(device, &result);
    if (session_ && Start(device, name)) return;
    session_ = KorDeviceHandles::Get().OpenSession(device, &result);
    if (session_) Start(device, name);
  }
  ~ScopedService() {
    if (connection_) MobileApi().AMDServiceConnectionInvalidate(connection_);
  }
  ScopedService(const ScopedService&) = delete;
  ScopedService& operator=(const ScopedService&) = delete;
  AMDServiceConnectionRef Get() const { return connection_; }

 private:
  bool Start(AMDeviceRef device, const char* name) {
    return MobileApi().AMDeviceSecureStartService(device, KorConstantString(name), nullptr, &connection_) ==
           kAMDSuccess;
  }
  std::shared_ptr<KorDeviceSession> session_;
  AMDServiceConnectionRef connection_ = nullptr;
};

int64_t IntegerOf(const KorValue& value) { return value.IsInteger() ? value.AsInteger() : 0; }

// Sums "_PhysicalSize" and "_Count" of a category and of the dictionaries directly inside it.
KorStorageCategory CategoryTotals(const CIOSDictionary& category) {
  KorStorageCategory totals;
  auto add = [&totals](const CIOSDictionary& dictionary) {
    totals.size += IntegerOf(dictionary.Get("_PhysicalSize"));
    totals.count += IntegerOf(dictionary.Get("_Count"));
  };
  add(category);
  for (const auto& [name, value] : category.Entries()) {
    if (value.IsDictionary() && value.AsDictionary()) add(*value.AsDictionary());
  }
  return totals;
}

int KnownIndex(const std::string& name) {
  for (size_t i = 0; i < KorStorageResult::kKnownCategories.size(); ++i) {
    if (name == KorStorageResult::kKnownCategories[i]) return static_cast<int>(i);
  }
  return -1;
}

// One message of the atc framing (4-byte little-endian length); false at the end of the exchange.
bool ReceiveAtcMessage(const KorServiceIo& io, std::string* message) {
  uint8_t prefix[4];
  if (!KorReceiveExactly(io, prefix, sizeof(prefix))) return false;
  uint32_t length = uint32_t{prefix[0]} | (uint32_t{prefix[1]} << 8) | (uint32_t{prefix[2]} << 16) |
                    (uint32_t{prefix[3]} << 24);
  if (length == 0) return false;
  if (length > kMaxAtcMessage) {
    KLOG(WARNING) << "atc message of " << length << " bytes refused";
    return false;
  }
  std::vector<uint8_t>& buffer = KorTransferBuffer();
  message->clear();
  message->reserve(length);
  while (message->size() < length) {
    size_t wanted = std::min(buffer.size(), static_cast<size_t>(length) - message->size());
    int64_t got = io.receive(buffer.data(), wanted);
    if (got < 1) return false;
    message->append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(got));
  }
  return true;
}

// The command of a message given as XML; a message too long for the first-value reading is
// read whole instead.
std::string CommandOf(const std::string& xml, KorValue* tree) {
  std::string command = KorXmlFirstValue(xml);
  if (!command.empty()) return command;
  if (KorXmlTextToValue(xml, tree) && tree->AsDictionary()) return tree->AsDictionary()->Get("Command").AsString();
  return std::string();
}

}  // namespace

void KorParseAssetMetrics(const KorValue& message, KorStorageResult* result) {
  if (!message.AsDictionary()) return;
  KorValue params = message.AsDictionary()->Get("Params");
  if (!params.AsDictionary()) return;
  for (const auto& [name, value] : params.AsDictionary()->Entries()) {
    if (value.IsInteger()) {
      if (name == "_PhysicalSize") result->total = value.AsInteger();
      if (name == "_FreeSize") result->free = value.AsInteger();
      continue;
    }
    if (!value.IsDictionary() || !value.AsDictionary()) continue;
    KorStorageCategory totals = CategoryTotals(*value.AsDictionary());
    int known = KnownIndex(name);
    if (known >= 0) {
      result->known[static_cast<size_t>(known)] = totals;
    } else if (totals.size != 0 && totals.count != 0) {
      result->further.emplace_back(name + "_Count", totals.count);
      result->further.emplace_back(name + "_PhysicalSize", totals.size);
    }
  }
}

std::string KorStorageJson(const KorStorageResult& result) {
  rapidjson::Document reply(rapidjson::kObjectType);
  auto& allocator = reply.GetAllocator();
  if (result.cycle_count) VelJsonUtil::AddJsonDictInt64Value(reply, allocator, "CycleCount", *result.cycle_count);
  int64_t others = result.total - result.free;
  for (size_t i = 0; i < result.known.size(); ++i) {
    std::string name = KorStorageResult::kKnownCategories[i];
    VelJsonUtil::AddJsonDictInt64Value(reply, allocator, (name + "_PhysicalSize").c_str(), result.known[i].size);
    VelJsonUtil::AddJsonDictInt64Value(reply, allocator, (name + "_Count").c_str(), result.known[i].count);
    others -= result.known[i].size;
  }
  VelJsonUtil::AddJsonDictInt64Value(reply, allocator, "Data_FreeSize", result.free);
  VelJsonUtil::AddJsonDictInt64Value(reply, allocator, "Data_PhysicalSize", result.total);
  VelJsonUtil::AddJsonDictInt64Value(reply, allocator, "Data_Others_PhysicalSize", others);
  for (const auto& [name, value] : result.further) {
    VelJsonUtil::AddJsonDictInt64Value(reply, allocator, name.c_str(), value);
  }
  return VelJsonUtil::ToString(reply);
}

void KorReadBatteryCycleCount(AMDeviceRef device, KorStorageResult* result) {
  ScopedService service(device, kDiagnosticsService);
  if (!service.Get()) return;
  KorMessageBufferPtr request = KorXmlToMessage(kBatteryRequest);
  if (!request) return;
  KorSendAndReceive(KorFrameworkIo(service.Get()), *request,
                    [result](const uint8_t* bytes, uint32_t length, int*, int32_t*) {
                      KorValue tree;
                      if (!KorMessageToValue(bytes, length, &tree) || !tree.AsDictionary()) return;
                      KorValue diagnostics = tree.AsDictionary()->Get("Diagnostics");
                      if (!diagnostics.AsDictionary()) return;
                      KorValue registry = diagnostics.AsDictionary()->Get("IORegistry");
                      if (!registry.AsDictionary()) return;
                      KorValue cycles = registry.AsDictionary()->Get("CycleCount");
                      if (cycles.IsInteger()) result->cycle_count = cycles.AsInteger();
                    });
}

void KorAssetMetricsExchange(const KorServiceIo& io, KorStorageResult* result) {
  KorMessageBufferPtr request = KorXmlToMessage(kPowerAssertionRequest);
  if (!request) return;
  uint8_t prefix[4] = {static_cast<uint8_t>(request->length), static_cast<uint8_t>(request->length >> 8),
                       static_cast<uint8_t>(request->length >> 16), static_cast<uint8_t>(request->length >> 24)};
  io.send(prefix, sizeof(prefix));
  io.send(request->bytes, request->length);
  std::string message;
  while (ReceiveAtcMessage(io, &message)) {
    // Each message is turned into XML once; the command and the figures are both read from it.
    std::string xml = KorMessageToXml(reinterpret_cast<const uint8_t*>(message.data()),
                                      static_cast<uint32_t>(message.size()));
    KorValue tree;
    std::string command = CommandOf(xml, &tree);
    if (command == "Ping" || command == "IdleExit") return;
    if (command != "AssetMetrics") continue;
    if (tree.IsEmpty()) KorXmlTextToValue(xml, &tree);
    KorParseAssetMetrics(tree, result);
    return;
  }
}

void KorReadAssetMetrics(AMDeviceRef device, KorStorageResult* result) {
  ScopedService service(device, kAssetService);
  if (service.Get()) KorAssetMetricsExchange(KorFrameworkIo(service.Get()), result);
}
