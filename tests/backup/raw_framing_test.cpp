// The raw file framing: reading is the same however the bytes are split, hostile lengths are
// read past without being allocated, and files go out in pieces of at most 32 KiB.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "iOSAPI/kor_buffered_io.h"
#include "iOSAPI/kor_device_link_files.h"
#include "scripted_device.h"
#include "scripted_stream.h"

namespace {

struct ReadFile {
  std::string name;
  std::string data;
  uint8_t end_code = 0xFF;
  std::string end_text;
  bool operator==(const ReadFile&) const = default;
};

// Reads a whole list of files the way an upload does.
std::vector<ReadFile> ReadList(const KorServiceIo& io, bool* failed) {
  KorDLFileReader reader(io);
  std::vector<ReadFile> files;
  *failed = false;
  for (;;) {
    ReadFile file;
    bool too_long = false;
    std::string ignored;
    KorDLRead read = reader.ReadName(&ignored, &too_long);
    if (read == KorDLRead::kOk) read = reader.ReadName(&file.name, &too_long);
    if (read != KorDLRead::kOk) {
      *failed = read == KorDLRead::kFailed;
      return files;
    }
    KorDLFileEnd end;
    read = reader.ReadData(
        [&file](const uint8_t* bytes, size_t length) {
          EXPECT_LE(length, kKorDLFilePiece);
          file.data.append(reinterpret_cast<const char*>(bytes), length);
          return true;
        },
        &end);
    file.end_code = end.code;
    file.end_text = end.text;
    files.push_back(file);
    if (read != KorDLRead::kOk) {
      *failed = read == KorDLRead::kFailed;
      return files;
    }
  }
}

std::string SampleList() {
  return UploadedFile("U/a", "first file, three blocks", 10) + UploadedFile("U/empty", "") +
         NameBlock("U/bad") + NameBlock("U/bad") + DataBlock(0x0C, "par") + DataBlock(0x0B, "device said no") +
         BigEndian(0);
}

const std::vector<ReadFile> kSampleFiles = {
    {"U/a", "first file, three blocks", 0, ""},
    {"U/empty", "", 0, ""},
    {"U/bad", "par", 0x0B, "device said no"},
};

TEST(RawFramingTest, ASplitAtEveryByteBoundaryReadsTheSame) {
  const std::string bytes = SampleList();
  for (size_t split = 0; split <= bytes.size(); ++split) {
    ScriptedStream input;
    input.pieces = {bytes.substr(0, split), bytes.substr(split)};
    bool failed = true;
    EXPECT_EQ(ReadList(input.Io(), &failed), kSampleFiles) << "split at " << split;
    EXPECT_FALSE(failed);
  }
  ScriptedStream trickle;
  trickle.pieces = {bytes};
  trickle.max_piece = 1;
  bool failed = true;
  EXPECT_EQ(ReadList(trickle.Io(), &failed), kSampleFiles);
  EXPECT_FALSE(failed);
}

TEST(RawFramingTest, AReadAheadBufferKeepsTheStreamInOrder) {
  const std::string bytes = SampleList();
  for (size_t buffer_bytes : {16u, 64u, 1024u}) {
    ScriptedStream input;
    input.pieces = {bytes.substr(0, 7), bytes.substr(7, 50), bytes.substr(57)};
    int calls = 0;
    KorServiceIo counted = input.Io();
    auto receive = counted.receive;
    counted.receive = [&calls, receive](void* buffer, size_t length) {
      ++calls;
      return receive(buffer, length);
    };
    bool failed = true;
    EXPECT_EQ(ReadList(KorBufferedReceiveIo(counted, buffer_bytes), &failed), kSampleFiles) << buffer_bytes;
    EXPECT_FALSE(failed);
    if (buffer_bytes == 1024) {
      EXPECT_LE(calls, 4);  // one receive per scripted piece, then the end
    }
  }
}

TEST(RawFramingTest, AZeroLengthInPlaceOfADataBlockEndsTheList) {
  ScriptedStream input;
  input.pieces = {NameBlock("U/x") + NameBlock("U/x") + DataBlock(0x0C, "abc") + BigEndian(0) + "never read"};
  bool failed = true;
  std::vector<ReadFile> files = ReadList(input.Io(), &failed);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].data, "abc");
  EXPECT_FALSE(failed);
}

TEST(RawFramingTest, HostileLengthsAreReadPastNotAllocated) {
  // A name longer than the bound is dropped but the stream stays in step.
  ScriptedStream long_name;
  long_name.pieces = {NameBlock("U/x") + NameBlock(std::string(kKorDLMaxName + 1, 'n')) + DataBlock(0x00, "") +
                      BigEndian(0)};
  KorDLFileReader reader(long_name.Io());
  std::string name;
  bool too_long = false;
  ASSERT_EQ(reader.ReadName(&name, &too_long), KorDLRead::kOk);
  ASSERT_EQ(reader.ReadName(&name, &too_long), KorDLRead::kOk);
  EXPECT_TRUE(too_long);
  EXPECT_TRUE(name.empty());
  KorDLFileEnd end;
  EXPECT_EQ(reader.ReadData([](const uint8_t*, size_t) { return true; }, &end), KorDLRead::kOk);
  EXPECT_EQ(reader.ReadName(&name, &too_long), KorDLRead::kEndOfList);

  // Lengths of 4 GiB with a stream that ends early fail without reserving the announced size.
  for (const std::string& hostile : {BigEndian(0xFFFFFFFF) + "short",
                                     NameBlock("U/x") + NameBlock("U/x") + BigEndian(0xFFFFFFFF) + "\x0c" + "short",
                                     NameBlock("U/x") + NameBlock("U/x") + BigEndian(0xFFFFFFFF) + "\x0b" + "text"}) {
    ScriptedStream input;
    input.pieces = {hostile};
    bool failed = false;
    ReadList(input.Io(), &failed);
    EXPECT_TRUE(failed);
  }

  // An error text longer than its bound is cut, and what follows is still read in step.
  ScriptedStream long_text;
  long_text.pieces = {NameBlock("U/x") + NameBlock("U/x") + DataBlock(0x0B, std::string(kKorDLMaxErrorText * 3, 'e')) +
                      UploadedFile("U/next", "after") + BigEndian(0)};
  bool failed = true;
  std::vector<ReadFile> files = ReadList(long_text.Io(), &failed);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].end_text.size(), kKorDLMaxErrorText);
  EXPECT_EQ(files[1].data, "after");
  EXPECT_FALSE(failed);
}

TEST(RawFramingTest, FilesGoOutInPiecesOfAtMost32KiB) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "raw_framing_send";
  std::filesystem::create_directories(folder);
  std::string content(70000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  std::ofstream(folder / "big", std::ios::binary) << content;

  ScriptedStream output;
  KorDLFileWriter writer(output.Io());
  ASSERT_TRUE(writer.SendName("U/big"));
  ASSERT_TRUE(writer.SendFile((folder / "big").string()));
  ASSERT_TRUE(writer.SendName("U/missing"));
  ASSERT_TRUE(writer.SendFile((folder / "missing").string()));
  ASSERT_TRUE(writer.SendEndOfList());

  std::string expected = NameBlock("U/big") + DataBlock(0x0C, content.substr(0, 32768)) +
                         DataBlock(0x0C, content.substr(32768, 32768)) + DataBlock(0x0C, content.substr(65536)) +
                         DataBlock(0x00, "") + NameBlock("U/missing") +
                         DataBlock(0x06, "No such file or directory") + BigEndian(0);
  EXPECT_TRUE(output.sent == expected);
  std::filesystem::remove_all(folder);
}

}  // namespace
