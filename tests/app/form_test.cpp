// cmdRetreive_Click without a window: fake text boxes and a fake resolver that
// log, in order, every write to a box and every query.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "form.h"
#include "oui.h"
#include "resolve_each.h"

namespace {

using Log = std::vector<std::u16string>;
Log events;

struct FakeBoxes final : norvane::FormBoxes {
  std::u16string ip;
  std::u16string IPText() const override { return ip; }
  void SetIPText(const std::u16string& text) override {
    events.push_back(u"txtIP=" + text);
  }
  void SetMACText(const std::u16string& text) override {
    events.push_back(u"txtMAC=" + text);
  }
  void SetVendorText(const std::u16string& text) override {
    events.push_back(u"txtVendor=" + text);
  }
};

// .7 answers with a listed prefix, anything else not at all.
std::uint32_t FakeParse(const std::u16string& text) {
  events.push_back(u"query " + text);
  return text == u"198.51.100.7" ? 7 : 0xFFFFFFFFu;
}

bool FakeResolve(std::uint32_t address, norvane::HardwareBuffer& buffer,
                 std::uint32_t& length) {
  buffer = {0x00, 0x0C, 0x29, 0x3A, 0x4B, 0x5C};
  length = 6;
  return address == 7;
}

const norvane::AddressPlatform kFake{FakeParse,
                                     norvane::ResolveEach<FakeResolve>};

const std::u16string kPrompt = u"Sila masukkan IP!";
const std::u16string kError = u"Error: Gagal memanggil SendARP()";

TEST(Click, WritesTheBoxesInOrder) {
  // The table lists a line that begins like the error text: the click looks
  // the error text up like any other answer.
  norvane::OUIList = {u"00-0C-29   (hex)        Example Cards Ltd",
                      u"Error: Gagal memanggil  Listed failure"};
  // A row without a mac makes no query: the prompt and empty results.
  const struct {
    const char* name;
    std::u16string typed, mac, vendor;
  } rows[] = {
      {"empty", u"", u"", u""},
      {"prompt", kPrompt, u"", u""},
      {"prompt in other case", u"sila masukkan ip!", kError, u"Listed failure"},
      {"prompt with a trailing blank", kPrompt + u" ", kError,
       u"Listed failure"},
      {"blanks only", u"   ", kError, u"Listed failure"},
      {"listed prefix", u"198.51.100.7", u"00-0C-29-3A-4B-5C",
       u"Example Cards Ltd"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    events.clear();
    FakeBoxes boxes;
    boxes.ip = row.typed;
    norvane::cmdRetreive_Click(boxes, kFake);
    const Log expected =
        row.mac.empty() ? Log{u"txtIP=" + kPrompt, u"txtMAC=", u"txtVendor="}
                        : Log{u"query " + row.typed, u"txtMAC=" + row.mac,
                              u"txtVendor=" + row.vendor};
    EXPECT_EQ(events, expected);
  }
  norvane::OUIList.clear();
}

}  // namespace
