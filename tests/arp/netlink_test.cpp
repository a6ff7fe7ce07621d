// Reading neighbour datagrams that the kernel would rarely send: foreign
// entries, addresses that do not fit, lengths that do not fit.
#include <gtest/gtest.h>
#include <libmnl/libmnl.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstring>
#include <vector>

#include "netlink.h"

namespace norvane::netlink {
namespace {

constexpr std::uint32_t kHost = 0x026433C6;  // 198.51.100.2

// Messages laid one after another, as in one datagram.
class Datagram {
 public:
  template <typename Header>
  Header* Add(std::uint16_t type) {
    last_ = mnl_nlmsg_put_header(words_.data() + used_ / 4);
    last_->nlmsg_type = type;
    return static_cast<Header*>(
        mnl_nlmsg_put_extra_header(last_, sizeof(Header)));
  }
  void Put(std::uint16_t type, const std::vector<std::uint8_t>& data) {
    mnl_attr_put(last_, type, data.size(), data.data());
  }
  void PutU32(std::uint16_t type, std::uint32_t value) {
    mnl_attr_put_u32(last_, type, value);
  }
  std::span<const std::uint8_t> Bytes() {
    return {reinterpret_cast<const std::uint8_t*>(words_.data()),
            used_ + (last_ ? last_->nlmsg_len : 0)};
  }
  void Next() {
    used_ += MNL_ALIGN(last_->nlmsg_len);
    last_ = nullptr;
  }

 private:
  std::vector<std::uint32_t> words_ = std::vector<std::uint32_t>(512);
  std::size_t used_ = 0;
  nlmsghdr* last_ = nullptr;
};

TEST(NetlinkEvents, MessageLongerThanTheDatagramEndsTheRun) {
  Datagram datagram;
  datagram.Add<ndmsg>(RTM_NEWNEIGH)->ndm_family = AF_INET;
  datagram.Next();
  // A length of 2 GiB or more, which libmnl alone would follow.
  datagram.Add<ndmsg>(RTM_NEWNEIGH)->ndm_family = AF_INET;
  auto bytes = datagram.Bytes();
  std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
  const std::size_t second = MNL_ALIGN(sizeof(nlmsghdr) + sizeof(ndmsg));
  const std::uint32_t huge = 0xE1E1E1E1;
  std::memcpy(copy.data() + second, &huge, sizeof(huge));
  EXPECT_EQ(ParseNeighbourEvents(copy).size(), 1u);
}

TEST(NetlinkEvents, OnlyTheQueriedEntryDecides) {
  const std::vector<std::uint8_t> mac = {2, 0, 0, 0, 0, 1};
  Datagram datagram;
  for (const int ifindex : {5, 4}) {
    auto* header = datagram.Add<ndmsg>(RTM_NEWNEIGH);
    header->ndm_family = AF_INET;
    header->ndm_ifindex = ifindex;
    header->ndm_state = NUD_REACHABLE;
    datagram.PutU32(NDA_DST, kHost);
    datagram.Put(NDA_LLADDR, mac);
    datagram.Next();
  }
  const auto events = ParseNeighbourEvents(datagram.Bytes());
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(Judge(events[0], kHost, 4), Verdict::kPending);
  EXPECT_EQ(Judge(events[1], kHost, 4), Verdict::kResolved);
  EXPECT_EQ(events[1].address, mac);

  Neighbour entry = events[1];
  EXPECT_EQ(Judge(entry, kHost + 1, 4), Verdict::kPending);
  entry.address.resize(8);  // longer than a hardware buffer holds
  EXPECT_EQ(Judge(entry, kHost, 4), Verdict::kFailed);
  entry.state = NUD_FAILED;
  EXPECT_EQ(Judge(entry, kHost, 4), Verdict::kFailed);
  entry.state = NUD_INCOMPLETE;
  EXPECT_EQ(Judge(entry, kHost, 4), Verdict::kPending);
  entry.state = NUD_REACHABLE;
  entry.deleted = true;
  EXPECT_EQ(Judge(entry, kHost, 4), Verdict::kPending);
}

}  // namespace
}  // namespace norvane::netlink
