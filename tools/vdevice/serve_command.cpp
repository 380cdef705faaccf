#include "serve_command.h"

#include <atomic>
#include <filesystem>
#include <thread>

#include "connection_threads.h"
#include "control_channel.h"
#include "control_commands.h"
#include "device_registry.h"
#include "log.h"
#include "mux_server.h"
#include "platform/kst_signal.h"
#include "platform/kst_socket.h"

namespace vdevice {

namespace {

constexpr int kBacklog = 128;
constexpr size_t kMaxControlRequestBytes = 64 << 10;
constexpr int kControlReadTimeoutMs = 5000;

// Binds an address, refusing to take over a UNIX socket that another server still answers on
// (the system's usbmuxd, or another vdevice).
kst::KstSocket ListenOn(const std::string& text, std::string* error) {
  kst::StreamAddress address;
  if (!kst::ParseStreamAddress(text, &address)) {
    *error = "not an address: " + text + " (use UNIX:/path or 127.0.0.1:PORT)";
    return kst::KstSocket();
  }
  if (address.is_unix && kst::UnixConnect(address.path).Valid()) {
    *error = "something already answers on " + text;
    return kst::KstSocket();
  }
  int code = 0;
  kst::KstSocket listener = kst::ListenStreamAddress(address, kBacklog, &code);
  if (!listener.Valid()) *error = "cannot listen on " + text + ": " + kst::SocketErrorText(code);
  return listener;
}

void RemoveSocketFile(const std::string& text) {
  kst::StreamAddress address;
  std::error_code ignored;
  if (kst::ParseStreamAddress(text, &address) && address.is_unix) std::filesystem::remove(address.path, ignored);
}

void ServeControlClient(DeviceRegistry& registry, kst::KstSocket& socket) {
  std::string line, message, error;
  std::vector<std::string> args;
  if (!ReadControlLine(socket, kMaxControlRequestBytes, kControlReadTimeoutMs, &line)) {
    LogLine("control: no complete request line; closing");
    return;
  }
  int status = DecodeControlRequest(line, &args, &error) ? RunControlCommand(registry, args, &message)
                                                         : (message = error, 2);
  std::string reply = EncodeControlReply(status, message);
  socket.SendAll(reply.data(), reply.size());
}

int AttachProfiles(DeviceRegistry& registry, const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    DeviceProfile profile;
    std::string error;
    if (LoadProfile(folder, &profile, &error) != 0 || registry.Attach(std::move(profile), &error) != 0) {
      LogLine("cannot attach profile %s: %s", folder.c_str(), error.c_str());
      return 1;
    }
  }
  return 0;
}

}  // namespace

int RunServe(const ServeOptions& options) {
  kst::BlockTerminationSignals();
  std::string control_address = options.control_address;
  if (control_address.empty() && !DeriveControlAddress(options.socket_address, &control_address)) {
    LogLine("not an address: %s", options.socket_address.c_str());
    return 1;
  }
  std::string error;
  kst::KstSocket mux_listener = ListenOn(options.socket_address, &error);
  kst::KstSocket control_listener = mux_listener.Valid() ? ListenOn(control_address, &error) : kst::KstSocket();
  if (!mux_listener.Valid() || !control_listener.Valid()) {
    LogLine("%s", error.c_str());
    if (mux_listener.Valid()) RemoveSocketFile(options.socket_address);
    return 1;
  }
  DeviceRegistry registry;
  std::atomic<bool> stopping{false};
  int status = AttachProfiles(registry, options.profiles);
  if (status == 0) {
    kst::StreamAddress parsed;
    kst::ParseStreamAddress(options.socket_address, &parsed);
    MuxServer mux(registry, stopping, !parsed.is_unix);
    ConnectionThreads mux_threads, control_threads;
    std::thread mux_acceptor([&] {
      AcceptUntilStopped(mux_listener, mux_threads, [&](kst::KstSocket& socket) { mux.ServeClient(socket); },
                         stopping);
    });
    std::thread control_acceptor([&] {
      AcceptUntilStopped(control_listener, control_threads,
                         [&](kst::KstSocket& socket) { ServeControlClient(registry, socket); }, stopping);
    });
    LogLine("serving %zu device(s) on %s, control on %s", registry.Devices().size(), options.socket_address.c_str(),
            control_address.c_str());
    int signal_number = kst::WaitForTermination(-1);
    LogLine("stopping on signal %d", signal_number);
    stopping.store(true);
    mux_acceptor.join();
    control_acceptor.join();
    registry.DetachAll();
    mux_threads.StopAll();
    control_threads.StopAll();
  }
  RemoveSocketFile(options.socket_address);
  RemoveSocketFile(control_address);
  return status;
}

}  // namespace vdevice
