#include "listing_attachments.h"

#include <cstdint>
#include <cstdio>

namespace bench {

namespace {

// xorshift64: the same records on every run, so that sizes compare between runs.
class Sequence {
 public:
  explicit Sequence(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  uint64_t Below(uint64_t limit) { return Next() % limit; }
  template <size_t N>
  const char* Pick(const char* const (&words)[N]) {
    return words[Below(N)];
  }

 private:
  uint64_t state_;
};

const char* const kWords[] = {"the", "see", "you", "at", "tomorrow", "dinner", "ok", "thanks", "running", "late",
                              "meeting", "call", "me", "when", "home", "great", "photo", "weekend", "train", "love",
                              "coffee", "sure", "what", "time", "did", "get", "my", "message", "sounds", "good",
                              "kids", "school", "pick", "up", "lunch", "tonight", "happy", "birthday", "where", "are"};
const char* const kFirstNames[] = {"Anna", "Ben", "Clara", "David", "Eva", "Felix", "Greta", "Hannes", "Ines",
                                   "Jonas", "Katrin", "Lukas", "Marie", "Nils", "Olga", "Paul", "Rosa", "Simon"};
const char* const kLastNames[] = {"Keller", "Novak", "Berg", "Lindqvist", "Moreau", "Schmidt", "Rossi", "Haas",
                                  "Walsh", "Jansen", "Okafor", "Tanaka", "Silva", "Brandt", "Fischer"};
const char* const kCompanies[] = {"", "", "Acme GmbH", "Northwind", "City Hospital", "Riverside School",
                                  "Blue Harbor Ltd", ""};
const char* const kPhoneLabels[] = {"mobile", "home", "work", "iPhone"};
const char* const kMailDomains[] = {"example.com", "mail.example.org", "icloud.example", "work.example.net"};

std::string Sentence(Sequence& random) {
  std::string text;
  uint64_t words = 2 + random.Below(14);
  for (uint64_t i = 0; i < words; ++i) {
    if (i > 0) text += ' ';
    text += random.Pick(kWords);
  }
  text += random.Below(3) == 0 ? "?" : ".";
  return text;
}

std::string PhoneNumber(Sequence& random) {
  char text[32];
  std::snprintf(text, sizeof(text), "+49 1%02u %07u", static_cast<unsigned>(50 + random.Below(30)),
                static_cast<unsigned>(random.Below(10000000)));
  return text;
}

// A local date string as the listings print them, drifting forward from `seconds`.
std::string DateText(uint64_t seconds) {
  uint64_t day = seconds / 86400;
  uint64_t in_day = seconds % 86400;
  char text[32];
  std::snprintf(text, sizeof(text), "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", static_cast<int>(2021 + day / 360 % 4),
                static_cast<int>(1 + day / 30 % 12), static_cast<int>(1 + day % 28), static_cast<int>(in_day / 3600),
                static_cast<int>(in_day / 60 % 60), static_cast<int>(in_day % 60));
  return text;
}

}  // namespace

std::string MessageBatchAttachment() {
  Sequence random(0x5eed0001);
  const std::string chat = PhoneNumber(random);
  uint64_t date = 660000000;  // seconds since 2001 (the messages database's epoch)
  std::string json = "[";
  for (int i = 0; i < 50; ++i) {
    date += 30 + random.Below(7200);
    bool from_me = random.Below(2) == 0;
    uint64_t read = from_me ? 0 : date + random.Below(600);
    if (i > 0) json += ',';
    json += "{\"id\":" + std::to_string(41000 + i * 3 + random.Below(3)) + ",\"chat_id\":\"" + chat +
            "\",\"text\":\"" + Sentence(random) + "\",\"date\":" + std::to_string(date * 1000000000ull) +
            ",\"date_str\":\"" + DateText(date) + "\",\"date_read\":" + std::to_string(read * 1000000000ull) +
            ",\"date_read_str\":\"" + (read ? DateText(read) : std::string()) +
            "\",\"is_from_me\":" + (from_me ? "1" : "0") + ",\"is_read\":" + (from_me ? "0" : "1") +
            ",\"is_sent\":" + (from_me ? "1" : "0") + ",\"error\":0,\"handle_id\":" + (from_me ? "0" : "7") +
            ",\"handle_id_phone\":\"" + (from_me ? std::string() : chat) +
            "\",\"subject\":\"\",\"account_guid\":\"P:+4915112345678\",\"account\":\"p:+4915112345678\"}";
  }
  return json + "]";
}

std::string PhotoBatchAttachment() {
  Sequence random(0x5eed0002);
  uint64_t date = 680000000;
  std::string json = "[";
  for (int i = 0; i < 600; ++i) {
    date += 5 + random.Below(86400);
    char path[64];
    std::snprintf(path, sizeof(path), "DCIM/%dAPPLE/IMG_%04d.%s", 100 + i / 1000, 1 + i,
                  random.Below(5) == 0 ? "HEIC" : "JPG");
    if (i > 0) json += ',';
    json += "{\"PATH\":\"" + std::string(path) + "\",\"Z_PK\":" + std::to_string(1 + i) +
            ",\"ZSAVEDASSETTYPE\":" + (random.Below(8) == 0 ? "6" : "3") +
            ",\"ZORIENTATION\":" + std::to_string(1 + random.Below(2) * 5) +
            ",\"ZADDITIONALATTRIBUTES\":" + std::to_string(1 + i) + ",\"ZDATECREATED\":\"" + DateText(date) +
            "\",\"ZMODIFICATIONDATE\":\"" + DateText(date + random.Below(100000)) +
            "\",\"ZORIGINALFILESIZE\":" + std::to_string(800000 + random.Below(4000000)) + "}";
  }
  return json + "]";
}

std::string ContactChunkAttachment() {
  Sequence random(0x5eed0003);
  std::string json = "{";
  uint64_t record = 3000;
  for (int i = 0; i < 100; ++i) {
    std::string first = random.Pick(kFirstNames);
    std::string last = random.Pick(kLastNames);
    if (i > 0) json += ',';
    json += "\"" + std::to_string(++record) + "\":{\"first name\":\"" + first + "\",\"last name\":\"" + last +
            "\",\"organization\":\"" + random.Pick(kCompanies) + "\",\"display as company\":\"person\"";
    json += ",\"com.apple.contacts.Phone Number\":[";
    uint64_t phones = 1 + random.Below(3);
    for (uint64_t p = 0; p < phones; ++p) {
      if (p > 0) json += ',';
      json += "{\"id\":\"" + std::to_string(++record) + "\",\"type\":\"" + random.Pick(kPhoneLabels) +
              "\",\"value\":\"" + PhoneNumber(random) + "\"}";
    }
    json += "],\"com.apple.contacts.Email Address\":[{\"id\":\"" + std::to_string(++record) +
            "\",\"type\":\"home\",\"value\":\"" + first + "." + last + "@" + random.Pick(kMailDomains) + "\"}]";
    if (random.Below(4) == 0) {
      json += ",\"birthday\":\"19" + std::to_string(50 + random.Below(50)) + "-0" + std::to_string(1 + random.Below(9)) +
              "-1" + std::to_string(random.Below(9)) + "T12:00:00Z\"";
    }
    json += "}";
  }
  return json + "}";
}

}  // namespace bench
