#include "names_wire.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace norvane::names {
namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::size_t kHeader = 12;
constexpr std::uint16_t kTypePtr = 12;
constexpr std::uint16_t kTypeNodeStatus = 0x21;
constexpr std::uint16_t kClassInternet = 1;
constexpr std::uint16_t kUnicastAnswer = 0x8000;  // the QU bit of a question
// Pointers followed in one name at most; each also points further back.
constexpr int kMostJumps = 64;

std::uint16_t Read16(Bytes bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

void Put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

// A query's header: id, no flags, one question.
std::vector<std::uint8_t> Header(std::uint16_t id) {
  std::vector<std::uint8_t> out;
  Put16(out, id);
  for (const std::uint16_t field : {0, 1, 0, 0, 0}) Put16(out, field);
  return out;
}

// Reads the name at pos: its labels into labels (when given) and pos moved
// past the name's own bytes. False for a name that runs out of the message,
// points forward or to itself, uses a label type other than plain and
// pointer, or is longer than 255 bytes in all.
bool ReadName(Bytes message, std::size_t& pos,
              std::vector<std::string>* labels) {
  std::size_t at = pos, length = 1;
  bool jumped = false;
  for (int jumps = 0;;) {
    if (at >= message.size()) return false;
    const std::uint8_t size = message[at];
    if ((size & 0xC0) == 0xC0) {
      if (at + 1 >= message.size() || ++jumps > kMostJumps) return false;
      const std::size_t target = (size & 0x3Fu) << 8 | message[at + 1];
      if (target >= at) return false;
      if (!jumped) pos = at + 2;
      jumped = true;
      at = target;
      continue;
    }
    if (size & 0xC0) return false;
    if (size == 0) {
      if (!jumped) pos = at + 1;
      return true;
    }
    length += size + 1u;
    if (length > kLongestName + 2 || at + 1 + size > message.size())
      return false;
    if (labels) {
      labels->emplace_back(
          reinterpret_cast<const char*>(message.data() + at + 1), size);
    }
    at += 1 + size;
  }
}

bool SameText(const std::string& text, std::string_view lower) {
  return std::equal(text.begin(), text.end(), lower.begin(), lower.end(),
                    [](char a, char b) {
                      return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b;
                    });
}

// The address whose reverse name the labels spell: d.c.b.a.in-addr.arpa.
std::optional<std::uint32_t> ReverseAddress(
    const std::vector<std::string>& labels) {
  if (labels.size() != 6 || !SameText(labels[4], "in-addr") ||
      !SameText(labels[5], "arpa")) {
    return std::nullopt;
  }
  std::uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) {
    const std::string& label = labels[3 - i];
    unsigned value = 256;
    const auto [end, error] =
        std::from_chars(label.data(), label.data() + label.size(), value);
    if (error != std::errc() || end != label.data() + label.size() ||
        value > 255 || label.size() > 3) {
      return std::nullopt;
    }
    bytes[i] = static_cast<std::uint8_t>(value);
  }
  std::uint32_t address;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

// The answer records of a response: the header checked (a response, a
// standard query, no error) and its questions skipped; pos is left at the
// first answer and count holds how many there are.
bool SkipToAnswers(Bytes message, std::size_t& pos, unsigned& count) {
  if (message.size() < kHeader) return false;
  const std::uint16_t flags = Read16(message, 2);
  if (!(flags & 0x8000) || (flags >> 11 & 0xF) != 0 || (flags & 0xF) != 0)
    return false;
  pos = kHeader;
  for (unsigned questions = Read16(message, 4); questions > 0; --questions) {
    if (!ReadName(message, pos, nullptr) || pos + 4 > message.size())
      return false;
    pos += 4;
  }
  count = Read16(message, 6);
  return true;
}

struct Record {
  std::vector<std::string> owner;
  std::uint16_t type = 0, type_class = 0;
  std::size_t data = 0, data_size = 0;  // in the message
};

// The record at pos, pos moved past it.
bool ReadRecord(Bytes message, std::size_t& pos, Record& record) {
  record.owner.clear();
  if (!ReadName(message, pos, &record.owner) || pos + 10 > message.size())
    return false;
  record.type = Read16(message, pos);
  record.type_class = Read16(message, pos + 2) & 0x7FFF;  // no cache flush
  record.data_size = Read16(message, pos + 8);
  record.data = pos + 10;
  if (record.data + record.data_size > message.size()) return false;
  pos = record.data + record.data_size;
  return true;
}

std::string Join(const std::vector<std::string>& labels) {
  std::string text;
  for (const std::string& label : labels) {
    if (!text.empty()) text += '.';
    text += label;
  }
  return text;
}

}  // namespace

std::vector<std::uint8_t> BuildPtrQuery(std::uint16_t id,
                                        std::uint32_t address) {
  std::uint8_t bytes[4];
  std::memcpy(bytes, &address, sizeof bytes);
  std::vector<std::uint8_t> out = Header(id);
  const auto label = [&](const std::string& text) {
    out.push_back(static_cast<std::uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
  };
  for (int i = 3; i >= 0; --i) label(std::to_string(bytes[i]));
  label("in-addr");
  label("arpa");
  out.push_back(0);
  Put16(out, kTypePtr);
  Put16(out, kClassInternet | kUnicastAnswer);
  return out;
}

std::optional<PtrAnswer> ReadPtrAnswer(Bytes message) {
  std::size_t pos = 0;
  unsigned count = 0;
  if (!SkipToAnswers(message, pos, count)) return std::nullopt;
  Record record;
  for (; count > 0 && ReadRecord(message, pos, record); --count) {
    if (record.type != kTypePtr || record.type_class != kClassInternet)
      continue;
    const auto address = ReverseAddress(record.owner);
    if (!address) continue;
    // The name must lie within the record's data, though it may point back
    // anywhere before it.
    std::size_t at = record.data;
    std::vector<std::string> labels;
    if (!ReadName(message.first(record.data + record.data_size), at, &labels) ||
        labels.empty()) {
      continue;
    }
    return PtrAnswer{*address, Join(labels)};
  }
  return std::nullopt;
}

std::vector<std::uint8_t> BuildNodeStatusRequest(std::uint16_t id) {
  std::vector<std::uint8_t> out = Header(id);
  // "*" and fifteen NULs, each half byte as a letter from 'A'.
  out.push_back(32);
  out.push_back('C');
  out.push_back('K');
  out.insert(out.end(), 30, 'A');
  out.push_back(0);
  Put16(out, kTypeNodeStatus);
  Put16(out, kClassInternet);
  return out;
}

std::optional<NodeStatus> ReadNodeStatus(Bytes message) {
  std::size_t pos = 0;
  unsigned count = 0;
  if (!SkipToAnswers(message, pos, count)) return std::nullopt;
  Record record;
  for (; count > 0 && ReadRecord(message, pos, record); --count) {
    if (record.type != kTypeNodeStatus || record.type_class != kClassInternet ||
        record.data_size < 1) {
      continue;
    }
    // A count, then 18 bytes a name: 15 of name, the suffix, two of flags.
    const Bytes data = message.subspan(record.data, record.data_size);
    const std::size_t names =
        std::min<std::size_t>(data[0], (data.size() - 1) / 18);
    for (std::size_t i = 0; i < names; ++i) {
      const Bytes entry = data.subspan(1 + 18 * i, 18);
      const bool group = entry[16] & 0x80;
      if (entry[15] != 0x00 || group) continue;
      std::string name(reinterpret_cast<const char*>(entry.data()), 15);
      name.erase(name.find_last_not_of(std::string_view(" \0", 2)) + 1);
      if (name.empty()) continue;
      return NodeStatus{Read16(message, 0), name};
    }
  }
  return std::nullopt;
}

}  // namespace norvane::names
