#include "utility/module/sms/kor_sms_json.h"

#include <charconv>
#include <string_view>

#include "utility/db/kor_typedstream.h"

// A listing of 100,000 messages writes about 40 MB of JSON; writing it directly (runs of plain
// characters appended at once, numbers with to_chars) is several times faster than a generic
// writer that handles one character at a time.
namespace {

class JsonText {
 public:
  explicit JsonText(std::string* out) : out_(out) {}

  void Open() { out_->push_back('{'); }
  void Close() { out_->push_back('}'); }
  void OpenArray(const char* key) {
    Key(key);
    out_->push_back('[');
  }
  void CloseArray() { out_->push_back(']'); }
  void Separator() { out_->push_back(','); }

  void Number(const char* key, int64_t value) {
    Key(key);
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    out_->append(digits, result.ptr);
  }

  // Database texts are not trusted to be UTF-8; invalid bytes would make the whole batch unreadable.
  void Text(const char* key, std::string_view value) {
    Key(key);
    if (KorIsValidUtf8(value)) {
      Quoted(value);
    } else {
      Quoted(KorValidUtf8(value));
    }
  }

 private:
  void Key(const char* key) {
    if (!out_->empty() && out_->back() != '{' && out_->back() != '[') out_->push_back(',');
    out_->push_back('"');
    out_->append(key);
    out_->append("\":");
  }

  void Quoted(std::string_view value) {
    static const char kHex[] = "0123456789ABCDEF";
    out_->push_back('"');
    size_t run = 0;
    for (size_t i = 0; i < value.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(value[i]);
      if (c >= 0x20 && c != '"' && c != '\\') continue;
      out_->append(value.data() + run, i - run);
      run = i + 1;
      switch (c) {
        case '"': out_->append("\\\""); break;
        case '\\': out_->append("\\\\"); break;
        case '\b': out_->append("\\b"); break;
        case '\f': out_->append("\\f"); break;
        case '\n': out_->append("\\n"); break;
        case '\r': out_->append("\\r"); break;
        case '\t': out_->append("\\t"); break;
        default: {
          char escaped[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
          out_->append(escaped, sizeof escaped);
        }
      }
    }
    out_->append(value.data() + run, value.size() - run);
    out_->push_back('"');
  }

  std::string* out_;
};

void WriteHandle(JsonText& json, const KorSmsHandle& handle) {
  json.Open();
  json.Number("id", handle.handle_rowid);
  json.Number("chat_rowid", handle.chat_rowid);
  json.Text("chat_id", handle.chat_id);
  json.Text("service", handle.service);
  json.Text("country", handle.country);
  json.Text("handle_id_phone", handle.address);
  json.Close();
}

std::string_view WithoutLastComma(const std::string& display_phone) {
  std::string_view text(display_phone);
  if (!text.empty() && text.back() == ',') text.remove_suffix(1);
  return text;
}

}  // namespace

std::string KorSmsConversationJson(const KorSmsConversation& conversation) {
  std::string text;
  JsonText json(&text);
  json.Open();
  json.Text("id", std::to_string(conversation.rowid));
  json.Text("chat_id", conversation.chat_id);
  json.Text("snippet", conversation.snippet ? std::string_view(*conversation.snippet) : std::string_view());
  json.Text("display_phone", WithoutLastComma(conversation.display_phone));
  json.Number("is_group", conversation.is_group);
  json.Number("date", conversation.last_date);
  json.Text("date_str", conversation.last_date_str);
  json.OpenArray("handles");
  bool first = true;
  for (const auto& handle : conversation.handles) {
    if (!first) json.Separator();
    first = false;
    WriteHandle(json, *handle);
  }
  json.CloseArray();
  json.Number("message_count", static_cast<int64_t>(conversation.messages.size()));
  json.Close();
  return text;
}

std::string KorSmsMessageJson(const KorSmsMessage& message) {
  std::string text;
  KorSmsAppendMessageJson(message, &text);
  return text;
}

void KorSmsAppendMessageJson(const KorSmsMessage& message, std::string* out) {
  JsonText json(out);
  json.Open();
  json.Number("id", message.id);
  json.Text("chat_id", message.chat_id);
  json.Text("text", message.text);
  json.Number("date", message.date);
  json.Text("date_str", message.date_str);
  json.Number("date_read", message.date_read);
  json.Text("date_read_str", message.date_read_str);
  json.Number("is_from_me", message.is_from_me);
  json.Number("is_read", message.is_read);
  json.Number("is_sent", message.is_sent);
  json.Number("error", message.error);
  json.Number("handle_id", message.handle_id);
  json.Text("handle_id_phone", message.handle_address);
  json.Text("subject", message.subject);
  json.Text("account_guid", message.account_guid);
  json.Text("account", message.account);
  json.Close();
}
