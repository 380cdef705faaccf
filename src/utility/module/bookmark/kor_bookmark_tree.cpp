#include "utility/module/bookmark/kor_bookmark_tree.h"

#include <algorithm>
#include <map>
#include <string>

namespace {

using Allocator = rapidjson::Document::AllocatorType;

std::string Text(const CIOSDictionary& record, const char* key) {
  const KorValue value = record.Get(key);
  return value.IsString() ? value.AsString() : std::string();
}

int64_t Position(const CIOSDictionary& record) {
  const KorValue value = record.Get("position");
  return value.IsInteger() ? value.AsInteger() : 0;
}

// The folder a record names first in "parent" (an array, or one text); empty when none.
std::string ParentOf(const CIOSDictionary& record) {
  const KorValue parent = record.Get("parent");
  if (parent.IsString()) return parent.AsString();
  if (!parent.IsArray()) return std::string();
  for (const KorValue& id : parent.AsArray()) {
    if (id.IsString()) return id.AsString();
  }
  return std::string();
}

class TreeBuilder {
 public:
  TreeBuilder(const std::vector<KorSyncRecord>& records, Allocator& allocator) : allocator_(allocator) {
    // A repeated identifier keeps its first record, so that every node is placed once.
    for (const KorSyncRecord& record : records) by_id_.emplace(record.id, &record);
    for (const KorSyncRecord& record : records) {
      if (by_id_[record.id] != &record) continue;
      const std::string parent = ParentOf(*record.fields.AsDictionary());
      // A record that names itself or a parent that is not there sits at the top level.
      const bool placed = parent != record.id && by_id_.count(parent);
      (placed ? children_[parent] : top_level_).push_back(&record);
    }
    SortByPosition(&top_level_);
    for (auto& entry : children_) SortByPosition(&entry.second);
  }

  const std::vector<const KorSyncRecord*>& TopLevel() const { return top_level_; }

  rapidjson::Value Node(const KorSyncRecord& record, int depth) {
    const CIOSDictionary& fields = *record.fields.AsDictionary();
    rapidjson::Value node(rapidjson::kObjectType);
    node.AddMember("id", Value(record.id), allocator_);
    node.AddMember("name", Value(Text(fields, "name")), allocator_);
    node.AddMember("url", Value(Text(fields, "url")), allocator_);
    node.AddMember("com_apple_syncservices_RecordEntityName", Value(Text(fields, "com.apple.syncservices.RecordEntityName")),
                   allocator_);
    node.AddMember("position", Position(fields), allocator_);
    rapidjson::Value children(rapidjson::kArrayType);
    auto listed = children_.find(record.id);
    if (listed != children_.end() && depth < kKorBookmarkMaxDepth) {
      for (const KorSyncRecord* child : listed->second) children.PushBack(Node(*child, depth + 1), allocator_);
    }
    node.AddMember("children", children, allocator_);
    return node;
  }

 private:
  rapidjson::Value Value(const std::string& text) {
    return rapidjson::Value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator_);
  }

  static void SortByPosition(std::vector<const KorSyncRecord*>* records) {
    std::stable_sort(records->begin(), records->end(), [](const KorSyncRecord* a, const KorSyncRecord* b) {
      return Position(*a->fields.AsDictionary()) < Position(*b->fields.AsDictionary());
    });
  }

  Allocator& allocator_;
  std::vector<const KorSyncRecord*> top_level_;
  std::map<std::string, const KorSyncRecord*> by_id_;
  std::map<std::string, std::vector<const KorSyncRecord*>> children_;
};

}  // namespace

rapidjson::Document KorBookmarkTree(const std::vector<KorSyncRecord>& records) {
  rapidjson::Document tree(rapidjson::kArrayType);
  TreeBuilder builder(records, tree.GetAllocator());
  for (const KorSyncRecord* record : builder.TopLevel()) tree.PushBack(builder.Node(*record, 1), tree.GetAllocator());
  return tree;
}
