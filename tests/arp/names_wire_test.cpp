// The name questions as they go out, and the readers of their answers over
// handmade messages: compression, loops, truncation, oversize names.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "names_wire.h"

namespace norvane::names {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A message written a field at a time.
struct Message {
  Bytes bytes;
  Message& U16(std::uint16_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    bytes.push_back(static_cast<std::uint8_t>(value));
    return *this;
  }
  Message& Raw(const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    return *this;
  }
  // Labels, then the root.
  Message& Name(std::initializer_list<std::string> labels) {
    for (const std::string& label : labels)
      Raw(std::string(1, static_cast<char>(label.size())) + label);
    bytes.push_back(0);
    return *this;
  }
  Message& Pointer(std::uint16_t to) { return U16(0xC000 | to); }
  // A record's type, class, TTL and data length.
  Message& Fields(std::uint16_t type, std::uint16_t data_size,
                  std::uint16_t type_class = 1) {
    return U16(type).U16(type_class).U16(0).U16(120).U16(data_size);
  }
};

// A response header: id, flags, one question when asked, answers.
Message Response(std::uint16_t answers, bool question = true,
                 std::uint16_t flags = 0x8400) {
  Message m;
  m.U16(0x0102).U16(flags).U16(question).U16(answers).U16(0).U16(0);
  if (question)
    m.Name({"7", "100", "51", "198", "in-addr", "arpa"}).U16(12).U16(1);
  return m;
}

// That response with one PTR record of size data bytes, its name to follow.
Message Ptr(std::uint16_t size, std::uint16_t type_class = 1,
            std::uint16_t flags = 0x8400) {
  return Response(1, true, flags).Pointer(12).Fields(12, size, type_class);
}

constexpr std::uint32_t k198_51_100_7 = 0x076433C6;  // network byte order

TEST(NamesWire, PtrAnswers) {
  const std::string x63(63, 'x'), x61(61, 'x');  // 4 labels: 255 bytes
  const struct {
    const char* what;
    Bytes message;
    std::string name;  // empty: none read
  } cases[] = {
      {"plain, cache-flush class",
       Ptr(15, 0x8001).Name({"printer", "local"}).bytes, "printer.local"},
      {"after an A record, its name pointing into that record's owner",
       Response(2)
           .Name({"x", "local"})
           .Fields(1, 4)
           .Raw("\xC6\x33\x64\x07")
           .Pointer(12)
           .Fields(12, 10)
           .Raw("\x07Pixel-7")
           .Pointer(45)  // "local" in the A record's owner
           .bytes,
       "Pixel-7.local"},
      {"control characters kept as they are",
       Ptr(6).Name({std::string("a\x1b\n\0", 4)}).bytes,
       std::string("a\x1b\n\0", 4)},
      {"255 bytes", Ptr(255).Name({x63, x63, x63, x61}).bytes,
       x63 + '.' + x63 + '.' + x63 + '.' + x61},
      {"256 bytes", Ptr(256).Name({x63, x63, x63, x61 + 'x'}).bytes, ""},
      {"a name pointing at itself", Ptr(2).Pointer(55).bytes, ""},
      // At 55 a label runs up to a pointer back to 55: a loop of labels.
      {"a loop through a label", Ptr(4).Raw("\x01y").Pointer(55).bytes, ""},
      {"a name longer than its record", Ptr(3).Name({"printer"}).bytes, ""},
      {"an extended label type", Ptr(3).Raw("\x41xx").bytes, ""},
      {"an empty name", Ptr(1).Name({}).bytes, ""},
      {"not a reverse name",
       Response(1, false)
           .Name({"256", "100", "51", "198", "in-addr", "arpa"})
           .Fields(12, 3)
           .Name({"x"})
           .bytes,
       ""},
      {"a query, not a response", Ptr(3, 1, 0).Name({"x"}).bytes, ""},
      {"an error response", Ptr(3, 1, 0x8403).Name({"x"}).bytes, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto answer = ReadPtrAnswer(c.message);
    EXPECT_EQ(answer ? answer->name : "", c.name);
    EXPECT_EQ(answer ? answer->address : k198_51_100_7, k198_51_100_7);
    // Cut short anywhere, the answer is gone, never misread.
    for (std::size_t size = 0; size < c.message.size(); ++size)
      EXPECT_FALSE(ReadPtrAnswer({c.message.data(), size})) << size;
  }
  // The question as it is sent, answered: the reverse name's order and the
  // reader's agree.
  Message reply{BuildPtrQuery(7, k198_51_100_7)};
  reply.bytes[2] = 0x84;
  reply.bytes[7] = 1;
  const auto answer = reply.Pointer(12).Fields(12, 3).Name({"x"}).bytes;
  const auto read = ReadPtrAnswer(answer);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->name, "x");
}

// A node status answer: its name (the wildcard's, compressed in no way), the
// count, 18 bytes for each name, and then the statistics.
Bytes NodeStatusAnswer(
    std::uint8_t count,
    std::initializer_list<std::tuple<std::string, std::uint8_t, bool>> names,
    std::uint16_t extra = 46) {
  Message m;
  m.U16(0xABCD).U16(0x8400).U16(0).U16(1).U16(0).U16(0);
  m.Name({"CK" + std::string(30, 'A')});
  m.Fields(0x21, static_cast<std::uint16_t>(1 + 18 * names.size() + extra));
  m.bytes.push_back(count);
  for (const auto& [name, suffix, group] : names) {
    std::string padded = name;
    padded.resize(15, ' ');
    m.Raw(padded);
    m.bytes.push_back(suffix);
    m.U16(group ? 0x8400 : 0x0400);
  }
  m.bytes.insert(m.bytes.end(), extra, 0);
  return m.bytes;
}

TEST(NamesWire, NodeStatusAnswers) {
  const std::string odd =
      "\x1b[31mRED\x7f\xff"
      "ABCDE";  // fifteen bytes
  const struct {
    const char* what;
    Bytes message;
    std::string name;
  } cases[] = {
      {"the workstation name after a group and a server name",
       NodeStatusAnswer(3, {{"WORKGROUP", 0x00, true},
                            {"FILESRV", 0x20, false},
                            {"FILESRV", 0x00, false}}),
       "FILESRV"},
      {"fifteen bytes of any kind", NodeStatusAnswer(1, {{odd, 0x00, false}}),
       odd},
      {"only group and service names",
       NodeStatusAnswer(2, {{"WORKGROUP", 0x00, true}, {"HOST", 0x20, false}}),
       ""},
      {"a blank name", NodeStatusAnswer(1, {{"", 0x00, false}}), ""},
      {"a count past the data", NodeStatusAnswer(255, {{"HOST", 0, false}}, 0),
       "HOST"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto status = ReadNodeStatus(c.message);
    EXPECT_EQ(status ? status->name : "", c.name);
    EXPECT_EQ(status ? status->id : 0xABCD, 0xABCD);
  }
  // Cut short within its names, the answer is gone.
  const Bytes whole = NodeStatusAnswer(1, {{"HOST", 0x00, false}}, 0);
  for (std::size_t size = 0; size < whole.size(); ++size)
    EXPECT_FALSE(ReadNodeStatus({whole.data(), size})) << size;
  EXPECT_TRUE(ReadNodeStatus(whole));
  // A DNS answer is no node status, nor the other way round.
  EXPECT_FALSE(ReadNodeStatus(Ptr(3).Name({"x"}).bytes));
  EXPECT_FALSE(ReadPtrAnswer(whole));
}

}  // namespace
}  // namespace norvane::names
