// Malformed and hostile input on every channel gets an error answer or a closed connection and
// a log line, and the server keeps serving everyone else; requests a host sends ahead of its
// replies are answered in order.
#include <gtest/gtest.h>

#include "afc_protocol.h"
#include "byte_order.h"
#include "device_session.h"
#include "mux_protocol.h"
#include "platform/kst_fs.h"
#include "platform/kst_socket.h"
#include "vdevice_fixture.h"
#include "virtual_device.h"

namespace vdevice_test {
namespace {

using vdevice::PlistPtr;

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    profile_ = vd_.MakeProfile("demo");
    udid_ = VdeviceFixture::ProfileUdid(profile_);
    ASSERT_TRUE(vd_.Start({profile_})) << vd_.ServerLog();
    vd_.ExportSocketAddress();
  }

  kst::KstSocket Connect(const std::string& address) {
    kst::StreamAddress parsed;
    EXPECT_TRUE(kst::ParseStreamAddress(address, &parsed));
    return kst::ConnectStreamAddress(parsed);
  }
  kst::KstSocket ConnectMux() { return Connect(vd_.socket_address()); }

  static bool SendBytes(const kst::KstSocket& socket, const std::string& bytes) {
    return socket.SendAll(bytes.data(), bytes.size());
  }

  // True when the peer closes (or resets) without sending anything within two seconds.
  static bool ClosedByPeer(const kst::KstSocket& socket) {
    if (!socket.WaitReadable(2000)) return false;
    char byte;
    return socket.Recv(&byte, 1) <= 0;
  }

  static PlistPtr Request(const char* type) {
    PlistPtr message = vdevice::MakeDict();
    vdevice::SetString(message.get(), "MessageType", type);
    return message;
  }

  // Sends one usbmuxd request and returns the reply body (null when the connection closed).
  static PlistPtr Exchange(const kst::KstSocket& socket, plist_t request) {
    if (!SendBytes(socket, vdevice::EncodeMuxMessage(5, request))) return nullptr;
    uint32_t tag = 0;
    PlistPtr reply;
    std::string error;
    return vdevice::ReadMuxMessage(socket, &tag, &reply, &error) == vdevice::MuxReadStatus::kMessage ? std::move(reply)
                                                                                                       : nullptr;
  }

  uint64_t ConnectResult(const kst::KstSocket& socket, uint64_t device_id, uint16_t port) {
    PlistPtr connect = Request("Connect");
    vdevice::SetUnsigned(connect.get(), "DeviceID", device_id);
    vdevice::SetUnsigned(connect.get(), "PortNumber", static_cast<uint16_t>((port >> 8) | (port << 8)));
    PlistPtr reply = Exchange(socket, connect.get());
    return vdevice::DictUnsigned(reply.get(), "Number").value_or(999);
  }

  void ExpectStillServing() {
    kst::KstSocket socket = ConnectMux();
    PlistPtr list = Exchange(socket, Request("ListDevices").get());
    plist_t devices = vdevice::DictItem(list.get(), "DeviceList", PLIST_ARRAY);
    ASSERT_NE(devices, nullptr);
    EXPECT_EQ(plist_array_get_size(devices), 1u);
    EXPECT_EQ(vd_.RunTool("ideviceinfo", {"-k", "ProductVersion"}).out, "16.6\n");
  }

  // A raw connection to the device's AFC service.
  void AfcStream(DeviceSession& session, kst::KstSocket* socket) {
    lockdownd_service_descriptor_t service = nullptr;
    ASSERT_EQ(session.StartService("com.apple.afc", &service), LOCKDOWN_E_SUCCESS);
    *socket = ConnectMux();
    ASSERT_EQ(ConnectResult(*socket, 1, service->port), 0u);
    lockdownd_service_descriptor_free(service);
  }

  static std::string AfcPacket(uint64_t number, uint64_t operation, const std::string& parameters,
                               const std::string& payload = "") {
    uint8_t header[vdevice::kAfcHeaderSize];
    const uint64_t self = vdevice::kAfcHeaderSize + parameters.size();
    vdevice::EncodeAfcHeader({self + payload.size(), self, number, operation}, header);
    return std::string(reinterpret_cast<char*>(header), sizeof(header)) + parameters + payload;
  }

  VdeviceFixture vd_;
  std::string profile_;
  std::string udid_;
};

TEST_F(HostileInputTest, MuxRejectsBadHeadersAndBodies) {
  std::string huge(vdevice::kMuxHeaderSize, '\0');
  uint8_t* raw = reinterpret_cast<uint8_t*>(huge.data());
  vdevice::StoreLittle(raw, 4, 0x7FFFFFFF);
  vdevice::StoreLittle(raw + 4, 4, 1);
  vdevice::StoreLittle(raw + 8, 4, 8);
  kst::KstSocket oversized = ConnectMux();
  ASSERT_TRUE(SendBytes(oversized, huge));
  uint32_t tag;
  PlistPtr reply;
  std::string error;
  ASSERT_EQ(vdevice::ReadMuxMessage(oversized, &tag, &reply, &error), vdevice::MuxReadStatus::kMessage);
  EXPECT_EQ(vdevice::DictUnsigned(reply.get(), "Number"), static_cast<uint64_t>(vdevice::kMuxBadVersion));

  std::string garbage = vdevice::EncodeMuxMessage(1, Request("ListDevices").get());
  garbage.replace(vdevice::kMuxHeaderSize, 5, "#!@$%");
  kst::KstSocket not_a_plist = ConnectMux();
  ASSERT_TRUE(SendBytes(not_a_plist, garbage));
  ASSERT_EQ(vdevice::ReadMuxMessage(not_a_plist, &tag, &reply, &error), vdevice::MuxReadStatus::kMessage);
  EXPECT_TRUE(ClosedByPeer(not_a_plist));

  kst::KstSocket unknown = ConnectMux();
  PlistPtr answer = Exchange(unknown, Request("SelfDestruct").get());
  EXPECT_EQ(vdevice::DictUnsigned(answer.get(), "Number"), static_cast<uint64_t>(vdevice::kMuxBadCommand));

  for (int i = 0; i < 20; ++i) {
    kst::KstSocket abandoned = ConnectMux();
    SendBytes(abandoned, huge.substr(0, 7));
  }
  EXPECT_NE(vd_.ServerLog().find("rejected a malformed request"), std::string::npos);
  ExpectStillServing();
}

TEST_F(HostileInputTest, ConnectToUnknownDevicesAndClosedPortsIsRefused) {
  kst::KstSocket first = ConnectMux();
  EXPECT_EQ(ConnectResult(first, 999, 62078), static_cast<uint64_t>(vdevice::kMuxBadDevice));
  kst::KstSocket second = ConnectMux();
  EXPECT_EQ(ConnectResult(second, 1, 1234), static_cast<uint64_t>(vdevice::kMuxConnectionRefused));
  kst::KstSocket record = ConnectMux();
  PlistPtr read = Request("ReadPairRecord");
  vdevice::SetString(read.get(), "PairRecordID", "nobody");
  EXPECT_EQ(vdevice::DictUnsigned(Exchange(record, read.get()).get(), "Number"), 2u);
  ExpectStillServing();
}

TEST_F(HostileInputTest, LockdownClosesOnOversizedOrGarbageFrames) {
  kst::KstSocket oversized = ConnectMux();
  ASSERT_EQ(ConnectResult(oversized, 1, vdevice::kLockdownPort), 0u);
  ASSERT_TRUE(SendBytes(oversized, std::string("\xff\xff\xff\xff", 4)));
  EXPECT_TRUE(ClosedByPeer(oversized));

  kst::KstSocket garbage = ConnectMux();
  ASSERT_EQ(ConnectResult(garbage, 1, vdevice::kLockdownPort), 0u);
  ASSERT_TRUE(SendBytes(garbage, std::string("\0\0\0\x05hello", 9)));
  EXPECT_TRUE(ClosedByPeer(garbage));
  EXPECT_NE(vd_.ServerLog().find("lockdown: bad request frame"), std::string::npos);
  ExpectStillServing();
}

TEST_F(HostileInputTest, AfcClosesOnBadPacketsAndAnswersBadArgumentsWithErrors) {
  DeviceSession session;
  ASSERT_EQ(session.Open(udid_), LOCKDOWN_E_SUCCESS);
  auto afc_stream = [&](kst::KstSocket* socket) {
    lockdownd_service_descriptor_t service = nullptr;
    ASSERT_EQ(session.StartService("com.apple.afc", &service), LOCKDOWN_E_SUCCESS);
    *socket = ConnectMux();
    ASSERT_EQ(ConnectResult(*socket, 1, service->port), 0u);
    lockdownd_service_descriptor_free(service);
  };
  auto packet = [](uint64_t entire, uint64_t self, uint64_t operation, const std::string& parameters) {
    uint8_t header[vdevice::kAfcHeaderSize];
    vdevice::EncodeAfcHeader({entire, self, 1, operation}, header);
    return std::string(reinterpret_cast<char*>(header), sizeof(header)) + parameters;
  };

  kst::KstSocket huge;
  afc_stream(&huge);
  ASSERT_TRUE(SendBytes(huge, packet(UINT64_MAX, 40, vdevice::kAfcFileWrite, "")));
  EXPECT_TRUE(ClosedByPeer(huge));

  kst::KstSocket bogus;
  afc_stream(&bogus);
  std::string bad_read = vdevice::EncodeAfcU64(12345) + vdevice::EncodeAfcU64(1 << 20);
  ASSERT_TRUE(SendBytes(bogus, packet(56, 56, vdevice::kAfcFileRead, bad_read)));
  uint8_t header[vdevice::kAfcHeaderSize];
  ASSERT_TRUE(bogus.RecvAll(header, sizeof(header)));
  vdevice::AfcHeader decoded;
  std::string error;
  ASSERT_TRUE(vdevice::DecodeAfcHeader(header, &decoded, &error));
  EXPECT_EQ(decoded.operation, static_cast<uint64_t>(vdevice::kAfcStatus));
  EXPECT_EQ(decoded.packet_number, 1u);
  uint8_t status[8];
  ASSERT_TRUE(bogus.RecvAll(status, sizeof(status)));
  EXPECT_EQ(vdevice::LoadLittle(status, 8), static_cast<uint64_t>(vdevice::kAfcInvalidArgument));
  ASSERT_TRUE(SendBytes(bogus, packet(40, 40, 0x7777, "")));
  ASSERT_TRUE(bogus.RecvAll(header, sizeof(header)));
  ASSERT_TRUE(bogus.RecvAll(status, sizeof(status)));
  EXPECT_EQ(vdevice::LoadLittle(status, 8), static_cast<uint64_t>(vdevice::kAfcUnknownPacketType));
  ASSERT_TRUE(SendBytes(bogus, std::string("NOTMAGIC") + std::string(32, '\0')));
  EXPECT_TRUE(ClosedByPeer(bogus));
  ExpectStillServing();
}

// A host may send many requests before it reads any reply; each is answered, in order, as if it
// had come alone, including a write whose data is larger than what the service reads at once.
TEST_F(HostileInputTest, AfcAnswersRequestsSentTogetherInOrder) {
  ASSERT_TRUE(kst::CreateDirectories(profile_ + "/afc/pipe"));
  ASSERT_TRUE(kst::WriteWholeFile(profile_ + "/afc/pipe/a.mp3", "12345"));
  DeviceSession session;
  ASSERT_EQ(session.Open(udid_), LOCKDOWN_E_SUCCESS);
  kst::KstSocket afc;
  AfcStream(session, &afc);
  const std::string big(300000, 'b');
  const char* const kPaths[] = {"/pipe/a.mp3", "/pipe/missing.mp3", "/Books", "/../outside", "/pipe/big.bin"};
  std::string requests = AfcPacket(1, vdevice::kAfcFileOpen, vdevice::EncodeAfcU64(3) + "/pipe/big.bin" + '\0');
  requests += AfcPacket(2, vdevice::kAfcFileWrite, vdevice::EncodeAfcU64(1), big);
  for (uint64_t number = 3; number < 103; ++number) {
    requests += AfcPacket(number, vdevice::kAfcGetFileInfo, std::string(kPaths[number % 5]) + '\0');
  }
  ASSERT_TRUE(SendBytes(afc, requests));

  auto next_reply = [&](uint64_t* operation, std::string* body) {
    uint8_t raw[vdevice::kAfcHeaderSize];
    vdevice::AfcHeader header;
    std::string error;
    if (!afc.RecvAll(raw, sizeof(raw)) || !vdevice::DecodeAfcHeader(raw, &header, &error)) return uint64_t{0};
    body->resize(header.entire_length - vdevice::kAfcHeaderSize);
    if (!afc.RecvAll(body->data(), body->size())) return uint64_t{0};
    *operation = header.operation;
    return header.packet_number;
  };
  uint64_t operation = 0;
  std::string body;
  ASSERT_EQ(next_reply(&operation, &body), 1u);
  EXPECT_EQ(operation, static_cast<uint64_t>(vdevice::kAfcFileOpenResult));
  ASSERT_EQ(next_reply(&operation, &body), 2u);
  EXPECT_EQ(body, vdevice::EncodeAfcU64(vdevice::kAfcSuccess));
  for (uint64_t number = 3; number < 103; ++number) {
    ASSERT_EQ(next_reply(&operation, &body), number);
    const char* path = kPaths[number % 5];
    if (number % 5 == 1 || number % 5 == 3) {
      EXPECT_EQ(operation, static_cast<uint64_t>(vdevice::kAfcStatus)) << path;
      const uint64_t expected = number % 5 == 1 ? vdevice::kAfcObjectNotFound : vdevice::kAfcPermissionDenied;
      EXPECT_EQ(body, vdevice::EncodeAfcU64(expected)) << path;
      continue;
    }
    EXPECT_EQ(operation, static_cast<uint64_t>(vdevice::kAfcData)) << path;
    const std::string size = number % 5 == 0 ? "5" : number % 5 == 4 ? "300000" : "";
    if (!size.empty()) {
      EXPECT_NE(body.find(std::string("st_size\0", 8) + size + '\0'), std::string::npos) << path;
    }
    EXPECT_NE(body.find(number % 5 == 2 ? "S_IFDIR" : "S_IFREG"), std::string::npos) << path;
  }
  std::string written;
  ASSERT_TRUE(kst::ReadWholeFile(profile_ + "/afc/pipe/big.bin", &written));
  EXPECT_EQ(written, big);
}

TEST_F(HostileInputTest, ControlChannelAnswersGarbageAndDropsRunawayLines) {
  std::string control = vd_.socket_address() + ".ctl";
  kst::KstSocket garbage = Connect(control);
  ASSERT_TRUE(SendBytes(garbage, "this is not json\n"));
  char reply[256] = {};
  ASSERT_TRUE(garbage.WaitReadable(2000));
  long got = garbage.Recv(reply, sizeof(reply) - 1);
  ASSERT_GT(got, 0);
  EXPECT_NE(std::string(reply).find("\"status\":2"), std::string::npos) << reply;

  kst::KstSocket runaway = Connect(control);
  SendBytes(runaway, std::string(100000, 'x'));
  EXPECT_TRUE(ClosedByPeer(runaway));
  std::string listing;
  EXPECT_EQ(vd_.Ctl({"list"}, &listing), 0);
  EXPECT_NE(listing.find(udid_), std::string::npos);
}

}  // namespace
}  // namespace vdevice_test
