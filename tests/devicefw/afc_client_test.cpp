// The AFC client against a scripted AFC peer on a socket pair: error numbers, large reads served
// in pieces, replies that break the protocol, and many threads sharing one connection.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "framework_loader.h"

namespace devicefw_test {
namespace {

constexpr uint64_t kStatus = 0x01, kData = 0x02, kReadDir = 0x03, kRemove = 0x08, kFileInfo = 0x0A, kOpen = 0x0D,
                   kOpenResult = 0x0E, kRead = 0x0F, kWrite = 0x10, kTell = 0x12, kTellResult = 0x13;

std::string U64(uint64_t value) {
  std::string out(8, '\0');
  for (int i = 0; i < 8; ++i) out[i] = static_cast<char>(value >> (8 * i));
  return out;
}

uint64_t ReadU64(const std::string& bytes, size_t at) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

struct Request {
  uint64_t packet = 0;
  uint64_t operation = 0;
  std::string parameters;
  std::string payload;
};

struct Reply {
  uint64_t operation = kStatus;
  std::string body = U64(0);
  std::string raw;  // sent as is instead, to break the protocol
};

Reply Status(uint64_t code) { return Reply{kStatus, U64(code), ""}; }
Reply Data(std::string body, uint64_t operation = kData) { return Reply{operation, std::move(body), ""}; }

// Answers AFC requests on one end of a socket pair with `handler`, until the client hangs up.
class AfcPeer {
 public:
  explicit AfcPeer(std::function<Reply(const Request&)> handler) : handler_(std::move(handler)) {
    int sockets[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
    client_ = sockets[0];
    server_ = sockets[1];
    thread_ = std::thread([this] { Serve(); });
  }
  ~AfcPeer() {
    shutdown(client_, SHUT_RDWR);
    thread_.join();
    close(client_);
    close(server_);
  }
  int client_socket() const { return client_; }
  int requests() const { return requests_.load(); }

 private:
  bool ReadExactly(std::string* out, size_t length) {
    out->resize(length);
    size_t got = 0;
    while (got < length) {
      const ssize_t n = recv(server_, out->data() + got, length - got, 0);
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    return true;
  }

  void Serve() {
    std::string header;
    while (ReadExactly(&header, 40)) {
      if (header.compare(0, 8, "CFA6LPAA") != 0) return;
      Request request;
      const uint64_t entire = ReadU64(header, 8), this_length = ReadU64(header, 16);
      request.packet = ReadU64(header, 24);
      request.operation = ReadU64(header, 32);
      if (!ReadExactly(&request.parameters, this_length - 40) || !ReadExactly(&request.payload, entire - this_length)) return;
      ++requests_;
      const Reply reply = handler_(request);
      std::string out = reply.raw;
      if (out.empty()) {
        out = "CFA6LPAA" + U64(40 + reply.body.size()) + U64(40) + U64(request.packet) + U64(reply.operation) + reply.body;
      }
      if (send(server_, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size())) return;
    }
  }

  std::function<Reply(const Request&)> handler_;
  int client_ = -1, server_ = -1;
  std::atomic<int> requests_{0};
  std::thread thread_;
};

std::string PathOf(const Request& request) { return std::string(request.parameters.c_str()); }

class AfcClient : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Fw().error, ""); }

  AFCConnectionRef Open(AfcPeer& peer) {
    AFCConnectionRef afc = nullptr;
    EXPECT_EQ(Fw().AFCConnectionOpen(peer.client_socket(), 0, &afc), kAFCSuccess);
    return afc;
  }
};

TEST_F(AfcClient, DeviceStatusNumbersComeBackUnchanged) {
  AfcPeer peer([](const Request& request) {
    if (PathOf(request) == "/missing") return Status(8);
    if (PathOf(request) == "/dir") return Status(9);
    if (PathOf(request) == "/busy") return Status(33);
    return Status(0);
  });
  AFCConnectionRef afc = Open(peer);
  EXPECT_EQ(Fw().AFCRemovePath(afc, "/missing"), kAFCNotFoundError);
  EXPECT_EQ(Fw().AFCRemovePath(afc, "/dir"), kAFCIsDirectoryError);
  EXPECT_EQ(Fw().AFCRemovePath(afc, "/busy"), 33);
  EXPECT_EQ(Fw().AFCRemovePath(afc, "/fine"), kAFCSuccess);
  EXPECT_EQ(Fw().AFCConnectionClose(afc), kAFCSuccess);
}

TEST_F(AfcClient, ListingsAndKeyValuesAreReadLocallyToTheEnd) {
  AfcPeer peer([](const Request& request) {
    if (request.operation == kReadDir) return Data(std::string(".\0..\0a.jpg\0b\0", 13));
    if (request.operation == kFileInfo) return Data(std::string("st_size\0" "42\0st_ifmt\0S_IFREG\0dangling\0", 35));
    return Status(1);
  });
  AFCConnectionRef afc = Open(peer);
  AFCDirectoryRef directory = nullptr;
  ASSERT_EQ(Fw().AFCDirectoryOpen(afc, "/DCIM", &directory), kAFCSuccess);
  std::vector<std::string> names;
  char* name = nullptr;
  while (Fw().AFCDirectoryRead(afc, directory, &name) == kAFCSuccess && name != nullptr) names.emplace_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "a.jpg", "b"}));
  AFCDictionaryRef info = nullptr;
  ASSERT_EQ(Fw().AFCFileInfoOpen(afc, "/DCIM/a.jpg", &info), kAFCSuccess);
  std::vector<std::string> pairs;
  char *key = nullptr, *value = nullptr;
  while (Fw().AFCKeyValueRead(info, &key, &value) == kAFCSuccess && key != nullptr) pairs.push_back(std::string(key) + "=" + value);
  EXPECT_EQ(pairs, (std::vector<std::string>{"st_size=42", "st_ifmt=S_IFREG"}));
  EXPECT_EQ(Fw().AFCKeyValueClose(info), kAFCSuccess);
  // The listing is left open: closing the connection frees it.
  EXPECT_EQ(Fw().AFCConnectionClose(afc), kAFCSuccess);
}

TEST_F(AfcClient, ReadsAreServedFullyAcrossShortRepliesUntilTheEnd) {
  constexpr size_t kFileSize = 5 * 1000 * 1000 + 17;
  std::atomic<size_t> position{0};
  AfcPeer peer([&](const Request& request) {
    if (request.operation == kOpen) return Data(U64(7), kOpenResult);
    if (request.operation != kRead || ReadU64(request.parameters, 0) != 7) return Status(7);
    // At most 1 MB per reply, however much was asked.
    const size_t wanted = std::min<size_t>({ReadU64(request.parameters, 8), 1000000, kFileSize - position});
    std::string chunk(wanted, '\0');
    for (size_t i = 0; i < wanted; ++i) chunk[i] = static_cast<char>((position + i) % 251);
    position += wanted;
    return Data(chunk);
  });
  AFCConnectionRef afc = Open(peer);
  AFCFileRef file = 0;
  ASSERT_EQ(Fw().AFCFileRefOpen(afc, "/big", kAFCFileModeReadOnly, &file), kAFCSuccess);
  EXPECT_EQ(file, 7u);
  std::vector<uint8_t> buffer(4 << 20);
  uint32_t length = static_cast<uint32_t>(buffer.size());
  ASSERT_EQ(Fw().AFCFileRefRead(afc, file, buffer.data(), &length), kAFCSuccess);
  EXPECT_EQ(length, 4u << 20);
  EXPECT_EQ(buffer[1234567], 1234567 % 251);
  length = static_cast<uint32_t>(buffer.size());
  ASSERT_EQ(Fw().AFCFileRefRead(afc, file, buffer.data(), &length), kAFCSuccess);
  EXPECT_EQ(length, kFileSize - (4u << 20));
  EXPECT_EQ(buffer[length - 1], (kFileSize - 1) % 251);
  length = static_cast<uint32_t>(buffer.size());
  ASSERT_EQ(Fw().AFCFileRefRead(afc, file, buffer.data(), &length), kAFCSuccess);
  EXPECT_EQ(length, 0u);
  Fw().AFCConnectionClose(afc);
}

TEST_F(AfcClient, WritesCarryTheirDataAndTellReadsItsReply) {
  std::string received;
  AfcPeer peer([&](const Request& request) {
    if (request.operation == kWrite) {
      received += request.payload;
      return Status(0);
    }
    if (request.operation == kTell) return Data(U64(received.size()), kTellResult);
    return Status(7);
  });
  AFCConnectionRef afc = Open(peer);
  const std::string content(300000, 'q');
  EXPECT_EQ(Fw().AFCFileRefWrite(afc, 3, content.data(), static_cast<uint32_t>(content.size())), kAFCSuccess);
  uint64_t position = 0;
  EXPECT_EQ(Fw().AFCFileRefTell(afc, 3, &position), kAFCSuccess);
  EXPECT_EQ(position, content.size());
  EXPECT_EQ(received, content);
  EXPECT_EQ(Fw().AFCFileRefSeek(afc, 3, 0, 7), kAFCInvalidArgumentError);
  EXPECT_EQ(Fw().AFCFileRefOpen(afc, "/x", 9, nullptr), kAFCInvalidArgumentError);
  Fw().AFCConnectionClose(afc);
}

TEST_F(AfcClient, RepliesThatBreakTheProtocolFailAndStopTheConnection) {
  struct Case {
    const char* name;
    Reply reply;
    afc_error_t expected;
  };
  const std::vector<Case> cases = {
      {"bad magic", Reply{0, "", "XXXXXXXX" + U64(48) + U64(40) + U64(0) + U64(1) + U64(0)}, kAFCBadHeaderError},
      {"this length below the header", Reply{0, "", "CFA6LPAA" + U64(48) + U64(8) + U64(0) + U64(1) + U64(0)},
       kAFCBadHeaderError},
      {"entire length below this length", Reply{0, "", "CFA6LPAA" + U64(40) + U64(48) + U64(0) + U64(1) + U64(0)},
       kAFCBadHeaderError},
      {"wrong packet number", Reply{0, "", "CFA6LPAA" + U64(48) + U64(40) + U64(99) + U64(1) + U64(0)},
       kAFCBadHeaderError},
      {"status without a number", Reply{0, "", "CFA6LPAA" + U64(44) + U64(40) + U64(0) + U64(1) + "abcd"},
       kAFCBadHeaderError},
      {"more data than asked", Data(std::string(100, 'x')), kAFCOverrunError},
      {"unexpected operation", Data(U64(1), kTellResult), kAFCUnknownPacketError},
  };
  for (const Case& test : cases) {
    AfcPeer peer([&](const Request& request) { return request.operation == kRead ? test.reply : Status(0); });
    AFCConnectionRef afc = Open(peer);
    std::vector<uint8_t> buffer(10);
    uint32_t length = 10;
    EXPECT_EQ(Fw().AFCFileRefRead(afc, 1, buffer.data(), &length), test.expected) << test.name;
    EXPECT_EQ(Fw().AFCRemovePath(afc, "/after"), kAFCNotConnectedError) << test.name;
    Fw().AFCConnectionClose(afc);
  }
}

TEST_F(AfcClient, ConcurrentCallersGetTheirOwnReplies) {
  AfcPeer peer([](const Request& request) {
    // Each thread asks about its own path and must get exactly that path back.
    if (request.operation == kFileInfo) return Data(std::string("path") + '\0' + PathOf(request) + '\0');
    if (request.operation == kRead) return Data(std::string(ReadU64(request.parameters, 8), static_cast<char>(ReadU64(request.parameters, 0))));
    return Status(7);
  });
  AFCConnectionRef afc = Open(peer);
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      const std::string path = "/thread/" + std::to_string(t);
      std::vector<uint8_t> buffer(70000);
      for (int i = 0; i < 150; ++i) {
        AFCDictionaryRef info = nullptr;
        char *key = nullptr, *value = nullptr;
        if (Fw().AFCFileInfoOpen(afc, path.c_str(), &info) != kAFCSuccess ||
            Fw().AFCKeyValueRead(info, &key, &value) != kAFCSuccess || value == nullptr || path != value) {
          ++mismatches;
        }
        if (info != nullptr) Fw().AFCKeyValueClose(info);
        uint32_t length = static_cast<uint32_t>(buffer.size());
        if (Fw().AFCFileRefRead(afc, static_cast<AFCFileRef>('a' + t), buffer.data(), &length) != kAFCSuccess ||
            length != buffer.size() || buffer.front() != 'a' + t || buffer.back() != 'a' + t) {
          ++mismatches;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
  Fw().AFCConnectionClose(afc);
}

}  // namespace
}  // namespace devicefw_test
