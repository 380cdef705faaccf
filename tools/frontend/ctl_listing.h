// Reading listings out of a command's messages, for the subcommands that print them.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <string>
#include <vector>

#include "frontend_message.h"

namespace ctl {

// Every object of the stage-2 batches, in order; only those whose packet header carries `group`
// when it is not 0 (listings of several groups name each group there).
std::vector<rapidjson::Document> BatchObjects(const std::vector<frontend::Message>& messages, uint32_t group = 0);
// A member as text: strings as they are, other values as JSON; empty when missing.
std::string MemberText(const rapidjson::Value& object, const char* key);
// True unless the last message is a final reply with status 1.
bool FailedFinal(const std::vector<frontend::Message>& messages);

}  // namespace ctl
