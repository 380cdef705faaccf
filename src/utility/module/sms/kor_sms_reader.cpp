#include "utility/module/sms/kor_sms_reader.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <unordered_map>

#include "platform/kst_log.h"
#include "utility/db/kor_sqlite.h"
#include "utility/db/kor_typedstream.h"
#include "utility/module/sms/kor_sms_date.h"

namespace {

constexpr const char* kConversationMessagesSql =
    "select c.rowid,c.chat_identifier,m.rowid,m.text,m.date_read,m.date,m.is_read,m.is_from_me,m.is_sent,"
    "m.error,m.handle_id,h.id,m.subject,m.account,m.account_guid from message m left join chat_message_join cmj "
    "on  m.rowid = cmj.message_id left join  chat c on  cmj.chat_id = c.rowid left join handle h on "
    "m.handle_id = h.rowid order by m.date";
constexpr const char* kConversationHandlesSql =
    "select c.rowid,c.chat_identifier,h.rowid,h.id,h.country,h.service from handle h left join chat_handle_join "
    "chj on h.rowid = chj.handle_id left join chat c on chj.chat_id = c.rowid";
constexpr const char* kSingleTableSql =
    "select m.address,m.rowid,m.text,0,m.date,m.read,m.flags,0,0,0,m.subject,'','' from message m order by m.date";
// Newer databases keep some texts only in the archived attributed string.
constexpr const char* kAttributedBodySql =
    "select rowid,attributedBody from message where text is null and attributedBody is not null";

enum class SmsSchema { kNone, kConversation, kSingleTable };

using ConversationMap = std::map<std::string, std::unique_ptr<KorSmsConversation>>;
using DecodedTexts = std::unordered_map<int64_t, std::string>;

struct SchemaTables {
  bool message = false, handle = false, chat = false, chat_message_join = false, chat_handle_join = false,
       madrid_chat = false;
};

bool TableExists(const KorSqliteDatabase& db, const char* table) {
  return KorProbeTable(db, table) == kKorTableExists;
}

SmsSchema ChooseSchema(const KorSqliteDatabase& db) {
  SchemaTables tables;
  tables.message = TableExists(db, "message");
  tables.handle = TableExists(db, "handle");
  tables.chat = TableExists(db, "chat");
  tables.chat_message_join = TableExists(db, "chat_message_join");
  tables.chat_handle_join = TableExists(db, "chat_handle_join");
  tables.madrid_chat = TableExists(db, "madrid_chat");
  TableExists(db, "madrid_handle");  // probed for the log; no schema depends on it alone
  if (!tables.message) return SmsSchema::kNone;
  if (tables.handle && tables.chat && tables.chat_message_join && tables.chat_handle_join) {
    return SmsSchema::kConversation;
  }
  if (tables.madrid_chat) return SmsSchema::kNone;
  return SmsSchema::kSingleTable;
}

KorSmsConversation* FindOrCreate(ConversationMap* conversations, const std::string& key, int64_t rowid) {
  auto found = conversations->find(key);
  if (found != conversations->end()) return found->second.get();
  auto conversation = std::make_unique<KorSmsConversation>();
  conversation->rowid = rowid;
  conversation->chat_id = key;
  return conversations->emplace(key, std::move(conversation)).first->second.get();
}

void SetDate(int64_t raw, int64_t* date, std::string* text) {
  *date = raw;
  if (raw != 0) *text = KorAppleDateString(raw);
}

void Append(KorSmsConversation* conversation, std::unique_ptr<KorSmsMessage> message) {
  conversation->last_date = message->date;
  conversation->last_date_str = message->date_str;
  conversation->snippet = &message->text;
  conversation->messages.push_back(std::move(message));
}

// Decoded texts of messages whose text column is NULL; a database without the column has none.
DecodedTexts ReadAttributedTexts(const KorSqliteDatabase& db) {
  DecodedTexts texts;
  if (KorProbeColumn(db, "message", "attributedBody") != kKorTableExists) return texts;
  KorSqliteStatement rows;
  if (KorPrepareStatement(db, kAttributedBodySql, &rows) != 0) return texts;
  while (rows.Step()) {
    std::string text;
    if (KorDecodeAttributedString(rows.Blob(1), &text)) texts.emplace(rows.Int64(0), std::move(text));
  }
  return texts;
}

int ReadConversationMessages(const KorSqliteDatabase& db, const DecodedTexts& decoded,
                             ConversationMap* conversations) {
  KorSqliteStatement rows;
  if (int rc = KorPrepareStatement(db, kConversationMessagesSql, &rows)) return rc;
  while (rows.Step()) {
    std::string key = rows.Text(1);
    KorSmsConversation* conversation = FindOrCreate(conversations, key, rows.Int64(0));
    auto message = std::make_unique<KorSmsMessage>();
    message->id = rows.Int64(2);
    message->chat_id = key;
    message->text = rows.Text(3);
    if (rows.IsNull(3)) {
      auto text = decoded.find(message->id);
      if (text != decoded.end()) message->text = text->second;
    }
    SetDate(rows.Int64(4), &message->date_read, &message->date_read_str);
    SetDate(rows.Int64(5), &message->date, &message->date_str);
    message->is_read = rows.Int(6);
    message->is_from_me = rows.Int(7);
    message->is_sent = rows.Int(8);
    message->error = rows.Int(9);
    message->handle_id = rows.Int64(10);
    message->handle_address = rows.Text(11);
    message->subject = rows.Text(12);
    message->account = rows.Text(13);
    message->account_guid = rows.Text(14);
    if (conversation->is_group == 0 && message->handle_id == 0) conversation->is_group = 1;
    Append(conversation, std::move(message));
  }
  return 0;
}

int ReadConversationHandles(const KorSqliteDatabase& db, ConversationMap* conversations) {
  KorSqliteStatement rows;
  if (int rc = KorPrepareStatement(db, kConversationHandlesSql, &rows)) return rc;
  while (rows.Step()) {
    auto found = conversations->find(rows.Text(1));
    if (found == conversations->end()) continue;
    KorSmsConversation* conversation = found->second.get();
    auto handle = std::make_unique<KorSmsHandle>();
    handle->chat_id = found->first;
    handle->chat_rowid = rows.Int64(0);
    handle->handle_rowid = rows.Int64(2);
    handle->address = rows.Text(3);
    handle->country = rows.Text(4);
    handle->service = rows.Text(5);
    if (conversation->display_phone.find(handle->address) == std::string::npos) {
      conversation->display_phone += handle->address + ",";
    }
    conversation->handles.push_back(std::move(handle));
  }
  return 0;
}

int ReadSingleTable(const KorSqliteDatabase& db, ConversationMap* conversations) {
  KorSqliteStatement rows;
  if (int rc = KorPrepareStatement(db, kSingleTableSql, &rows)) return rc;
  while (rows.Step()) {
    int64_t address = rows.Int64(0);
    char key[32];
    std::snprintf(key, sizeof key, "%" PRId64, address);
    bool is_new = conversations->find(key) == conversations->end();
    KorSmsConversation* conversation = FindOrCreate(conversations, key, address);
    if (is_new) conversation->display_phone = std::string(key) + ",";
    auto message = std::make_unique<KorSmsMessage>();
    message->id = rows.Int64(1);
    message->chat_id = key;
    message->text = rows.Text(2);
    SetDate(rows.Int64(4), &message->date, &message->date_str);
    message->is_read = rows.Int(5);
    message->is_from_me = rows.Int(6) == 3 ? 1 : 0;
    message->subject = rows.Text(10);
    Append(conversation, std::move(message));
  }
  return 0;
}

int ReadBySchema(const KorSqliteDatabase& db, ConversationMap* conversations) {
  switch (ChooseSchema(db)) {
    case SmsSchema::kConversation: {
      DecodedTexts decoded = ReadAttributedTexts(db);
      if (int rc = ReadConversationMessages(db, decoded, conversations)) return rc;
      return ReadConversationHandles(db, conversations);
    }
    case SmsSchema::kSingleTable:
      return ReadSingleTable(db, conversations);
    case SmsSchema::kNone:
      break;
  }
  return 0;
}

}  // namespace

int KorSmsReadDatabase(const std::string& path, KorSmsConversationList* conversations) {
  conversations->clear();
  KLOG(INFO) << "QuerySmsDb2:" << path;
  ConversationMap by_identifier;
  {
    KorSqliteDatabase db;
    if (int rc = KorOpenDatabase(path, &db)) return rc;
    if (int rc = ReadBySchema(db, &by_identifier)) return rc;
  }
  for (auto& entry : by_identifier) conversations->push_back(std::move(entry.second));
  std::stable_sort(conversations->begin(), conversations->end(),
                   [](const auto& a, const auto& b) { return a->last_date > b->last_date; });
  return 0;
}
