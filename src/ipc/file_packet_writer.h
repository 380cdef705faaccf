// Receives numbered blocks from the front-end, writes them at their offsets into a data file
// beside the destination (destination + ".bak") with a state file (destination + ".json"), and
// puts the finished file in place when released. An unfinished upload leaves nothing behind.
#pragma once

#include <optional>
#include <string>

#include "iOSAPI/kor_afc.h"
#include "ipc/file_packet.h"

class FilePacketWriter {
 public:
  FilePacketWriter(AFCConnectionRef afc, std::string destination);
  ~FilePacketWriter();
  FilePacketWriter(const FilePacketWriter&) = delete;
  FilePacketWriter& operator=(const FilePacketWriter&) = delete;

  // Opens with the front-end's description; kFilePacketReady (3) when blocks can be written,
  // kFilePacketBadDescription (1) when the description is not usable, kFilePacketCannotCreate (2)
  // when the data file cannot be made, kFilePacketFailed (0) else.
  int Open(const rapidjson::Value& description);
  // Writes one block; kFilePacketReady when written, kFilePacketFailed otherwise.
  int WriteBlock(const FileBlockMessage& message, const uint8_t* bytes, size_t length);
  // The first unwritten block in plan order, or none when every block is written.
  std::optional<FileBlockMessage> NextRequest() const;
  bool Complete() const;
  const std::string& Destination() const { return destination_; }
  const std::string& DataPath() const { return data_path_; }
  const std::string& StatePath() const { return state_path_; }

 private:
  int ResumeFromStateFile();
  int WriteStateFile();
  int CreateDataFile();

  AFCConnectionRef afc_;
  std::string destination_;
  std::string data_path_;
  std::string state_path_;
  KorAfcFile data_file_;
  FileDescription description_;
  FilePacketPlan plan_;
  bool open_ = false;
};
