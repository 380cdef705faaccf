// The AFC client against a scripted AFC peer on a socket pair: error numbers, large reads served
// in pieces, replies that break the protocol, many threads sharing one connection, and batches of
// file-information requests kept in flight together.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
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

// The information pairs of each path of a batch, "" for a path that failed, and each result.
struct BatchOutcome {
  afc_error_t overall = kAFCSuccess;
  std::vector<afc_error_t> results;
  std::vector<std::string> sizes;  // the "st_size" value, or "" without information
};

BatchOutcome StatBatch(AFCConnectionRef afc, const std::vector<const char*>& paths) {
  BatchOutcome outcome;
  std::vector<AFCDictionaryRef> infos(paths.size(), nullptr);
  outcome.results.assign(paths.size(), -1);
  outcome.overall = Fw().KorAFCFileInfoOpenBatch(afc, paths.data(), paths.size(), infos.data(), outcome.results.data());
  for (AFCDictionaryRef info : infos) {
    std::string size;
    char *key = nullptr, *value = nullptr;
    while (info != nullptr && Fw().AFCKeyValueRead(info, &key, &value) == kAFCSuccess && key != nullptr) {
      if (std::string(key) == "st_size") size = value;
    }
    if (info != nullptr) Fw().AFCKeyValueClose(info);
    outcome.sizes.push_back(size);
  }
  return outcome;
}

// "/f<n>" is a file of n bytes, "/missing..." is not there, "/dir" is a directory.
Reply FileInfoFor(const Request& request) {
  const std::string path = PathOf(request);
  if (request.operation != kFileInfo) return Status(7);
  if (path.rfind("/missing", 0) == 0) return Status(8);
  if (path == "/dir") return Data(std::string("st_size\0" "96\0st_ifmt\0S_IFDIR\0", 26));
  return Data("st_size" + std::string(1, '\0') + path.substr(2) + '\0' + "st_ifmt" + '\0' + "S_IFREG" + '\0');
}

TEST_F(AfcClient, BatchedFileInformationAnswersEveryPathInOrder) {
  AfcPeer peer(FileInfoFor);
  AFCConnectionRef afc = Open(peer);
  // More paths than one locked stretch of a batch, with failures and a null path among them.
  std::vector<std::string> names;
  for (int i = 0; i < 1100; ++i) {
    names.push_back(i % 97 == 5 ? "/missing" + std::to_string(i) : "/f" + std::to_string(i));
  }
  names[300] = "/dir";
  std::vector<const char*> paths;
  for (const std::string& name : names) paths.push_back(name.c_str());
  paths[700] = nullptr;
  const BatchOutcome outcome = StatBatch(afc, paths);
  EXPECT_EQ(outcome.overall, kAFCSuccess);
  for (size_t i = 0; i < names.size(); ++i) {
    if (i == 700) {
      EXPECT_EQ(outcome.results[i], kAFCInvalidArgumentError);
    } else if (i % 97 == 5) {
      EXPECT_EQ(outcome.results[i], kAFCNotFoundError) << i;
      EXPECT_EQ(outcome.sizes[i], "") << i;
    } else {
      EXPECT_EQ(outcome.results[i], kAFCSuccess) << i;
      EXPECT_EQ(outcome.sizes[i], i == 300 ? "96" : std::to_string(i)) << i;
    }
  }
  EXPECT_EQ(peer.requests(), 1099);
  // The connection is in step afterwards.
  AFCDictionaryRef info = nullptr;
  EXPECT_EQ(Fw().AFCFileInfoOpen(afc, "/f7", &info), kAFCSuccess);
  Fw().AFCKeyValueClose(info);
  EXPECT_EQ(Fw().KorAFCFileInfoOpenBatch(afc, nullptr, 0, nullptr, nullptr), kAFCSuccess);
  EXPECT_EQ(Fw().KorAFCFileInfoOpenBatch(afc, nullptr, 1, nullptr, nullptr), kAFCInvalidArgumentError);
  Fw().AFCConnectionClose(afc);
}

TEST_F(AfcClient, BatchKeepsABoundedWindowOfRequestsInFlight) {
  int sockets[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
  // The device here answers nothing until the host stops sending, then everything it got.
  std::atomic<size_t> unanswered_at_most{0};
  std::thread device([&] {
    std::string pending;
    size_t answered = 0;
    char buffer[65536];
    for (;;) {
      pollfd entry{sockets[1], POLLIN, 0};
      if (poll(&entry, 1, 300) == 0) {
        size_t count = 0;
        std::string replies;
        while (pending.size() >= 40) {
          const uint64_t length = ReadU64(pending, 8);
          if (pending.size() < length) break;
          const uint64_t packet = ReadU64(pending, 24);
          const std::string body = "st_size" + std::string(1, '\0') + "1" + '\0';
          replies += "CFA6LPAA" + U64(40 + body.size()) + U64(40) + U64(packet) + U64(kData) + body;
          pending.erase(0, length);
          ++count;
        }
        unanswered_at_most = std::max<size_t>(unanswered_at_most, count);
        answered += count;
        if (count == 0 || send(sockets[1], replies.data(), replies.size(), MSG_NOSIGNAL) < 0) break;
        continue;
      }
      const ssize_t got = recv(sockets[1], buffer, sizeof(buffer), 0);
      if (got <= 0) break;
      pending.append(buffer, static_cast<size_t>(got));
    }
    (void)answered;
  });
  AFCConnectionRef afc = nullptr;
  ASSERT_EQ(Fw().AFCConnectionOpen(sockets[0], 0, &afc), kAFCSuccess);
  std::vector<std::string> names(200, "/song.mp3");
  std::vector<const char*> paths;
  for (const std::string& name : names) paths.push_back(name.c_str());
  const BatchOutcome outcome = StatBatch(afc, paths);
  EXPECT_EQ(outcome.overall, kAFCSuccess);
  EXPECT_EQ(outcome.sizes.back(), "1");
  Fw().AFCConnectionClose(afc);
  shutdown(sockets[0], SHUT_RDWR);
  device.join();
  close(sockets[0]);
  close(sockets[1]);
  // Several requests were out at once, but never more than the window.
  EXPECT_GT(unanswered_at_most.load(), 8u);
  EXPECT_LE(unanswered_at_most.load(), 64u);
}

TEST_F(AfcClient, ABadReplyInABatchFailsTheRestAndStopsTheConnection) {
  struct Case {
    const char* name;
    std::string raw;  // the reply to the fourth path
    afc_error_t expected;
  };
  const std::vector<Case> cases = {
      {"wrong packet number", "CFA6LPAA" + U64(48) + U64(40) + U64(77) + U64(kStatus) + U64(0), kAFCBadHeaderError},
      {"bad magic", "CFA6LPAB" + U64(48) + U64(40) + U64(3) + U64(kStatus) + U64(0), kAFCBadHeaderError},
      {"unexpected operation", "CFA6LPAA" + U64(48) + U64(40) + U64(3) + U64(kTellResult) + U64(0),
       kAFCUnknownPacketError},
      {"huge body", "CFA6LPAA" + U64(40 + (1 << 20)) + U64(40) + U64(3) + U64(kData), kAFCOverrunError},
      {"status without a number", "CFA6LPAA" + U64(44) + U64(40) + U64(3) + U64(kStatus) + "abcd",
       kAFCBadHeaderError},
      {"cut off", "CFA6LPAA" + U64(140) + U64(40) + U64(3) + U64(kData) + "st_size", kAFCNotConnectedError},
  };
  for (const Case& test : cases) {
    int client_socket = -1;
    AfcPeer peer([&](const Request& request) {
      if (PathOf(request) == "/f3") {
        Reply reply;
        reply.raw = test.raw;
        return reply;
      }
      // A cut-off reply stays cut off: the host's side of the stream ends before anything more.
      if (PathOf(request) == "/f4" && std::string(test.name) == "cut off") shutdown(client_socket, SHUT_RD);
      return FileInfoFor(request);
    });
    client_socket = peer.client_socket();
    AFCConnectionRef afc = Open(peer);
    const BatchOutcome outcome = StatBatch(afc, {"/f0", "/f1", "/f2", "/f3", "/f4", "/f5"});
    EXPECT_EQ(outcome.overall, test.expected) << test.name;
    EXPECT_EQ(outcome.sizes[2], "2") << test.name;
    for (size_t i = 3; i < 6; ++i) {
      EXPECT_EQ(outcome.results[i], test.expected) << test.name << " " << i;
      EXPECT_EQ(outcome.sizes[i], "") << test.name << " " << i;
    }
    EXPECT_EQ(Fw().AFCRemovePath(afc, "/after"), kAFCNotConnectedError) << test.name;
    Fw().AFCConnectionClose(afc);
  }
}

}  // namespace
}  // namespace devicefw_test
