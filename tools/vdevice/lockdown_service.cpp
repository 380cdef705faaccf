// lockdownd on port 62078: length-prefixed property lists, one reply per request.
#include "device_service.h"
#include "lockdown_session.h"
#include "plist_framing.h"

namespace vdevice {

namespace {

class LockdownService : public DeviceService {
 public:
  void Serve(ServiceContext& context) override {
    LockdownSession session(context.device);
    PlistPtr request;
    while (ReadRequestDictionary(context.stream, context.device.udid() + " lockdown", &request)) {
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
