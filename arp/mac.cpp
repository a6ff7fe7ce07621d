// The platform-independent half of the hardware address query: the refusal
// rules and the formatting of the answer bytes.
#include "mac.h"

#include <algorithm>
#include <cstddef>

namespace norvane {
namespace {

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

std::u16string HardwareText(const std::uint8_t* bytes, std::size_t count) {
  std::u16string text;
  text.reserve(count * 3);
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) text += u'-';
    text += kHexDigits[bytes[i] >> 4];
    text += kHexDigits[bytes[i] & 0x0F];
  }
  return text;
}

// The answer's text, or a failure when the answer holds nothing usable.
QueryResult Format(const Resolution& answer) {
  QueryResult out;
  out.source = answer.source;
  out.gateway = answer.gateway;
  out.router = answer.router;
  if (!answer.resolved) {
    out.reason =
        answer.reason == Reason::kNone ? Reason::kSystem : answer.reason;
    return out;
  }
  // An answer that begins with four zero bytes counts as no answer.
  if (std::all_of(answer.buffer.begin(), answer.buffer.begin() + 4,
                  [](std::uint8_t byte) { return byte == 0; }) ||
      answer.length == 0) {
    out.reason = Reason::kBadAnswer;
    return out;
  }
  // The platform may report more bytes than the buffer holds; only what is
  // really in the buffer is read.
  const std::size_t count =
      std::min<std::size_t>(answer.length, answer.buffer.size());
  out.mac = HardwareText(answer.buffer.data(), count);
  for (const HardwareBuffer& other : answer.conflicts) {
    out.conflicts.push_back(HardwareText(other.data(), other.size()));
  }
  if (answer.foreign_frame) {
    out.frame_source =
        HardwareText(answer.frame_source.data(), answer.frame_source.size());
  }
  return out;
}

}  // namespace

const char* ReasonText(Reason reason) {
  switch (reason) {
    case Reason::kNone:
      return "";
    case Reason::kMalformed:
      return "malformed address";
    case Reason::kNotUnicast:
      return "not a unicast address";
    case Reason::kOffLink:
      return "not on a directly connected network";
    case Reason::kNoArp:
      return "the interface does no ARP";
    case Reason::kNoReply:
      return "no reply within the deadline";
    case Reason::kNoRoute:
      return "no route";
    case Reason::kBadAnswer:
      return "no usable hardware address in the answer";
    case Reason::kTableFull:
      return "no room in the neighbour table within the deadline";
    case Reason::kOtherInterface:
      return "not on the interface asked for";
    case Reason::kNotSupported:
      return "IPv6 addresses are not supported on this system";
    case Reason::kSystem:
      break;
  }
  return "the system call failed";
}

const char* SourceText(Source source) {
  switch (source) {
    case Source::kUnknown:
      break;
    case Source::kReachable:
      return "reachable";
    case Source::kStale:
      return "stale";
    case Source::kDelay:
      return "delay";
    case Source::kProbe:
      return "probe";
    case Source::kPermanent:
      return "permanent";
    case Source::kNoArp:
      return "noarp";
    case Source::kOwn:
      return "own address";
    case Source::kReply:
      return "reply";
  }
  return "";
}

void QueryMany(const std::vector<std::u16string>& texts,
               const ResolveOptions& options, const QueryDone& done,
               const AddressPlatform& platform) {
  std::vector<IpAddress> addresses;
  std::vector<std::size_t> positions;  // of each address among the texts
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const std::u16string& text = texts[i];
    // A C string parser would stop at an embedded NUL and query whatever came
    // before it; such a text is malformed as a whole instead.
    const bool no_nul = text.find(u'\0') == std::u16string::npos;
    if (options.inet6 && platform.parse6 && no_nul &&
        text.find(u':') != std::u16string::npos) {
      if (const auto inet6 = platform.parse6(text, options.interface_name)) {
        addresses.push_back(*inet6);
        positions.push_back(i);
      } else {
        QueryResult malformed;
        malformed.reason = Reason::kMalformed;
        done(i, malformed);
      }
      continue;
    }
    const std::uint32_t address =
        no_nul ? platform.parse(text) : kMalformedAddress;
    if (address == 0) {
      QueryResult refused;
      refused.reason = Reason::kNotUnicast;
      done(i, refused);
      continue;
    }
    addresses.push_back(address);
    positions.push_back(i);
  }
  if (addresses.empty()) return;
  platform.resolve(
      addresses, options, [&](std::size_t index, const Resolution& answer) {
        QueryResult result = Format(answer);
        // The all-ones value stands for malformed text too; only
        // the plain broadcast text is an address.
        if (!answer.resolved && addresses[index] == kMalformedAddress &&
            texts[positions[index]] != u"255.255.255.255") {
          result = QueryResult{};
          result.reason = Reason::kMalformed;
        }
        done(positions[index], result);
      });
}

bool QueryMAC(const std::u16string& text, std::u16string& result,
              const AddressPlatform& platform) {
  QueryResult answer;
  QueryMany(
      {text}, ResolveOptions{},
      [&](std::size_t, const QueryResult& one) { answer = one; }, platform);
  if (answer.mac.empty()) return false;
  result = answer.mac;
  return true;
}

std::u16string GetMAC(const std::u16string& text,
                      const AddressPlatform& platform) {
  if (text.empty()) return std::u16string();
  std::u16string result;
  if (QueryMAC(text, result, platform)) return result;
  return kQueryErrorText;
}

}  // namespace norvane
