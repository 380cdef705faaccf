// Files too large for their block plan to fit in a message text (over about 2 GiB), moved through
// the front-end link: a sparse 5 GiB file on the simulated device, only its last block read or
// written, so the test stays small.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "frontend_file_blocks.h"
#include "module_fixture.h"
#include "platform/kst_fs.h"
#include "platform/vel_json_util.h"

namespace {

using namespace std::chrono_literals;

constexpr uint64_t kBlock = 2097152;
constexpr uint64_t kSize = 5ull << 30;
constexpr int64_t kLastBlock = static_cast<int64_t>(kSize / kBlock);
constexpr uint64_t kLastOffset = kSize - kBlock;

std::string TailBytes() {
  std::string bytes(kBlock, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 31 + 7) % 251);
  return bytes;
}

std::string BlockJson(int64_t id, uint64_t offset, uint64_t length) {
  return R"({"id":)" + std::to_string(id) + R"(,"offset":)" + std::to_string(offset) + R"(,"offset_length":)" +
         std::to_string(length) + "}";
}

// A file of `size` bytes that holds only `tail` at its end (the rest is a hole).
bool WriteSparseFile(const std::string& path, uint64_t size, const std::string& tail) {
  { std::ofstream create(path, std::ios::binary); }
  std::error_code error;
  std::filesystem::resize_file(path, size, error);
  if (error) return false;
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(static_cast<std::streamoff>(size - tail.size()));
  file.write(tail.data(), static_cast<std::streamsize>(tail.size()));
  return static_cast<bool>(file);
}

std::string ReadRange(const std::string& path, uint64_t offset, size_t length) {
  std::ifstream file(path, std::ios::binary);
  file.seekg(static_cast<std::streamoff>(offset));
  std::string bytes(length, '\0');
  file.read(bytes.data(), static_cast<std::streamsize>(length));
  bytes.resize(static_cast<size_t>(file.gcount()));
  return bytes;
}

std::string PlanOfWholeFile() {
  std::string fbs;
  for (int64_t id = 1; id <= kLastBlock; ++id) {
    fbs += (id > 1 ? "," : "") + std::string("\"") + std::to_string(id) + R"(":{"status":0,"offset":)" +
           std::to_string(static_cast<uint64_t>(id - 1) * kBlock) + R"(,"offset_length":)" + std::to_string(kBlock) +
           "}";
  }
  return R"({"version":"1","path":"big.bin","md5":"x","size":)" + std::to_string(kSize) + R"(,"status":0,"fbs":{)" +
         fbs + "}}";
}

class LargeFileTest : public ModuleTest {};

TEST_F(LargeFileTest, DownloadOfAFiveGigabyteFileSendsItsDescriptionAsTheAttachment) {
  const std::string tail = TailBytes();
  StartWith("demo", [&](const std::string& dir) {
    profile = dir;
    ASSERT_TRUE(kst::CreateDirectories(DeviceFile("/Movies")));
    ASSERT_TRUE(WriteSparseFile(DeviceFile("/Movies/long.mov"), kSize, tail));
  });
  uint64_t task = NextTask();
  auto& link = tandrel->Link();
  link.Send(702, task, DeviceJson(R"("stage":1,"code":0)"), Compressed(R"({"path":"/Movies/long.mov"})"));
  auto opened = link.NextFor(task, 30s);
  ASSERT_TRUE(opened);
  ASSERT_EQ(opened->status, 2) << "code " << opened->code;
  EXPECT_EQ(opened->stage, 1);
  EXPECT_EQ(*opened->info, R"({"description":"attachment"})");
  EXPECT_EQ(opened->type, 0);
  rapidjson::Document description;
  ASSERT_TRUE(frontend::OpeningDescription(*opened, &description));
  EXPECT_EQ(description["size"].GetUint64(), kSize);
  auto plan = frontend::FileBlockPlan(description);
  ASSERT_EQ(plan.size(), static_cast<size_t>(kLastBlock));
  EXPECT_EQ(plan[kLastBlock].offset, kLastOffset);
  EXPECT_EQ(plan[kLastBlock].length, kBlock);

  link.Send(702, task, DeviceJson(R"("stage":2,"code":0)"), Compressed(BlockJson(kLastBlock, kLastOffset, kBlock)));
  auto data = link.NextFor(task, 30s);
  ASSERT_TRUE(data);
  ASSERT_EQ(data->status, 2) << "code " << data->code;
  EXPECT_EQ(data->attachment.size(), kBlock);
  EXPECT_TRUE(data->attachment == tail);

  link.Send(702, task, DeviceJson(R"("stage":3,"code":0)"), "");
  auto ended = link.CollectUntilFinal(task, 30s);
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0].code, 0);
}

TEST_F(LargeFileTest, UploadOfAFiveGigabyteFileWritesItsLastBlockInPlace) {
  StartWith("demo");
  const std::string tail = TailBytes();
  uint64_t task = NextTask();
  auto& link = tandrel->Link();
  link.Send(703, task, DeviceJson(R"("stage":1,"code":0,"info":{"name":"big.bin","dir":"/Downloads"})"),
            Compressed(PlanOfWholeFile()));
  auto first_request = link.NextFor(task, 30s);
  ASSERT_TRUE(first_request);
  ASSERT_EQ(first_request->status, 2) << "code " << first_request->code;
  EXPECT_EQ(first_request->attachment, R"({"id":1,"offset_length":2097152,"offset":0})");
  const std::string data_file = DeviceFile("/Downloads/big.bin.bak");
  EXPECT_EQ(kst::FileSize(data_file), static_cast<int64_t>(kSize));

  // Blocks may come in any order: the last one first.
  link.Send(703, task, DeviceJson(R"("stage":2,"code":0,"info":)" + BlockJson(kLastBlock, kLastOffset, kBlock)), tail);
  auto next_request = link.NextFor(task, 30s);
  ASSERT_TRUE(next_request);
  ASSERT_EQ(next_request->status, 2) << "code " << next_request->code;
  rapidjson::Document asked;
  ASSERT_TRUE(VelJsonUtil::Parse(next_request->attachment, &asked));
  EXPECT_EQ(asked["id"].GetInt64(), 1);
  EXPECT_TRUE(ReadRange(data_file, kLastOffset, kBlock) == tail);

  link.Send(703, task, DeviceJson(R"("stage":3,"code":0)"), "");
  auto ended = link.CollectUntilFinal(task, 30s);
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0].code, 0);
  EXPECT_FALSE(kst::PathExists(data_file));
  EXPECT_FALSE(kst::PathExists(DeviceFile("/Downloads/big.bin.json")));
}

}  // namespace
