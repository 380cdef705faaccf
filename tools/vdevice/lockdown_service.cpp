// lockdownd on port 62078: length-prefixed property lists, one reply per request.
#include "device_service.h"
#include "lockdown_session.h"
#include "log.h"
#include "plist_framing.h"

namespace vdevice {

namespace {

class LockdownService : public DeviceService {
 public:
  void Serve(ServiceContext& context) override {
    LockdownSession session(context.device);
    for (;;) {
      PlistPtr request;
      std::string error;
      FrameStatus status = ReadFramedPlist(context.stream, LengthOrder::kBig, &request, &error);
      if (status == FrameStatus::kClosed) return;
      if (status != FrameStatus::kMessage || plist_get_node_type(request.get()) != PLIST_DICT) {
        LogLine("%s lockdown: bad request frame (%s); closing", context.device.udid().c_str(),
                error.empty() ? "not a dictionary" : error.c_str());
        return;
      }
      bool close = false;
      PlistPtr reply = Answer(context, session, request.get(), &close);
      if (!SendFramedPlist(context.stream, LengthOrder::kBig, reply.get(), PlistEncoding::kXml) || close) return;
    }
  }

 private:
  static PlistPtr Answer(ServiceContext& context, LockdownSession& session, plist_t request, bool* close) {
    if (std::optional<std::string> injected = context.stream.TakeInjectedError()) {
      return LockdownSession::ErrorReply(DictString(request, "Request").value_or(""), *injected);
    }
    return session.Handle(request, close);
  }
};

std::unique_ptr<DeviceService> MakeLockdownService(const VirtualDevice&) {
  return std::make_unique<LockdownService>();
}

}  // namespace

VDEVICE_REGISTER_SERVICE(kLockdownServiceName, MakeLockdownService);

}  // namespace vdevice
