#include "control_channel.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <chrono>

namespace vdevice {

namespace {

constexpr size_t kMaxReplyBytes = 1 << 20;

std::string Serialize(const rapidjson::Document& document) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  document.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

}  // namespace

bool DeriveControlAddress(const std::string& mux_address, std::string* control_address) {
  kst::StreamAddress address;
  if (!kst::ParseStreamAddress(mux_address, &address)) return false;
  if (address.is_unix) {
    *control_address = "UNIX:" + address.path + ".ctl";
    return true;
  }
  if (address.port == 65535) return false;
  *control_address = address.host + ":" + std::to_string(address.port + 1);
  return true;
}

std::string EncodeControlRequest(const std::vector<std::string>& args) {
  rapidjson::Document document(rapidjson::kObjectType);
  auto& allocator = document.GetAllocator();
  rapidjson::Value list(rapidjson::kArrayType);
  for (const std::string& arg : args) list.PushBack(rapidjson::Value(arg.c_str(), allocator), allocator);
  document.AddMember("args", list, allocator);
  return Serialize(document);
}

bool DecodeControlRequest(const std::string& line, std::vector<std::string>* args, std::string* error) {
  rapidjson::Document document;
  document.Parse(line.c_str(), line.size());
  const rapidjson::Value* list = nullptr;
  if (!document.HasParseError() && document.IsObject()) {
    auto member = document.FindMember("args");
    if (member != document.MemberEnd() && member->value.IsArray()) list = &member->value;
  }
  if (!list) {
    *error = "a request is one line of JSON: {\"args\": [\"COMMAND\", ...]}";
    return false;
  }
  args->clear();
  for (const auto& arg : list->GetArray()) {
    if (!arg.IsString()) {
      *error = "every argument must be a string";
      return false;
    }
    args->emplace_back(arg.GetString(), arg.GetStringLength());
  }
  return true;
}

std::string EncodeControlReply(int status, const std::string& message) {
  rapidjson::Document document(rapidjson::kObjectType);
  auto& allocator = document.GetAllocator();
  document.AddMember("status", status, allocator);
  document.AddMember("message", rapidjson::Value(message.c_str(), allocator), allocator);
  return Serialize(document);
}

bool DecodeControlReply(const std::string& line, int* status, std::string* message) {
  rapidjson::Document document;
  document.Parse(line.c_str(), line.size());
  if (document.HasParseError() || !document.IsObject()) return false;
  auto code = document.FindMember("status");
  auto text = document.FindMember("message");
  if (code == document.MemberEnd() || !code->value.IsInt() || text == document.MemberEnd() ||
      !text->value.IsString()) {
    return false;
  }
  *status = code->value.GetInt();
  *message = text->value.GetString();
  return true;
}

bool ReadControlLine(const kst::KstSocket& socket, size_t max_bytes, int timeout_ms, std::string* line) {
  line->clear();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  char chunk[4096];
  while (line->size() <= max_bytes) {
    size_t newline = line->find('\n');
    if (newline != std::string::npos) {
      line->resize(newline);
      return true;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !socket.WaitReadable(static_cast<int>(left.count()))) return false;
    long got = socket.Recv(chunk, sizeof(chunk));
    if (got <= 0) return false;
    line->append(chunk, static_cast<size_t>(got));
  }
  return false;
}

int SendControlRequest(const std::string& control_address, const std::vector<std::string>& args,
                       int timeout_ms, std::string* message) {
  kst::StreamAddress address;
  if (!kst::ParseStreamAddress(control_address, &address)) {
    *message = "bad control address " + control_address;
    return -1;
  }
  int error = 0;
  kst::KstSocket socket = kst::ConnectStreamAddress(address, &error);
  if (!socket.Valid()) {
    *message = "cannot reach " + control_address + ": " + kst::SocketErrorText(error);
    return -1;
  }
  std::string request = EncodeControlRequest(args);
  std::string line;
  int status = -1;
  if (!socket.SendAll(request.data(), request.size()) || !ReadControlLine(socket, kMaxReplyBytes, timeout_ms, &line) ||
      !DecodeControlReply(line, &status, message)) {
    *message = "no reply from " + control_address;
    return -1;
  }
  return status;
}

}  // namespace vdevice
