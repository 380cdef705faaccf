// The conversations, messages and participants read from a messages database.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct KorSmsMessage {
  int64_t id = 0;
  std::string chat_id;
  std::string text;
  int64_t date = 0;
  std::string date_str;
  int64_t date_read = 0;
  std::string date_read_str;
  int32_t is_from_me = 0;
  int32_t is_read = 0;
  int32_t is_sent = 0;
  int32_t error = 0;
  int64_t handle_id = 0;
  std::string handle_address;
  std::string subject;
  std::string account;
  std::string account_guid;
};

struct KorSmsHandle {
  int64_t handle_rowid = 0;
  int64_t chat_rowid = 0;
  std::string chat_id;
  std::string address;
  std::string country;
  std::string service;
};

struct KorSmsConversation {
  int64_t rowid = 0;
  std::string chat_id;
  int32_t is_group = 0;
  int64_t last_date = 0;
  std::string last_date_str;
  const std::string* snippet = nullptr;  // the text of the last message added
  std::string display_phone;             // addresses, each followed by ","
  std::vector<std::unique_ptr<KorSmsMessage>> messages;
  std::vector<std::unique_ptr<KorSmsHandle>> handles;
};
