// cmdRetreive_Click without a window: fake text boxes and a fake resolver that
// log, in order, every write to a box and every query.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "form.h"
#include "oui.h"

namespace {

using Log = std::vector<std::u16string>;
Log events;

class FakeBoxes final : public norvane::FormBoxes {
 public:
  explicit FakeBoxes(const std::u16string& ip) : ip_(ip) {}
  std::u16string IPText() const override { return ip_; }
  void SetIPText(const std::u16string& text) override {
    ip_ = text;
    events.push_back(u"txtIP=" + text);
  }
  void SetMACText(const std::u16string& text) override {
    events.push_back(u"txtMAC=" + text);
  }
  void SetVendorText(const std::u16string& text) override {
    events.push_back(u"txtVendor=" + text);
  }

 private:
  std::u16string ip_;
};

// .7 answers with a listed prefix, .8 with an unlisted one, anything else
// not at all.
std::uint32_t FakeParse(const std::u16string& text) {
  events.push_back(u"query " + text);
  if (text == u"198.51.100.7") return 7;
  return text == u"198.51.100.8" ? 8 : 0xFFFFFFFFu;
}

bool FakeResolve(std::uint32_t address, norvane::HardwareBuffer& buffer,
                 std::uint32_t& length) {
  if (address == 7) buffer = {0x00, 0x0C, 0x29, 0x3A, 0x4B, 0x5C};
  if (address == 8) buffer = {0x02, 0x00, 0x5E, 0x10, 0x00, 0x01};
  length = 6;
  return address == 7 || address == 8;
}

const norvane::AddressPlatform kFake{FakeParse,
                                     norvane::ResolveEach<FakeResolve>};

const std::u16string kPrompt = u"Sila masukkan IP!";
const std::u16string kError = u"Error: Gagal memanggil SendARP()";
const Log kPrompted = {u"txtIP=" + kPrompt, u"txtMAC=", u"txtVendor="};

Log Asked(const std::u16string& typed, const std::u16string& mac,
          const std::u16string& vendor) {
  return {u"query " + typed, u"txtMAC=" + mac, u"txtVendor=" + vendor};
}

TEST(Click, WritesTheBoxesInOrder) {
  // A line that begins like the error text: the click looks the error text
  // up like any other answer.
  const std::u16string error_line = u"Error: Gagal memanggil  Listed failure";
  const struct {
    const char* name;
    std::u16string typed;
    Log expected;
    std::u16string extra_line;
  } rows[] = {
      {"empty", u"", kPrompted, u""},
      {"prompt", kPrompt, kPrompted, u""},
      {"prompt in other case", u"sila masukkan ip!",
       Asked(u"sila masukkan ip!", kError, u""), u""},
      {"prompt with a trailing blank", kPrompt + u" ",
       Asked(kPrompt + u" ", kError, u""), u""},
      {"blanks only", u"   ", Asked(u"   ", kError, u""), u""},
      {"failed query", u"198.51.100.9", Asked(u"198.51.100.9", kError, u""),
       u""},
      {"failed query, error text listed", u"198.51.100.9",
       Asked(u"198.51.100.9", kError, u"Listed failure"), error_line},
      {"listed prefix", u"198.51.100.7",
       Asked(u"198.51.100.7", u"00-0C-29-3A-4B-5C", u"Example Cards Ltd"), u""},
      {"unknown prefix", u"198.51.100.8",
       Asked(u"198.51.100.8", u"02-00-5E-10-00-01", u""), u""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    norvane::OUIList = {u"00-0C-29   (hex)        Example Cards Ltd",
                        row.extra_line};
    events.clear();
    FakeBoxes boxes(row.typed);
    norvane::cmdRetreive_Click(boxes, kFake);
    EXPECT_EQ(events, row.expected);
  }
  norvane::OUIList.clear();
}

}  // namespace
