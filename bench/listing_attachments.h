// Listing attachments as the content modules send them, generated with a fixed seed: the JSON
// that type-0 messages carry in practice, for measuring their compression.
#pragma once

#include <string>

namespace bench {

// A stage-3 batch of the messages listing: a JSON array of 50 message objects.
std::string MessageBatchAttachment();
// A batch of the photo listing: a JSON array of 600 photo objects.
std::string PhotoBatchAttachment();
// A chunk of the contact listing: a JSON object of 100 contacts with phones and e-mail addresses.
std::string ContactChunkAttachment();

}  // namespace bench
