// Files through Tandrel: export, staged download and staged upload.
#include <gtest/gtest.h>

#include <unzip.h>

#include <cstdio>
#include <map>
#include <thread>

#include "frontend_staged_download.h"
#include "module_fixture.h"
#include "platform/kst_fs.h"
#include "platform/vel_json_util.h"

namespace {

using namespace std::chrono_literals;

constexpr uint64_t kBlock = 2097152;

std::string Pattern(size_t size, int seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed) * 13) % 253);
  return bytes;
}

// Every entry of a ZIP archive by name.
std::map<std::string, std::string> ZipEntries(const std::string& path) {
  std::map<std::string, std::string> entries;
  unzFile zip = unzOpen(path.c_str());
  if (!zip) return entries;
  for (int rc = unzGoToFirstFile(zip); rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
    char name[512];
    unz_file_info info;
    unzGetCurrentFileInfo(zip, &info, name, sizeof(name), nullptr, 0, nullptr, 0);
    std::string content(info.uncompressed_size, '\0');
    unzOpenCurrentFile(zip);
    unzReadCurrentFile(zip, content.data(), static_cast<unsigned>(content.size()));
    unzCloseCurrentFile(zip);
    entries[name] = content;
  }
  unzClose(zip);
  return entries;
}

class FileModuleTest : public ModuleTest {
 protected:
  void PutDeviceFile(const std::string& device_path, const std::string& content) {
    ASSERT_TRUE(kst::CreateDirectories(kst::ParentFolder(DeviceFile(device_path))));
    ASSERT_TRUE(kst::WriteWholeFile(DeviceFile(device_path), content));
  }
  std::string ExportJson(const std::string& folder, const std::vector<std::pair<std::string, std::string>>& items) {
    std::string json = R"({"folder":")" + folder + R"(","items":[)";
    for (size_t i = 0; i < items.size(); ++i) {
      json += (i ? "," : "") + std::string(R"({"path":")") + items[i].first + R"(","name":")" + items[i].second + "\"}";
    }
    return json + "]}";
  }
  // Downloads a device file block by block; the description and the bytes.
  std::pair<rapidjson::Document, std::string> Download(const std::string& device_path) {
    uint64_t task = NextTask();
    auto& link = tandrel->Link();
    link.Send(702, task, DeviceJson(R"("stage":1,"code":0)"), Compressed(R"({"path":")" + device_path + "\"}"));
    auto opened = link.NextFor(task, 20s);
    rapidjson::Document description;
    if (!opened || !opened->info) return {};
    VelJsonUtil::Parse(*opened->info, &description);
    std::string content(description["size"].GetUint64(), '\0');
    for (const auto& block : description["fbs"].GetObject()) {
      std::string request = R"({"id":)" + std::string(block.name.GetString()) + R"(,"offset":)" +
                            std::to_string(block.value["offset"].GetUint64()) + R"(,"offset_length":)" +
                            std::to_string(block.value["offset_length"].GetUint64()) + "}";
      link.Send(702, task, DeviceJson(R"("stage":2,"code":0)"), Compressed(request));
      auto data = link.NextFor(task, 20s);
      EXPECT_TRUE(data);
      if (!data) break;
      EXPECT_EQ(data->type, 1);
      EXPECT_EQ(*data->info, request);
      content.replace(block.value["offset"].GetUint64(), data->attachment.size(), data->attachment);
    }
    auto final_reply = link.NextFor(task, 20s);  // the last block ends the download
    EXPECT_TRUE(final_reply && final_reply->status == 1);
    return {std::move(description), content};
  }
  // Starts an upload of `size` bytes into `dir` as `name`; the first block request.
  std::optional<frontend::Message> OpenUpload(uint64_t task, const std::string& dir, const std::string& name,
                                              uint64_t size) {
    std::string fbs;
    for (uint64_t n = 1; (n - 1) * kBlock < size; ++n) {
      uint64_t offset = (n - 1) * kBlock;
      fbs += (n > 1 ? "," : "") + std::string("\"") + std::to_string(n) + R"(":{"status":0,"offset":)" +
             std::to_string(offset) + R"(,"offset_length":)" + std::to_string(std::min(kBlock, size - offset)) + "}";
    }
    std::string description = R"({"version":"1","path":")" + name + R"(","md5":"x","size":)" +
                              std::to_string(size) + R"(,"status":0,"fbs":{)" + fbs + "}}";
    tandrel->Link().Send(703, task,
                         DeviceJson(R"("stage":1,"code":0,"info":{"name":")" + name + R"(","dir":")" + dir + "\"}"),
                         Compressed(description));
    return tandrel->Link().NextFor(task, 20s);
  }
  // Sends one block of `content`; the answers up to the next request or the final reply.
  std::vector<frontend::Message> SendBlock(uint64_t task, int64_t id, const std::string& content) {
    uint64_t offset = static_cast<uint64_t>(id - 1) * kBlock;
    uint64_t length = std::min<uint64_t>(kBlock, content.size() - offset);
    std::string block = R"({"id":)" + std::to_string(id) + R"(,"offset":)" + std::to_string(offset) +
                        R"(,"offset_length":)" + std::to_string(length) + "}";
    tandrel->Link().Send(703, task, DeviceJson(R"("stage":2,"code":0,"info":)" + block), content.substr(offset, length));
    std::vector<frontend::Message> answers;
    while (auto answer = tandrel->Link().NextFor(task, 20s)) {
      answers.push_back(*answer);
      if (answer->stage == 2 || frontend::IsFinalStatus(answer->status)) break;
    }
    return answers;
  }
  harness::TempFolder local;
};

TEST_F(FileModuleTest, ExportCleansNamesNumbersClashesKeepsBooksAndZipsFolders) {
  StartWith("demo", [this](const std::string& dir) {
    profile = dir;
    PutDeviceFile("/Export/a:b?.txt", "text");
    PutDeviceFile("/Export/Notes/one.txt", Pattern(100000, 1));
    PutDeviceFile("/Export/Notes/deep/two.bin", Pattern(5000, 2));
  });
  ASSERT_TRUE(kst::WriteWholeFile(local.Path() + "/a_b_.txt", "already here"));
  auto messages = Run(701, DeviceJson(), Compressed(ExportJson(local.Path(), {{"/Export/a:b?.txt", "a:b?.txt"},
                                                                              {"", "skipped"},
                                                                              {"/Books/Novel.epub", "Novel.epub"},
                                                                              {"/Export/Notes", "Notes"},
                                                                              {"/Export/missing", "missing"}})));
  ASSERT_EQ(messages.size(), 4u);  // three items, then the final reply
  EXPECT_EQ(messages.back().code, 0);
  rapidjson::Document first;
  ASSERT_TRUE(VelJsonUtil::Parse(*messages[0].info, &first));
  EXPECT_EQ(std::string(first["native_path"].GetString()), local.Path() + "/a_b_(1).txt");
  EXPECT_STREQ(first["name"].GetString(), "a_b_.txt");
  EXPECT_EQ(messages[0].stage, 2);
  EXPECT_EQ(messages[0].uuid, udid);
  std::string text;
  ASSERT_TRUE(kst::ReadWholeFile(local.Path() + "/a_b_(1).txt", &text));
  EXPECT_EQ(text, "text");
  EXPECT_TRUE(kst::IsDirectory(local.Path() + "/Novel.epub"));
  EXPECT_TRUE(kst::PathExists(local.Path() + "/Novel.epub/mimetype"));
  auto entries = ZipEntries(local.Path() + "/Notes");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries["one.txt"], Pattern(100000, 1));
  EXPECT_EQ(entries["deep/two.bin"], Pattern(5000, 2));
  EXPECT_FALSE(kst::PathExists(local.Path() + "/Notes.folder"));
}

TEST_F(FileModuleTest, StagedDownloadDeliversTheFileInTwoMegabyteBlocks) {
  std::string content = Pattern(kBlock + 1, 3);
  StartWith("demo", [&](const std::string& dir) {
    profile = dir;
    PutDeviceFile("/Downloads/big.bin", content);
    PutDeviceFile("/Downloads/exact.bin", Pattern(kBlock, 4));
    PutDeviceFile("/Downloads/empty.bin", "");
  });
  auto [description, downloaded] = Download("/Downloads/big.bin");
  ASSERT_TRUE(description.IsObject());
  EXPECT_EQ(description["fbs"].MemberCount(), 2u);
  EXPECT_EQ(description["fbs"]["2"]["offset_length"].GetUint64(), 1u);
  EXPECT_EQ(downloaded, content);
  auto [exact, exact_content] = Download("/Downloads/exact.bin");
  EXPECT_EQ(exact["fbs"].MemberCount(), 1u);

  auto empty = Run(702, DeviceJson(R"("stage":1,"code":0)"), Compressed(R"({"path":"/Downloads/empty.bin"})"));
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(empty[0].code, 13);
  auto later_stage = Run(702, DeviceJson(R"("stage":2,"code":0)"), Compressed(R"({"id":1,"offset":0,"offset_length":1})"));
  ASSERT_EQ(later_stage.size(), 1u);
  EXPECT_EQ(later_stage[0].code, 15);
}

TEST_F(FileModuleTest, StagedDownloadAnswersRequestsSentAheadInAnyOrder) {
  constexpr int64_t kBlocks = 5;
  std::string content = Pattern(kBlocks * kBlock - 7, 8);
  StartWith("demo", [&](const std::string& dir) {
    profile = dir;
    PutDeviceFile("/Downloads/five.bin", content);
  });
  uint64_t task = NextTask();
  auto& link = tandrel->Link();
  link.Send(702, task, DeviceJson(R"("stage":1,"code":0)"), Compressed(R"({"path":"/Downloads/five.bin"})"));
  auto opened = link.NextFor(task, 20s);
  ASSERT_TRUE(opened && opened->status == 2);
  // All requests at once: a jump ahead, a resend, a jump back; the last new block ends the task.
  const std::vector<int64_t> order = {3, 1, 1, 5, 2, 4};
  for (int64_t id : order) {
    uint64_t offset = static_cast<uint64_t>(id - 1) * kBlock;
    std::string request = R"({"id":)" + std::to_string(id) + R"(,"offset":)" + std::to_string(offset) +
                          R"(,"offset_length":)" + std::to_string(std::min<uint64_t>(kBlock, content.size() - offset)) + "}";
    link.Send(702, task, DeviceJson(R"("stage":2,"code":0)"), Compressed(request));
  }
  for (int64_t id : order) {
    auto data = link.NextFor(task, 20s);
    ASSERT_TRUE(data && data->status == 2) << id;
    uint64_t offset = static_cast<uint64_t>(id - 1) * kBlock;
    EXPECT_EQ(data->attachment, content.substr(offset, kBlock)) << id;
  }
  auto final_reply = link.NextFor(task, 20s);
  ASSERT_TRUE(final_reply);
  EXPECT_EQ(final_reply->status, 1);
  EXPECT_EQ(final_reply->code, 0);
}

TEST_F(FileModuleTest, FrontEndDownloadWithRequestsInFlightWritesTheWholeFile) {
  std::string content = Pattern(3 * kBlock + 11, 9);
  StartWith("demo", [&](const std::string& dir) {
    profile = dir;
    PutDeviceFile("/Downloads/pulled.bin", content);
  });
  const std::string local = profile + "/pulled-here.bin";
  for (size_t window : {1u, 3u}) {
    std::FILE* out = std::fopen(local.c_str(), "wb");
    ASSERT_TRUE(out);
    frontend::DownloadRequest request;
    request.task = NextTask();
    request.device_path = "/Downloads/pulled.bin";
    request.command_json = [this](const std::string& members) { return DeviceJson(members); };
    request.window = window;
    request.timeout = 20s;
    frontend::DownloadReport report = frontend::RunStagedDownload(tandrel->Link(), request, out);
    std::fclose(out);
    EXPECT_EQ(report.outcome, frontend::DownloadOutcome::kDone) << window;
    EXPECT_EQ(report.bytes, content.size());
    std::string written;
    ASSERT_TRUE(kst::ReadWholeFile(local, &written));
    EXPECT_TRUE(written == content) << "window " << window;
  }
  frontend::DownloadRequest missing;
  missing.task = NextTask();
  missing.device_path = "/Downloads/none.bin";
  missing.command_json = [this](const std::string& members) { return DeviceJson(members); };
  missing.timeout = 20s;
  std::FILE* out = std::fopen(local.c_str(), "wb");
  ASSERT_TRUE(out);
  frontend::DownloadReport refused = frontend::RunStagedDownload(tandrel->Link(), missing, out);
  std::fclose(out);
  EXPECT_EQ(refused.outcome, frontend::DownloadOutcome::kRefused);
  EXPECT_EQ(refused.code, 13);
}

TEST_F(FileModuleTest, UploadTakesBlocksInAnyOrderAndAgain) {
  StartWith("demo");
  std::string content = Pattern(2 * kBlock + 100, 5);
  uint64_t task = NextTask();
  auto first_request = OpenUpload(task, "/Downloads", "up.bin", content.size());
  ASSERT_TRUE(first_request);
  EXPECT_EQ(first_request->stage, 2);
  EXPECT_EQ(first_request->attachment, R"({"id":1,"offset_length":2097152,"offset":0})");
  EXPECT_TRUE(kst::PathExists(DeviceFile("/Downloads/up.bin.bak")));
  SendBlock(task, 3, content);
  SendBlock(task, 1, content);
  SendBlock(task, 1, content);  // resent
  auto last = SendBlock(task, 2, content);
  ASSERT_GE(last.size(), 2u);
  EXPECT_EQ(last[last.size() - 2].stage, 3);
  EXPECT_EQ(last.back().status, 1);
  std::string placed;
  ASSERT_TRUE(kst::ReadWholeFile(DeviceFile("/Downloads/up.bin"), &placed));
  EXPECT_EQ(placed, content);
  EXPECT_FALSE(kst::PathExists(DeviceFile("/Downloads/up.bin.bak")));
  EXPECT_FALSE(kst::PathExists(DeviceFile("/Downloads/up.bin.json")));
}

TEST_F(FileModuleTest, UploadStoppedEarlyLeavesNothingBehind) {
  StartWith("demo");
  std::string content = Pattern(3 * kBlock, 6);
  uint64_t task = NextTask();
  ASSERT_TRUE(OpenUpload(task, "/Downloads", "gone.bin", content.size()));
  SendBlock(task, 1, content);
  auto stop = Run(600, R"({"info":{"task_id":")" + std::to_string(task) + "\"}}");
  ASSERT_EQ(stop.size(), 1u);
  for (int i = 0; i < 100 && kst::PathExists(DeviceFile("/Downloads/gone.bin.bak")); ++i) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_FALSE(kst::PathExists(DeviceFile("/Downloads/gone.bin.bak")));
  EXPECT_FALSE(kst::PathExists(DeviceFile("/Downloads/gone.bin.json")));
  EXPECT_FALSE(kst::PathExists(DeviceFile("/Downloads/gone.bin")));
}

TEST_F(FileModuleTest, UploadInterruptedByTheEndOfTandrelResumesInTheNextOne) {
  StartWith("demo");
  std::string content = Pattern(2 * kBlock + 10, 7);
  uint64_t task = NextTask();
  ASSERT_TRUE(OpenUpload(task, "/Downloads", "resume.bin", content.size()));
  SendBlock(task, 1, content);
  tandrel.reset();  // Tandrel ends mid-way: its files stay on the device
  ASSERT_TRUE(kst::PathExists(DeviceFile("/Downloads/resume.bin.json")));
  std::string state;
  ASSERT_TRUE(kst::ReadWholeFile(DeviceFile("/Downloads/resume.bin.json"), &state));

  harness::TandrelOptions options;
  options.environment["USBMUXD_SOCKET_ADDRESS"] = vd.socket_address();
  tandrel = std::make_unique<harness::Tandrel>(options);
  ASSERT_TRUE(tandrel->Start());
  auto ready = tandrel->Link().WaitFor(1, 30s);
  ASSERT_TRUE(ready);
  code = ready->code;
  task = NextTask();
  auto request = OpenUpload(task, "/Downloads", "resume.bin", content.size());
  ASSERT_TRUE(request);
  std::string resumed_state;
  ASSERT_TRUE(kst::ReadWholeFile(DeviceFile("/Downloads/resume.bin.json"), &resumed_state));
  EXPECT_EQ(resumed_state, state);
  std::vector<frontend::Message> answers{*request};
  while (!answers.empty() && answers.back().stage == 2 && !frontend::IsFinalStatus(answers.back().status)) {
    rapidjson::Document block;
    ASSERT_TRUE(VelJsonUtil::Parse(answers.back().attachment, &block));
    answers = SendBlock(task, block["id"].GetInt64(), content);
  }
  ASSERT_FALSE(answers.empty());
  EXPECT_EQ(answers.back().status, 1);
  std::string placed;
  ASSERT_TRUE(kst::ReadWholeFile(DeviceFile("/Downloads/resume.bin"), &placed));
  EXPECT_EQ(placed, content);
}

TEST_F(FileModuleTest, ExportStoppedWhileItRunsAnswers6) {
  StartWith("demo", [this](const std::string& dir) {
    profile = dir;
    for (int i = 0; i < 30; ++i) PutDeviceFile("/Slow/f" + std::to_string(i), "x");
  });
  ASSERT_TRUE(vd.Fault(udid, "com.apple.afc", {"stall", "100", "always"}));
  std::vector<std::pair<std::string, std::string>> items;
  for (int i = 0; i < 30; ++i) items.emplace_back("/Slow/f" + std::to_string(i), "f" + std::to_string(i));
  uint64_t task = NextTask();
  tandrel->Link().Send(701, task, DeviceJson(), Compressed(ExportJson(local.Path(), items)));
  std::this_thread::sleep_for(700ms);
  auto stop = Run(600, R"({"info":{"task_id":")" + std::to_string(task) + "\"}}");
  ASSERT_EQ(stop.size(), 1u);
  auto messages = tandrel->Link().CollectUntilFinal(task, 60s);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().code, 6);
  EXPECT_EQ(messages.back().status, 5);
  EXPECT_LT(messages.size(), 30u);
}

}  // namespace
