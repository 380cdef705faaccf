// The command path's parsing of outside input: start parameters, command payloads, the JSON
// and the compressed attachment, and the control module's handling of a whole packet.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Tandrel/kor_start_params.h"
#include "ipc/ipc_packet.h"
#include "platform/vel_json_util.h"
#include "utility/kor_command.h"
#include "utility/module/control/kor_module_control.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  ParseStartParams(text);

  kst::PacketHeader header{7, 600, 0, size};
  kst::IPCPacketPtr packet(kst::IPCPacketCreate(header, data, nullptr));
  if (!packet) return 0;
  KorCommandPayload payload = KorParseCommandPayload(packet.get());
  rapidjson::Document document;
  VelJsonUtil::Parse(payload.json, payload.json_length, &document);
  std::string inflated;
  KorInflateAttachment(payload, &inflated);

  static KorModuleControl control;
  control.OnCommand(packet.get());
  return 0;
}
