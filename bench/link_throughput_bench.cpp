// Front-end link throughput. Type 1: messages sent through the client's send path (message text,
// packet framing, the send lock, one vectored write) into a receiving packet channel over
// loopback, beside a plain loopback socket that writes the same attachment bytes. Type 0: the
// level-9 zlib-format compression of listing attachments as the modules send them, zlib beside
// libdeflate, and those attachments through the whole send path.
// Each figure is the best of several alternating rounds, so that a busy machine hurts both sides
// of a ratio alike.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ipc/ipc_packet_channel.h"
#include "listing_attachments.h"
#include "platform/kst_deflate.h"
#include "platform/kst_socket.h"
#include "platform/kst_zlib.h"
#include "utility/ios/kor_client.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 5;

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
  uint64_t Packets() {
    std::lock_guard<std::mutex> lock(mutex);
    return packets;
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

// Processor time of the whole process (every thread, user and system), which other processes on
// a busy machine do not inflate the way they inflate elapsed time.
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Elapsed and processor seconds of one run.
struct Cost {
  double wall = 1e30;
  double cpu = 1e30;
  void KeepBest(const Cost& other) {
    wall = std::min(wall, other.wall);
    cpu = std::min(cpu, other.cpu);
  }
};

class CostMeter {
 public:
  CostMeter() : wall_(Clock::now()), cpu_(CpuSeconds()) {}
  Cost Stop() const { return Cost{Seconds(Clock::now() - wall_), CpuSeconds() - cpu_}; }

 private:
  Clock::time_point wall_;
  double cpu_;
};

double BestOf(int rounds, const std::function<double()>& run) {
  double best = run();
  for (int i = 1; i < rounds; ++i) best = std::min(best, run());
  return best;
}

// The far end of a loopback connection that reads and counts bytes, in the chunk size the
// channel reads with: what a plain socket costs to read, with no packets made of the bytes.
class ByteSink {
 public:
  ByteSink() : listener_(kst::TcpListenLoopback(0, 2)) {}
  ~ByteSink() {
    socket_.Shutdown();
    if (thread_.joinable()) thread_.join();
  }
  int Port() const { return listener_.LocalPort(); }
  // Takes the connection made to Port() and drains it on a thread of its own.
  void AcceptAndDrain() {
    socket_ = kst::Accept(listener_);
    thread_ = std::thread([this] {
      std::vector<char> buffer(4096);
      for (;;) {
        long n = socket_.Recv(buffer.data(), buffer.size());
        if (n <= 0) return;
        std::lock_guard<std::mutex> lock(mutex_);
        received_ += static_cast<uint64_t>(n);
        if (received_ >= waiting_for_) signal_.notify_all();
      }
    });
  }
  uint64_t Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  void WaitFor(uint64_t total) {
    std::unique_lock<std::mutex> lock(mutex_);
    waiting_for_ = total;
    signal_.wait(lock, [&] { return received_ >= total; });
  }

 private:
  kst::KstSocket listener_;
  kst::KstSocket socket_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable signal_;
  uint64_t received_ = 0;
  uint64_t waiting_for_ = UINT64_MAX;
};

KorMessage MessageWith(const std::string& attachment, int type) {
  KorMessage message;
  message.stage = 2;
  message.type = type;
  message.uuid = "00008110-0012345678901234";
  message.attachment = reinterpret_cast<const uint8_t*>(attachment.data());
  message.attachment_length = attachment.size();
  return message;
}

constexpr KorPacketHeader kHeader{42, 2, 300};

// `count` messages of `attachment` through the client's send path until all have arrived as
// packets at the receiving channel.
Cost ChannelCost(Receiver& receiver, kst::IPCConnection* connection, const std::string& attachment, int type,
                 int count) {
  uint64_t before = receiver.Packets();
  CostMeter meter;
  for (int i = 0; i < count; ++i) KorClient::Instance().SendOn(connection, kHeader, MessageWith(attachment, type));
  receiver.WaitFor(before + static_cast<uint64_t>(count));
  return meter.Stop();
}

// The same through the client's send path into a byte sink.
Cost SinkCost(ByteSink& sink, kst::IPCConnection* connection, const std::string& attachment, int count) {
  uint64_t before = sink.Received();
  CostMeter meter;
  for (int i = 0; i < count; ++i) KorClient::Instance().SendOn(connection, kHeader, MessageWith(attachment, 1));
  uint64_t text = KorMessageText(MessageWith(attachment, 1)).size();
  sink.WaitFor(before + (kst::kPacketHeaderSize + text + attachment.size()) * static_cast<uint64_t>(count));
  return meter.Stop();
}

// Writes `count` × `size` bytes over a plain loopback connection into a byte sink; with
// `no_delay` the socket sends each write at once, as the link's socket does.
Cost PlainSocketCost(size_t size, int count, bool no_delay) {
  ByteSink sink;
  kst::KstSocket writer = kst::TcpConnectLoopback(static_cast<uint16_t>(sink.Port()));
  writer.SetNoDelay(no_delay);
  sink.AcceptAndDrain();
  std::string data(size, 'x');
  CostMeter meter;
  for (int i = 0; i < count; ++i) writer.SendAll(data.data(), data.size());
  sink.WaitFor(static_cast<uint64_t>(size) * count);
  return meter.Stop();
}

struct Link {
  Receiver receiver;
  ByteSink sink;
  kst::IPCConnection* to_channel = nullptr;
  kst::IPCConnection* to_sink = nullptr;
};

struct TypeOneCase {
  size_t size;
  int count;
  double target;  // least ratio the send path must reach against the plain socket
};

void TypeOneTable(Link& link) {
  const TypeOneCase cases[] = {{1024, 40000, 0.7}, {64 * 1024, 4000, 0.9}, {4 * 1024 * 1024, 60, 0.9}};
  std::printf("type-1 attachments through the client's send path (best of %d rounds)\n", kRounds);
  std::printf("%-8s %10s %9s %9s %9s %9s %9s %9s %9s %9s\n", "size", "plain MB/s", "sink MB/s", "sink wall", "sink cpu",
              "nd wall", "nd cpu", "chan MB/s", "chan wall", "chan cpu");
  std::string verdicts;
  for (const TypeOneCase& c : cases) {
    std::string attachment = MakeAttachment(c.size);
    Cost plain;
    Cost plain_no_delay;
    Cost sink;
    Cost channel;
    for (int round = 0; round < kRounds; ++round) {
      plain.KeepBest(PlainSocketCost(c.size, c.count, false));
      plain_no_delay.KeepBest(PlainSocketCost(c.size, c.count, true));
      sink.KeepBest(SinkCost(link.sink, link.to_sink, attachment, c.count));
      channel.KeepBest(ChannelCost(link.receiver, link.to_channel, attachment, 1, c.count));
    }
    double data_mb = static_cast<double>(c.size) * c.count / 1e6;
    std::printf("%-8zu %10.1f %9.1f %9.3f %9.3f %9.3f %9.3f %9.1f %9.3f %9.3f\n", c.size, data_mb / plain.wall,
                data_mb / sink.wall, plain.wall / sink.wall, plain.cpu / sink.cpu, plain_no_delay.wall / sink.wall,
                plain_no_delay.cpu / sink.cpu, data_mb / channel.wall, plain.wall / channel.wall,
                plain.cpu / channel.cpu);
    double ratio = plain_no_delay.cpu / sink.cpu;
    char line[160];
    std::snprintf(line, sizeof(line), "  %-8zu send path %.2f of the plain socket (target %.1f): %s\n", c.size, ratio,
                  c.target, ratio >= c.target ? "met" : "BELOW TARGET");
    verdicts += line;
  }
  std::printf(
      "ratios = plain socket / send path for the same attachment bytes (1.0 = as cheap as a bare socket), in\n"
      "elapsed time (wall) and in processor time of all threads (cpu, steadier on a busy machine);\n"
      "sink: the bytes are read like the plain socket's; nd: against a plain socket that, like the link's,\n"
      "sends every write at once (TCP_NODELAY: a reply must not wait for the previous one's\n"
      "acknowledgement); chan: a packet channel cuts the bytes into packets.\n"
      "The plain-socket columns without nd let the kernel coalesce small writes, which the link must not.\n"
      "Verdict (processor time against the plain socket with the link's socket options):\n%s",
      verdicts.c_str());
}

using Compressor = bool (*)(const uint8_t*, size_t, int, std::vector<uint8_t>*);

// MB of input per second of processor time (the other threads of this process are idle then, and
// other processes on the machine do not count), and the compressed size; about 8 MB per round.
std::pair<double, size_t> CompressRate(Compressor compress, const std::string& data) {
  int repeats = static_cast<int>(std::max<size_t>(1, 8000000 / data.size()));
  std::vector<uint8_t> out;
  double seconds = BestOf(3, [&] {
    double start = CpuSeconds();
    for (int i = 0; i < repeats; ++i) compress(reinterpret_cast<const uint8_t*>(data.data()), data.size(), 9, &out);
    return CpuSeconds() - start;
  });
  return {static_cast<double>(data.size()) * repeats / 1e6 / seconds, out.size()};
}

void TypeZeroTable(Link& link) {
  struct Listing {
    const char* name;
    std::string data;
  };
  const Listing listings[] = {{"50 messages", bench::MessageBatchAttachment()},
                              {"600 photos", bench::PhotoBatchAttachment()},
                              {"100 contacts", bench::ContactChunkAttachment()}};
  std::printf("\ntype-0 listing attachments, zlib format at level 9 (compressors: MB of data per CPU second, bytes\n"
              "after compression; link: the same through the whole send path, which picks the compressor, per CPU second\n"
              "of all threads, and per elapsed second)\n");
  std::printf("%-13s %8s %10s %10s %12s %12s %8s %10s %10s\n", "attachment", "bytes", "zlib MB/s", "zlib out",
              "libdeflate", "libdefl. out", "speed-up", "link cpu", "link wall");
  for (const Listing& listing : listings) {
    auto [zlib_rate, zlib_size] = CompressRate(&kst::ZlibCompress, listing.data);
    auto [fast_rate, fast_size] = CompressRate(&kst::DeflateZlibFormat, listing.data);
    int count = static_cast<int>(std::max<size_t>(1, 4000000 / listing.data.size()));
    Cost through;
    for (int round = 0; round < 3; ++round) {
      through.KeepBest(ChannelCost(link.receiver, link.to_channel, listing.data, 0, count));
    }
    double data_mb = static_cast<double>(listing.data.size()) * count / 1e6;
    std::printf("%-13s %8zu %10.1f %10zu %12.1f %12zu %8.2f %10.1f %10.1f\n", listing.name, listing.data.size(),
                zlib_rate, zlib_size, fast_rate, fast_size, fast_rate / zlib_rate, data_mb / through.cpu,
                data_mb / through.wall);
  }
}

// Connects the client to the receiving channel and to the byte sink.
bool SetUp(Link* link) {
  kst::IPCListen* listen = link->receiver.channel.Listen(0);
  KorClient& client = KorClient::Instance();
  if (!listen || !client.ConnectFrontend(listen->port, 1) || !client.ConnectFrontend(link->sink.Port(), 1)) return false;
  link->sink.AcceptAndDrain();
  for (kst::IPCConnection* connection : client.ClientChannel().Connections()) {
    if (connection->port == listen->port) link->to_channel = connection;
    if (connection->port == link->sink.Port()) link->to_sink = connection;
  }
  while (!link->receiver.channel.HasConnections()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return link->to_channel && link->to_sink;
}

}  // namespace

int main() {
  static Link link;  // never destroyed: the client's channel threads outlive main
  if (!SetUp(&link)) {
    std::fprintf(stderr, "cannot set up the loopback links\n");
    return 1;
  }
  TypeOneTable(link);
  TypeZeroTable(link);
  std::fflush(stdout);
  std::_Exit(0);
}
