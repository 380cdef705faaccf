// The answers of the installation service: status messages that may carry a batch of
// applications ("CurrentList"), a "PercentComplete", an "Error", and end with "Complete".
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "iOSAPI/kor_service_message.h"
#include "iOSAPI/kor_value.h"

struct KorInstallerAnswer {
  bool complete = false;                 // "Status" is "Complete"
  std::optional<std::string> status;
  std::optional<int64_t> percent;        // "PercentComplete", within 0..100
  std::optional<std::string> error;      // "Error" (with its "ErrorDescription" when given)
  std::vector<KorValue> current_list;    // the dictionaries of "CurrentList"
};

// The PNG bytes of an icon service answer; false when it has no "pngData" or it is not Base64.
bool KorIconPngOfAnswer(const KorValue& answer, std::string* png);

// False when the bytes are not a property-list dictionary.
bool KorParseInstallerAnswer(const uint8_t* bytes, uint32_t length, KorInstallerAnswer* answer);

using KorInstallerAnswerHandler = std::function<void(const KorInstallerAnswer& answer)>;

// Sends the request and hands every answer to `on_answer` until one says "Complete" (or the
// device closes the connection, which is how an answer with an error ends). False when the
// request could not be built.
bool KorRunInstallerExchange(const KorServiceIo& io, const std::string& request_xml,
                             const KorInstallerAnswerHandler& on_answer);
