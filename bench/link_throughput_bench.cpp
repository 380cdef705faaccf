// Front-end link throughput: messages sent through the client's send path (message text, zlib
// for type 0, packet framing, the send lock) into a receiving packet channel over loopback,
// beside a plain loopback socket that writes the same attachment bytes in the same run.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ipc/ipc_packet_channel.h"
#include "platform/kst_socket.h"
#include "utility/ios/kor_client.h"

namespace {

using Clock = std::chrono::steady_clock;

// Counts packets arriving at the receiving channel.
struct Receiver {
  kst::IPCPacketChannel channel;
  std::mutex mutex;
  std::condition_variable signal;
  uint64_t packets = 0;
  uint64_t wire_bytes = 0;

  Receiver() {
    channel.SetReceiveCallback([this](kst::IPCPacket* packet) {
      std::lock_guard<std::mutex> lock(mutex);
      ++packets;
      wire_bytes += packet->length + kst::kPacketHeaderSize;
      kst::IPCPacketFree(packet);
      signal.notify_all();
      return 0;
    });
  }
  void WaitFor(uint64_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    signal.wait(lock, [&] { return packets >= count; });
  }
};

// JSON-like records: compressible, but not trivially so.
std::string MakeAttachment(size_t size) {
  std::string text;
  text.reserve(size + 128);
  uint64_t n = 0;
  while (text.size() < size) {
    text += "{\"id\":" + std::to_string(n) + ",\"name\":\"IMG_" + std::to_string(n * 7919 % 100000) +
            ".JPG\",\"size\":" + std::to_string(n * 104729 % 9999991) + "},";
    ++n;
  }
  text.resize(size);
  return text;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Writes `count` × `size` bytes over a plain loopback connection and reads them on the other end.
double PlainSocketSeconds(size_t size, int count) {
  kst::KstSocket listener = kst::TcpListenLoopback(0, 1);
  kst::KstSocket writer = kst::TcpConnectLoopback(static_cast<uint16_t>(listener.LocalPort()));
  kst::KstSocket reader = kst::Accept(listener);
  std::string data(size, 'x');
  uint64_t total = static_cast<uint64_t>(size) * count;
  auto start = Clock::now();
  std::thread read_thread([&] {
    std::vector<char> buffer(4096);
    uint64_t got = 0;
    while (got < total) {
      long n = reader.Recv(buffer.data(), buffer.size());
      if (n <= 0) break;
      got += static_cast<uint64_t>(n);
    }
  });
  for (int i = 0; i < count; ++i) writer.SendAll(data.data(), data.size());
  read_thread.join();
  return Seconds(Clock::now() - start);
}

}  // namespace

int main() {
  Receiver receiver;
  kst::IPCListen* listen = receiver.channel.Listen(0);
  if (!listen || !KorClient::Instance().ConnectFrontend(listen->port, 1)) {
    std::fprintf(stderr, "cannot set up the loopback link\n");
    return 1;
  }
  while (!receiver.channel.HasConnections()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  struct Case {
    size_t size;
    int count;
  };
  const Case cases[] = {{1024, 20000}, {64 * 1024, 2000}, {4 * 1024 * 1024, 40}};
  std::printf("%-9s %-4s %10s %12s %12s %12s %8s\n", "size", "type", "msgs/s", "MB/s(data)", "MB/s(wire)",
              "plain MB/s", "ratio");
  for (const Case& c : cases) {
    std::string attachment = MakeAttachment(c.size);
    for (int type : {1, 0}) {
      uint64_t before_packets;
      uint64_t before_bytes;
      {
        std::lock_guard<std::mutex> lock(receiver.mutex);
        before_packets = receiver.packets;
        before_bytes = receiver.wire_bytes;
      }
      auto start = Clock::now();
      for (int i = 0; i < c.count; ++i) {
        KorMessage message;
        message.stage = 2;
        message.type = type;
        message.uuid = "00008110-0012345678901234";
        message.attachment = reinterpret_cast<const uint8_t*>(attachment.data());
        message.attachment_length = attachment.size();
        KorClient::Instance().Send(KorPacketHeader{42, 2, 300}, message);
      }
      receiver.WaitFor(before_packets + static_cast<uint64_t>(c.count));
      double seconds = Seconds(Clock::now() - start);
      uint64_t wire = receiver.wire_bytes - before_bytes;
      double plain = PlainSocketSeconds(c.size, c.count);
      double data_mb = static_cast<double>(c.size) * c.count / 1e6;
      std::printf("%-9zu %-4d %10.0f %12.1f %12.1f %12.1f %8.3f\n", c.size, type, c.count / seconds, data_mb / seconds,
                  static_cast<double>(wire) / 1e6 / seconds, data_mb / plain, plain / seconds);
    }
  }
  std::printf("ratio = plain socket time / link time for the same attachment bytes (1.0 = as fast as a bare socket)\n");
  std::fflush(stdout);
  std::_Exit(0);
}
