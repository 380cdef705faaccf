#include "utility/kor_json_record.h"

namespace {

struct ReusedWriter {
  rapidjson::StringBuffer buffer;
  KorJsonWriter writer{buffer};
};

ReusedWriter& ThreadWriter() {
  thread_local ReusedWriter reused;
  return reused;
}

}  // namespace

KorJsonWriter& KorStartJsonObject() {
  ReusedWriter& reused = ThreadWriter();
  reused.buffer.Clear();
  reused.writer.Reset(reused.buffer);
  reused.writer.StartObject();
  return reused.writer;
}

void KorFinishJsonObject(std::string* out) {
  ReusedWriter& reused = ThreadWriter();
  reused.writer.EndObject();
  out->append(reused.buffer.GetString(), reused.buffer.GetSize());
}
