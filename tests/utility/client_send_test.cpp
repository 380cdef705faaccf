// The client's send path seen from the receiving end of a real loopback link: every message
// leaves whole, however many threads send at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frontend_message.h"
#include "ipc/ipc_packet_channel.h"
#include "utility/ios/kor_client.h"

namespace {

using namespace std::chrono_literals;

// The front-end's side: a listening packet channel that keeps every packet it is given.
class FrontEndEnd {
 public:
  FrontEndEnd() {
    channel_.SetReceiveCallback([this](kst::IPCPacket* packet) {
      kst::IPCPacketPtr owned(packet);
      std::lock_guard<std::mutex> lock(mutex_);
      if (packet->length > 0) {
        messages_.push_back(frontend::DecodeMessage(packet->command, packet->status, packet->task_id,
                                                    packet->payload, static_cast<size_t>(packet->length)));
      }
      signal_.notify_all();
      return 0;
    });
  }
  int Listen() {
    kst::IPCListen* listen = channel_.Listen(0);
    return listen ? listen->port : 0;
  }
  bool WaitForMessages(size_t count, std::chrono::seconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return signal_.wait_for(lock, timeout, [&] { return messages_.size() >= count; });
  }
  std::vector<frontend::Message> Messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }

 private:
  kst::IPCPacketChannel channel_;
  std::mutex mutex_;
  std::condition_variable signal_;
  std::vector<frontend::Message> messages_;
};

// Each sender's attachment: its own byte, with its number at every 4 KiB so that a piece of one
// sender's bytes found in another's message cannot go unnoticed.
std::string SenderBytes(int sender, size_t size) {
  std::string bytes(size, static_cast<char>('A' + sender));
  for (size_t at = 0; at < size; at += 4096) bytes[at] = static_cast<char>('0' + sender);
  return bytes;
}

TEST(ClientSendTest, FourMebibyteMessagesFromEightThreadsArriveWholeAndUnmixed) {
  constexpr int kSenders = 8;
  constexpr int kMessagesEach = 2;
  constexpr size_t kSize = 4 * 1024 * 1024;
  FrontEndEnd front_end;
  int port = front_end.Listen();
  ASSERT_GT(port, 0);
  ASSERT_TRUE(KorClient::Instance().ConnectFrontend(port, 1));

  std::vector<std::string> attachments;
  for (int sender = 0; sender < kSenders; ++sender) attachments.push_back(SenderBytes(sender, kSize));
  std::atomic<int> failures{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> senders;
  for (int sender = 0; sender < kSenders; ++sender) {
    senders.emplace_back([&, sender] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kMessagesEach; ++i) {
        KorMessage message;
        message.stage = 2;
        message.type = kKorMessageTypeRaw;
        message.uuid = "sender-" + std::to_string(sender);
        message.attachment = reinterpret_cast<const uint8_t*>(attachments[sender].data());
        message.attachment_length = kSize;
        if (KorClient::Instance().Send(KorPacketHeader{static_cast<uint64_t>(100 + sender), 2, 300}, message) != 0) {
          ++failures;
        }
      }
    });
  }
  go = true;
  for (std::thread& thread : senders) thread.join();
  EXPECT_EQ(failures.load(), 0);

  ASSERT_TRUE(front_end.WaitForMessages(kSenders * kMessagesEach, 30s));
  std::vector<frontend::Message> messages = front_end.Messages();
  ASSERT_EQ(messages.size(), static_cast<size_t>(kSenders * kMessagesEach));
  std::vector<int> per_sender(kSenders, 0);
  for (const frontend::Message& message : messages) {
    ASSERT_TRUE(message.valid) << message.error;
    int sender = static_cast<int>(message.task) - 100;
    ASSERT_GE(sender, 0);
    ASSERT_LT(sender, kSenders);
    EXPECT_EQ(message.uuid, "sender-" + std::to_string(sender));
    EXPECT_EQ(message.type, kKorMessageTypeRaw);
    ASSERT_EQ(message.attachment.size(), kSize);
    EXPECT_TRUE(message.attachment == attachments[sender]) << "message of sender " << sender << " is mixed";
    ++per_sender[sender];
  }
  for (int sender = 0; sender < kSenders; ++sender) EXPECT_EQ(per_sender[sender], kMessagesEach) << sender;
  KorClient::Instance().Shutdown();  // before the front-end's end goes, so no loss reaches the client
}

}  // namespace
