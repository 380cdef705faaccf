// Block-wise file transfer on the shared simulated device: the reader's plan and blocks, the
// writer's data and state files, resuming, and cleaning up.
#include <gtest/gtest.h>

#include "ipc/file_packet_reader.h"
#include "ipc/file_packet_writer.h"
#include "platform/vel_json_util.h"
#include "shared_device.h"

namespace {

std::string Pattern(size_t size, int seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + static_cast<size_t>(seed)) % 251);
  return bytes;
}

// The description a front-end sends for an upload of `size` bytes.
rapidjson::Document UploadDescription(uint64_t size, uint64_t block = kFilePacketBlockSize) {
  FileDescription description;
  description.size = size;
  description.md5 = "0123";
  description.path = "upload.bin";
  return DescriptionJson(description, PlanBlocks(size, block));
}

class FilePacketTest : public DeviceAfcTest {
 protected:
  // Writes every block the writer asks for, in the order it asks.
  static void FeedAll(FilePacketWriter* writer, const std::string& content) {
    while (auto next = writer->NextRequest()) {
      ASSERT_EQ(writer->WriteBlock(*next, reinterpret_cast<const uint8_t*>(content.data()) + next->offset,
                                   next->offset_length),
                kFilePacketReady);
    }
  }
};

TEST_F(FilePacketTest, ReaderPlansTwoMegabyteBlocks) {
  ASSERT_TRUE(Put(root + "/exact", Pattern(kFilePacketBlockSize, 1)));
  FilePacketReader exact(afc, root + "/exact");
  ASSERT_TRUE(exact.Open());
  EXPECT_EQ(exact.Plan().size(), 1u);

  std::string content = Pattern(kFilePacketBlockSize + 1, 2);
  ASSERT_TRUE(Put(root + "/plus-one", content));
  FilePacketReader reader(afc, root + "/plus-one");
  ASSERT_TRUE(reader.Open());
  rapidjson::Document description;
  ASSERT_TRUE(VelJsonUtil::Parse(reader.Description(), &description));
  EXPECT_STREQ(description["version"].GetString(), "1");
  EXPECT_STREQ(description["file_name"].GetString(), "plus-one");
  EXPECT_STREQ(description["md5"].GetString(), "a");
  EXPECT_EQ(description["size"].GetUint64(), content.size());
  EXPECT_EQ(description["fbs"]["2"]["offset"].GetUint64(), kFilePacketBlockSize);
  EXPECT_EQ(description["fbs"]["2"]["offset_length"].GetUint64(), 1u);
  EXPECT_EQ(description["fbs"]["2"]["status"].GetInt(), 0);

  std::string joined;
  for (int64_t id : {2, 1}) {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(reader.ReadBlock(FileBlockMessage{id, 0, 0}, &data, &length));
    std::string piece(reinterpret_cast<const char*>(data), length);
    joined = id == 2 ? piece : piece + joined;
  }
  EXPECT_EQ(joined, content);
  EXPECT_TRUE(reader.AllBlocksRead());
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  EXPECT_FALSE(reader.ReadBlock(FileBlockMessage{3, 0, 0}, &data, &length));
}

TEST_F(FilePacketTest, ReaderRefusesMissingAndEmptyFiles) {
  ASSERT_TRUE(Put(root + "/empty", ""));
  EXPECT_FALSE(FilePacketReader(afc, root + "/empty").Open());
  EXPECT_FALSE(FilePacketReader(afc, root + "/missing").Open());
}

TEST_F(FilePacketTest, WriterRequestsBlocksInTextOrderAndPutsTheFileInPlace) {
  const uint64_t block = 1000;
  std::string content = Pattern(11 * block - 7, 3);
  std::string destination = root + "/eleven.bin";
  auto writer = std::make_unique<FilePacketWriter>(afc, destination);
  ASSERT_EQ(writer->Open(UploadDescription(content.size(), block)), kFilePacketReady);
  EXPECT_TRUE(kst::PathExists(LocalOf(destination + ".bak")));
  std::string state;
  ASSERT_TRUE(kst::ReadWholeFile(LocalOf(destination + ".json"), &state));
  EXPECT_NE(state.find("\n    \"path\": \"eleven.bin.bak\""), std::string::npos) << state;

  std::vector<int64_t> order;
  while (auto next = writer->NextRequest()) {
    order.push_back(next->id);
    ASSERT_EQ(writer->WriteBlock(*next, reinterpret_cast<const uint8_t*>(content.data()) + next->offset,
                                 next->offset_length),
              kFilePacketReady);
  }
  EXPECT_EQ(order, (std::vector<int64_t>{1, 10, 11, 2, 3, 4, 5, 6, 7, 8, 9}));
  // A block sent again is written again and stays written.
  FileBlockMessage first{1, 0, block};
  EXPECT_EQ(writer->WriteBlock(first, reinterpret_cast<const uint8_t*>(content.data()), block), kFilePacketReady);
  EXPECT_TRUE(writer->Complete());
  writer.reset();
  std::string placed;
  ASSERT_TRUE(kst::ReadWholeFile(LocalOf(destination), &placed));
  EXPECT_EQ(placed, content);
  EXPECT_FALSE(kst::PathExists(LocalOf(destination + ".bak")));
  EXPECT_FALSE(kst::PathExists(LocalOf(destination + ".json")));
}

TEST_F(FilePacketTest, WriterReleasedEarlyLeavesNothingBehind) {
  std::string destination = root + "/partial.bin";
  std::string content = Pattern(3 * kFilePacketBlockSize, 4);
  {
    FilePacketWriter writer(afc, destination);
    ASSERT_EQ(writer.Open(UploadDescription(content.size())), kFilePacketReady);
    auto next = writer.NextRequest();
    ASSERT_TRUE(next);
    writer.WriteBlock(*next, reinterpret_cast<const uint8_t*>(content.data()), next->offset_length);
  }
  EXPECT_FALSE(kst::PathExists(LocalOf(destination)));
  EXPECT_FALSE(kst::PathExists(LocalOf(destination + ".bak")));
  EXPECT_FALSE(kst::PathExists(LocalOf(destination + ".json")));
}

TEST_F(FilePacketTest, InterruptedUploadResumesFromItsDataAndStateFiles) {
  std::string destination = root + "/resumed.bin";
  std::string content = Pattern(2 * kFilePacketBlockSize + 5, 5);
  // What a writer leaves on the device when its process ends mid-way: the data file with the
  // blocks written so far, and the state file.
  std::string state_before;
  std::string data_before;
  {
    FilePacketWriter interrupted(afc, destination);
    ASSERT_EQ(interrupted.Open(UploadDescription(content.size())), kFilePacketReady);
    auto next = interrupted.NextRequest();
    interrupted.WriteBlock(*next, reinterpret_cast<const uint8_t*>(content.data()), next->offset_length);
    ASSERT_TRUE(kst::ReadWholeFile(LocalOf(destination + ".json"), &state_before));
    ASSERT_TRUE(kst::ReadWholeFile(LocalOf(destination + ".bak"), &data_before));
  }
  ASSERT_TRUE(Put(destination + ".bak", data_before));
  ASSERT_TRUE(Put(destination + ".json", state_before));

  {
    FilePacketWriter resumed(afc, destination);
    ASSERT_EQ(resumed.Open(UploadDescription(content.size())), kFilePacketReady);
    std::string state_after;
    ASSERT_TRUE(kst::ReadWholeFile(LocalOf(destination + ".json"), &state_after));
    EXPECT_EQ(state_after, state_before);  // taken over, not rewritten
    FeedAll(&resumed, content);
  }
  std::string placed;
  ASSERT_TRUE(kst::ReadWholeFile(LocalOf(destination), &placed));
  EXPECT_EQ(placed, content);
}

TEST_F(FilePacketTest, StateFileOfAnotherVersionIsReplaced) {
  std::string destination = root + "/versioned.bin";
  std::string content = Pattern(100, 6);
  ASSERT_TRUE(Put(destination + ".bak", std::string(content.size(), 'x')));
  ASSERT_TRUE(Put(destination + ".json", R"({"version":"0","fbs":{"1":{"offset":0,"offset_length":100}}})"));
  FilePacketWriter writer(afc, destination);
  ASSERT_EQ(writer.Open(UploadDescription(content.size())), kFilePacketReady);
  std::string state;
  ASSERT_TRUE(kst::ReadWholeFile(LocalOf(destination + ".json"), &state));
  EXPECT_NE(state.find("\"version\": \"1\""), std::string::npos);
  FeedAll(&writer, content);
}

TEST_F(FilePacketTest, WriterRefusesBadDescriptionsAndStrayBlocks) {
  const char* bad[] = {
      R"({"version":"1","size":10})",
      R"({"version":"2","size":10,"fbs":{"1":{"offset":0,"offset_length":10}}})",
      R"({"version":"1","size":10,"fbs":{"1":{"offset":5,"offset_length":10}}})",
      R"({"version":"1","size":10,"fbs":{"x":{"offset":0,"offset_length":10}}})",
      R"({"version":"1","size":10,"fbs":{"1":{"offset":0,"offset_length":0}}})",
      R"({"version":"1","size":-1,"fbs":{"1":{"offset":0,"offset_length":1}}})",
  };
  for (const char* text : bad) {
    rapidjson::Document description;
    ASSERT_TRUE(VelJsonUtil::Parse(text, &description));
    FilePacketWriter writer(afc, root + "/bad.bin");
    EXPECT_EQ(writer.Open(description), kFilePacketBadDescription) << text;
  }
  EXPECT_FALSE(kst::PathExists(LocalOf(root + "/bad.bin.bak")));

  FilePacketWriter writer(afc, root + "/strict.bin");
  ASSERT_EQ(writer.Open(UploadDescription(2 * kFilePacketBlockSize)), kFilePacketReady);
  std::string bytes(16, 'b');
  auto data = reinterpret_cast<const uint8_t*>(bytes.data());
  EXPECT_EQ(writer.WriteBlock(FileBlockMessage{3, 0, 16}, data, 16), kFilePacketFailed);  // no such block
  EXPECT_EQ(writer.WriteBlock(FileBlockMessage{1, kFilePacketBlockSize - 8, 16}, data, 16), kFilePacketFailed);
  EXPECT_EQ(writer.WriteBlock(FileBlockMessage{2, 0, 16}, data, 16), kFilePacketFailed);
  EXPECT_EQ(writer.NextRequest()->id, 1);
}

}  // namespace
