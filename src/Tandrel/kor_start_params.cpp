#include "Tandrel/kor_start_params.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

#include "platform/vel_json_util.h"

namespace {

int64_t IntegerMember(const rapidjson::Value& object, const char* key) {
  auto member = object.FindMember(key);
  if (member == object.MemberEnd()) return 0;
  if (member->value.IsInt64()) return member->value.GetInt64();
  if (member->value.IsUint64()) return static_cast<int64_t>(member->value.GetUint64());
  return 0;
}

int32_t Int32Member(const rapidjson::Value& object, const char* key) {
  int64_t value = IntegerMember(object, key);
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) return 0;
  return static_cast<int32_t>(value);
}

std::string StringMember(const rapidjson::Value& object, const char* key) {
  std::string value;
  VelJsonUtil::GetString(object, key, &value);
  return value;
}

}  // namespace

KorStartParams ParseStartParams(const std::string& text) {
  KorStartParams params;
  rapidjson::Document document;
  if (!VelJsonUtil::Parse(text, &document) || !document.IsObject()) return params;
  params.parsed = true;
  params.port = Int32Member(document, kKorServerStartParamPort);
  params.pid = IntegerMember(document, kKorServerStartParamPid);
  params.show_console = IntegerMember(document, kKorServerStartParamShowConsole) != 0;
  params.test_self = IntegerMember(document, kKorServerStartParamTestSelf) != 0;
  params.open_log = IntegerMember(document, kKorServerStartParamOpenLog) != 0;
  params.version = StringMember(document, kKorServerStartParamVersion);
  params.brand = StringMember(document, kKorServerStartParamBrand);
  params.product = StringMember(document, kKorServerStartParamProduct);
  params.type = Int32Member(document, kKorServerStartParamType);
  params.task_id = StringMember(document, kKorServerStartParamTaskId);
  params.secret_file = StringMember(document, kKorServerStartParamSecretFile);
  if (const rapidjson::Value* modules = VelJsonUtil::GetArray(document, kKorServerStartParamLoadModules)) {
    for (const auto& entry : modules->GetArray()) {
      if (entry.IsString()) params.load_modules.emplace_back(entry.GetString(), entry.GetStringLength());
    }
  }
  return params;
}

uint64_t StartTaskIdNumber(const KorStartParams& params) {
  const char* text = params.task_id.c_str();
  if (*text < '0' || *text > '9') return 0;
  errno = 0;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text, &end, 10);
  return errno == ERANGE ? 0 : static_cast<uint64_t>(value);
}
