#include "corefoundation/plist_input_guard.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace devicefw::cf {
namespace {

constexpr size_t kBinaryHeaderSize = 8;  // "bplist00"
constexpr size_t kTrailerSize = 32;

uint64_t ReadBigEndian(const uint8_t* bytes, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) value = (value << 8) | bytes[i];
  return value;
}

// The parts of a binary property list that the graph walk needs, all bounds-checked.
class BinaryPlistGraph {
 public:
  BinaryPlistGraph(const uint8_t* bytes, size_t length) : bytes_(bytes), length_(length) {}

  bool ReadTrailer() {
    if (length_ < kBinaryHeaderSize + kTrailerSize) return false;
    const uint8_t* trailer = bytes_ + length_ - kTrailerSize;
    offset_size_ = trailer[6];
    ref_size_ = trailer[7];
    object_count_ = ReadBigEndian(trailer + 8, 8);
    top_object_ = ReadBigEndian(trailer + 16, 8);
    table_offset_ = ReadBigEndian(trailer + 24, 8);
    const uint64_t table_limit = length_ - kTrailerSize;
    return offset_size_ >= 1 && offset_size_ <= 8 && ref_size_ >= 1 && ref_size_ <= 8 && object_count_ >= 1 &&
           top_object_ < object_count_ && table_offset_ >= kBinaryHeaderSize && table_offset_ <= table_limit &&
           object_count_ <= (table_limit - table_offset_) / offset_size_;
  }

  uint64_t object_count() const { return object_count_; }
  uint64_t top_object() const { return top_object_; }

  // Where a container's references are; count 0 for a scalar.
  struct References {
    uint64_t start = 0;
    uint64_t count = 0;
  };

  // Nothing when the object or its reference list lies outside the object area.
  std::optional<References> ReferencesOf(uint64_t object) const {
    const uint64_t offset = ReadBigEndian(bytes_ + table_offset_ + object * offset_size_, offset_size_);
    if (offset < kBinaryHeaderSize || offset >= table_offset_) return std::nullopt;
    const uint8_t marker = bytes_[offset];
    const uint8_t kind = marker >> 4;
    const bool is_array_or_set = kind == 0xA || kind == 0xC;
    if (!is_array_or_set && kind != 0xD) return References{};
    uint64_t cursor = offset + 1;
    uint64_t count = marker & 0x0F;
    if (count == 0x0F) {
      if (cursor >= table_offset_) return std::nullopt;
      const uint8_t count_marker = bytes_[cursor++];
      const size_t width = size_t{1} << (count_marker & 0x0F);
      if ((count_marker >> 4) != 0x1 || width > 8 || table_offset_ - cursor < width) return std::nullopt;
      count = ReadBigEndian(bytes_ + cursor, width);
      cursor += width;
    }
    const uint64_t per_entry = is_array_or_set ? 1 : 2;
    if (count > (table_offset_ - cursor) / ref_size_ / per_entry) return std::nullopt;
    return References{cursor, count * per_entry};
  }

  uint64_t Reference(const References& references, uint64_t index) const {
    return ReadBigEndian(bytes_ + references.start + index * ref_size_, ref_size_);
  }

 private:
  const uint8_t* bytes_;
  size_t length_;
  size_t offset_size_ = 0;
  size_t ref_size_ = 0;
  uint64_t object_count_ = 0;
  uint64_t top_object_ = 0;
  uint64_t table_offset_ = 0;
};

// Depth-first walk with an explicit stack; each object is summarised once (depth and expanded
// node count), so shared references cost nothing extra to check.
bool IsBinaryGraphWithinLimits(const BinaryPlistGraph& graph) {
  const uint64_t max_nodes = MaxExpandedNodes(graph.object_count());
  enum class Mark : uint8_t { kUnseen, kOnPath, kDone };
  struct Frame {
    uint64_t object;
    BinaryPlistGraph::References references;
    uint64_t next_child = 0;
    uint64_t depth = 1;
    uint64_t nodes = 1;
  };
  std::vector<Mark> marks(graph.object_count(), Mark::kUnseen);
  std::vector<uint32_t> depth_of(graph.object_count(), 0);
  std::vector<uint64_t> nodes_of(graph.object_count(), 0);
  std::vector<Frame> path;
  path.reserve(kMaxPlistNesting + 1);

  auto enter = [&](uint64_t object) {
    std::optional<BinaryPlistGraph::References> references = graph.ReferencesOf(object);
    if (!references || path.size() >= kMaxPlistNesting) return false;
    marks[object] = Mark::kOnPath;
    path.push_back(Frame{object, *references});
    return true;
  };
  if (!enter(graph.top_object())) return false;
  while (!path.empty()) {
    Frame& frame = path.back();
    if (frame.next_child == frame.references.count) {
      marks[frame.object] = Mark::kDone;
      depth_of[frame.object] = static_cast<uint32_t>(frame.depth);
      nodes_of[frame.object] = frame.nodes;
      const Frame finished = frame;
      path.pop_back();
      if (path.empty()) return true;
      Frame& parent = path.back();
      parent.depth = std::max(parent.depth, finished.depth + 1);
      parent.nodes += finished.nodes;
      if (parent.depth > kMaxPlistNesting || parent.nodes > max_nodes) return false;
      continue;
    }
    const uint64_t child = graph.Reference(frame.references, frame.next_child);
    if (child >= graph.object_count()) return false;
    switch (marks[child]) {
      case Mark::kOnPath:
        return false;  // a cycle
      case Mark::kDone:
        ++frame.next_child;
        frame.depth = std::max<uint64_t>(frame.depth, depth_of[child] + uint64_t{1});
        frame.nodes += nodes_of[child];
        if (frame.depth > kMaxPlistNesting || frame.nodes > max_nodes) return false;
        break;
      case Mark::kUnseen:
        ++frame.next_child;
        if (!enter(child)) return false;
        break;
    }
  }
  return true;
}

// Counts opening and closing container elements; anything that looks like a container tag counts,
// so text that merely resembles markup can only make the estimate deeper, never shallower.
bool IsXmlNestingWithinLimits(std::string_view text) {
  size_t depth = 0;
  for (size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1)) {
    std::string_view rest = text.substr(at + 1);
    const bool closing = !rest.empty() && rest.front() == '/';
    if (closing) rest.remove_prefix(1);
    size_t name_length = 0;
    if (rest.substr(0, 5) == "array") name_length = 5;
    if (rest.substr(0, 4) == "dict") name_length = 4;
    if (name_length == 0 || rest.size() == name_length) continue;
    const char after = rest[name_length];
    if (after != '>' && after != '/' && after != ' ' && after != '\t' && after != '\r' && after != '\n') continue;
    if (closing) {
      if (depth > 0) --depth;
      continue;
    }
    const size_t tag_end = rest.find('>');
    const bool self_closing = tag_end != std::string_view::npos && tag_end > 0 && rest[tag_end - 1] == '/';
    if (!self_closing && ++depth > kMaxPlistNesting) return false;
  }
  return true;
}

}  // namespace

uint64_t MaxExpandedNodes(uint64_t object_count) {
  constexpr uint64_t kFloor = uint64_t{1} << 20;
  constexpr uint64_t kCeiling = uint64_t{8} << 20;
  const uint64_t proportional = object_count > kCeiling / 64 ? kCeiling : object_count * 64;
  return std::min(kCeiling, std::max(kFloor, proportional));
}

bool IsPlistInputWithinLimits(const uint8_t* bytes, size_t length) {
  if (bytes == nullptr || length == 0 || length > UINT32_MAX) return false;
  if (length >= 6 && std::memcmp(bytes, "bplist", 6) == 0) {
    BinaryPlistGraph graph(bytes, length);
    return graph.ReadTrailer() && IsBinaryGraphWithinLimits(graph);
  }
  return IsXmlNestingWithinLimits(std::string_view(reinterpret_cast<const char*>(bytes), length));
}

}  // namespace devicefw::cf
