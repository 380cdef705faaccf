#include "utility/module/app/kor_installer_answer.h"

#include "iOSAPI/kor_base64.h"
#include "platform/kst_log.h"

bool KorIconPngOfAnswer(const KorValue& answer, std::string* png) {
  png->clear();
  if (!answer.IsDictionary()) return false;
  KorValue data = answer.AsDictionary()->Get("pngData");
  if (!data.IsString()) return false;
  if (!KorBase64Decode(data.AsString(), png)) {
    png->clear();
    return false;
  }
  return !png->empty();
}

bool KorParseInstallerAnswer(const uint8_t* bytes, uint32_t length, KorInstallerAnswer* answer) {
  *answer = KorInstallerAnswer();
  KorValue tree;
  if (!KorMessageToValue(bytes, length, &tree) || !tree.IsDictionary()) return false;
  const CIOSDictionary& dict = *tree.AsDictionary();
  KorValue status = dict.Get("Status");
  if (status.IsString()) {
    answer->status = status.AsString();
    answer->complete = status.AsString() == "Complete";
  }
  KorValue percent = dict.Get("PercentComplete");
  if (percent.IsInteger() && percent.AsInteger() >= 0 && percent.AsInteger() <= 100) {
    answer->percent = percent.AsInteger();
  }
  KorValue error = dict.Get("Error");
  if (error.IsString()) {
    KorValue description = dict.Get("ErrorDescription");
    answer->error = error.AsString() + (description.IsString() ? ": " + description.AsString() : std::string());
  }
  KorValue list = dict.Get("CurrentList");
  if (list.IsArray()) {
    for (const KorValue& item : list.AsArray()) {
      if (item.IsDictionary()) answer->current_list.push_back(item);
    }
  }
  return true;
}

bool KorRunInstallerExchange(const KorServiceIo& io, const std::string& request_xml,
                             const KorInstallerAnswerHandler& on_answer) {
  KorMessageBufferPtr request = KorXmlToMessage(request_xml);
  if (!request) return false;
  KorSendAndReceive(io, *request, [&](const uint8_t* bytes, uint32_t length, int* continue_flag, int32_t*) {
    KorInstallerAnswer answer;
    if (!KorParseInstallerAnswer(bytes, length, &answer)) {
      KLOG(WARNING) << "installation service answer is not a dictionary";
      *continue_flag = 1;
      return;
    }
    if (answer.error) KLOG(WARNING) << "installation service error: " << *answer.error;
    on_answer(answer);
    *continue_flag = answer.complete ? 0 : 1;
  });
  return true;
}
