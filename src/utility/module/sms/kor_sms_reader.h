// Reads a copy of the messages database, in either schema generation, into conversations sorted
// by their last message, newest first.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "utility/module/sms/kor_sms_records.h"

using KorSmsConversationList = std::vector<std::unique_ptr<KorSmsConversation>>;

// 0, or 19 (does not open) / 20 (a query does not prepare); on failure `conversations` is empty.
// A database without a "message" table, or of a schema that is not understood, reads as empty.
int KorSmsReadDatabase(const std::string& path, KorSmsConversationList* conversations);
