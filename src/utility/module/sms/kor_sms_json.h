// The JSON objects of the messages listing, written in the member order front-ends rely on.
#pragma once

#include <string>

#include "utility/module/sms/kor_sms_records.h"

// The conversation object without its "messages" member.
std::string KorSmsConversationJson(const KorSmsConversation& conversation);
std::string KorSmsMessageJson(const KorSmsMessage& message);
// Appends the message object to `out` (a listing writes its batches this way, without copies).
void KorSmsAppendMessageJson(const KorSmsMessage& message, std::string* out);
