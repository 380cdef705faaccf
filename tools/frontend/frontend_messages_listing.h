// Reassembles the messages listing (command 201) from its progress messages: stage 1 the count,
// stage 2 one conversation each, stage 3 that conversation's messages in batches.
#pragma once

#include <rapidjson/document.h>

#include <optional>
#include <string>
#include <vector>

#include "frontend_message.h"

namespace frontend {

// {"chats":[conversation objects, each with its "messages" array put back]}; false (with `error`)
// when the messages do not follow the listing's order or their attachments do not parse.
bool AssembleMessagesListing(const std::vector<Message>& messages, rapidjson::Document* listing,
                             std::string* error);

// The "sms_db_path" that a backup extraction (1608) reported, if any.
std::optional<std::string> FindSmsDbPath(const std::vector<Message>& messages);

}  // namespace frontend
