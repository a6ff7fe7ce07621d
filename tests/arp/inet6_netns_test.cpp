// norvane-cli's IPv6 targets against the real kernel, in a network namespace
// of this process's own with two peers (drawn in SetUpNetwork), duplicate
// address detection off so that addresses are usable at once. Documentation
// addresses only.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "netns.h"

namespace norvane {
namespace {

namespace fs = std::filesystem;
using test::Shell;

pid_t host_pid = 0, router_pid = 0;
constexpr const char* kWithoutRaw =
    "setpriv --bounding-set=-net_raw --inh-caps=-net_raw";

// nv0 2001:db8::1/64 and 198.51.100.1/24, 02:00:00:00:00:01, to host A
// (00:0c:29:0a:0b:ff) at 2001:db8::2, fe80::2 and 198.51.100.2; nv1
// 2001:db8:5::1/64 to the router R (00:0c:29:0a:0b:fe, forwarding) at
// 2001:db8:5::2, through which 2001:db8:9::/64 is reached.
std::string SetUpNetwork() {
  const std::vector<std::string> pause = {"-c",
                                          "import signal; signal.pause()"};
  host_pid = test::StartPeer(pause);
  router_pid = test::StartPeer(pause);
  if (host_pid < 0 || router_pid < 0) return "cannot start the peers";
  const std::string script = "set -e; a=" + std::to_string(host_pid) +
                             " r=" + std::to_string(router_pid) + R"(
A="nsenter -t $a -n"; R="nsenter -t $r -n"; ip link set lo up
for n in "" "$A" "$R"; do
  $n sysctl -qw net.ipv6.conf.default.accept_dad=0 \
    net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_ra=0
done
# The peers have no link-local address but the ones given: none of theirs
# enters the cache unasked.
for n in "$A" "$R"; do $n sysctl -qw net.ipv6.conf.default.addr_gen_mode=1; done
ip link add nv0 address 02:00:00:00:00:01 type veth peer name nv0p \
  address 00:0c:29:0a:0b:ff netns $a
ip link add nv1 address 02:00:00:00:00:02 type veth peer name nv1p \
  address 00:0c:29:0a:0b:fe netns $r
$A ip addr add 2001:db8::2/64 dev nv0p nodad
$A ip addr add fe80::2/64 dev nv0p nodad
$A ip addr add 198.51.100.2/24 dev nv0p; $A ip link set nv0p up
$R ip addr add 2001:db8:5::2/64 dev nv1p nodad; $R ip link set nv1p up
$R sysctl -qw net.ipv6.conf.all.forwarding=1
ip addr add 2001:db8::1/64 dev nv0 nodad; ip addr add 198.51.100.1/24 dev nv0
ip addr add 2001:db8:5::1/64 dev nv1 nodad
ip link set nv0 up; ip link set nv1 up
ip -6 route add 2001:db8:9::/64 via 2001:db8:5::2 dev nv1
# Until the links carry traffic and a link-local address can be reached.
for i in $(seq 500); do
  ip -6 route get fe80::2 oif nv0 2>/dev/null | grep -q "src fe80" && exit
  sleep 0.01
done; exit 1)";
  if (std::system(script.c_str())) return "setting up the namespaces failed";
  kill(host_pid, SIGCONT);
  kill(router_pid, SIGCONT);
  return "";
}

class Inet6Lab : public testing::Test {
 protected:
  void SetUp() override {
    static const std::string unavailable = test::EnterNamespaces(CLONE_NEWNET);
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    static const std::string error = SetUpNetwork();
    ASSERT_EQ(error, "");
    // Every test asks the kernel afresh.
    Shell("ip neigh flush dev nv0; ip neigh flush dev nv1");
  }
};

const fs::path& CliFolder() {
  static const test::ProgramFolder folder("norvane-cli-inet6", NORVANE_CLI);
  return folder.path;
}

// The output and exit status of norvane-cli behind runner, its messages in
// err.
std::string RunCli(const std::string& arguments, const std::string& runner,
                   std::string* err = nullptr) {
  const std::string messages = (CliFolder() / "messages").string();
  const std::string out = test::Run(CliFolder() / "norvane-cli",
                                    arguments + " 2>" + messages, runner);
  if (err) *err = Shell("cat " + messages);
  return out;
}

// UDP datagrams host A has received for a port nobody listens on.
long HostANoPorts() {
  return std::stol(Shell("nsenter -t " + std::to_string(host_pid) +
                         " -n awk '/^Udp6NoPorts/ { print $2 }' "
                         "/proc/net/snmp6"));
}

const std::string kTargets =
    "2001:db8::2 FE80:0:0::2%nv0 2001:db8::7 2001:db8:5::2 2001:db8:9::1 "
    "ff02::1 ::1 ::ffff:198.51.100.2 198.51.100.2";
const std::string kLines =
    "2001:db8::2\t00-0C-29-0A-0B-FF\tTest Vendor\n"
    "fe80::2%nv0\t00-0C-29-0A-0B-FF\tTest Vendor\n"
    "2001:db8::7\tError: Gagal memanggil SendARP()\t\n"
    "2001:db8:5::2\t00-0C-29-0A-0B-FE\tTest Vendor\n"
    "2001:db8:9::1\tError: Gagal memanggil SendARP()\t\n"
    "ff02::1\tError: Gagal memanggil SendARP()\t\n"
    "::1\tError: Gagal memanggil SendARP()\t\n"
    "::ffff:198.51.100.2\tError: Gagal memanggil SendARP()\t\n"
    "198.51.100.2\t00-0C-29-0A-0B-FF\tTest Vendor\n"
    "status 1\n";
const std::string kWhy =
    "norvane-cli: 2001:db8::7: no reply within the deadline\n"
    "norvane-cli: 2001:db8:9::1: not on a directly connected network "
    "(gateway 2001:db8:5::2)\n"
    "norvane-cli: ff02::1: not a unicast address\n"
    "norvane-cli: ::1: not a unicast address\n"
    "norvane-cli: ::ffff:198.51.100.2: not a unicast address\n";

// As nobody, each IPv6 address beside an IPv4 one in one run: the live
// global and link-local ones and the router resolved, the silent one, the
// off-link one with its gateway and what is never a neighbour failed, each
// with its reason. The kernel was made to ask by one datagram to each of
// host A's addresses it had to resolve, and for the IPv4 one.
TEST_F(Inet6Lab, EachTargetResolvesOrSaysWhy) {
  const long before = HostANoPorts();
  std::string err;
  EXPECT_EQ(RunCli("-v " + kTargets, test::kAsNobody, &err), kLines);
  EXPECT_EQ(err, kWhy);
  EXPECT_EQ(HostANoPorts() - before, 2);
}

// With CAP_NET_ADMIN (and without CAP_NET_RAW, or with it: a run holding
// IPv6 addresses is the kernel's) the kernel is asked directly: no datagram
// reaches a host.
TEST_F(Inet6Lab, WithCapNetAdminNoDatagram) {
  const long before = HostANoPorts();
  std::string err;
  EXPECT_EQ(RunCli("-v " + kTargets, kWithoutRaw, &err), kLines);
  EXPECT_EQ(err, kWhy);
  Shell("ip neigh flush dev nv0; ip neigh flush dev nv1");
  EXPECT_EQ(RunCli("-v " + kTargets, "", &err), kLines);
  EXPECT_EQ(err, kWhy);
  EXPECT_EQ(HostANoPorts(), before);
}

// JSON says an IPv6 line's family and a router's answer; an IPv4 line is as
// it always was.
TEST_F(Inet6Lab, JsonFamilyAndRouter) {
  EXPECT_EQ(
      RunCli("--json 2001:db8:5::2 fe80::2%nv0 198.51.100.2", test::kAsNobody),
      "{\"address\":\"2001:db8:5::2\",\"family\":\"inet6\",\"mac\":\"00-0C-"
      "29-0A-0B-FE\",\"vendor\":\"Test Vendor\",\"kind\":\"universal\","
      "\"state\":\"router\"}\n"
      "{\"address\":\"fe80::2%nv0\",\"family\":\"inet6\",\"mac\":\"00-0C-29-"
      "0A-0B-FF\",\"vendor\":\"Test Vendor\",\"kind\":\"universal\","
      "\"state\":\"reachable\"}\n"
      "{\"address\":\"198.51.100.2\",\"mac\":\"00-0C-29-0A-0B-FF\",\"vendor\":"
      "\"Test Vendor\",\"kind\":\"universal\",\"state\":\"reachable\"}\n"
      "status 0\n");
}

// --by-device: host A's IPv4, global and link-local addresses on one line,
// the router on its own, after the silent address's line.
TEST_F(Inet6Lab, ByDeviceJoinsAHostsAddresses) {
  EXPECT_EQ(RunCli("--by-device 198.51.100.2 2001:db8::2 2001:db8::7 "
                   "2001:db8:5::2 fe80::2%nv0",
                   test::kAsNobody),
            "2001:db8::7\tError: Gagal memanggil SendARP()\t\n"
            "00-0C-29-0A-0B-FF\t198.51.100.2,2001:db8::2,fe80::2%nv0\tTest "
            "Vendor\n00-0C-29-0A-0B-FE\t2001:db8:5::2\tTest Vendor\n"
            "status 1\n");
}

// A link-local address takes its link from -I as well; without one it is a
// usage error, as are blocks that cannot be swept. A /126 is four targets:
// the link's anycast address, the machine's own, host A and a silent one.
TEST_F(Inet6Lab, LinksAndBlocks) {
  std::string err;
  EXPECT_EQ(RunCli("-I nv0 fe80::2", test::kAsNobody),
            "fe80::2%nv0\t00-0C-29-0A-0B-FF\tTest Vendor\nstatus 0\n");
  EXPECT_EQ(RunCli("-v -I nv1 fe80::2%nv0", test::kAsNobody, &err),
            "fe80::2%nv0\tError: Gagal memanggil SendARP()\t\nstatus 1\n");
  EXPECT_EQ(err, "norvane-cli: fe80::2%nv0: not on the interface asked for\n");
  EXPECT_EQ(RunCli("fe80::2", test::kAsNobody, &err), "status 2\n");
  EXPECT_NE(err.find("'fe80::2': a link-local address needs its interface"),
            std::string::npos);
  EXPECT_EQ(RunCli("2001:db8::/119", test::kAsNobody, &err), "status 2\n");
  EXPECT_NE(err.find("'2001:db8::/119' is larger than a /120"),
            std::string::npos);
  EXPECT_EQ(RunCli("--found 2001:db8::3/126", test::kAsNobody),
            "2001:db8::1\t02-00-00-00-00-01\t(locally administered)\n"
            "2001:db8::2\t00-0C-29-0A-0B-FF\tTest Vendor\nstatus 0\n");
  EXPECT_EQ(RunCli("-v fe80::2%nosuch 1::2::3", test::kAsNobody, &err),
            "fe80::2%nosuch\tError: Gagal memanggil SendARP()\t\n"
            "1::2::3\tError: Gagal memanggil SendARP()\t\nstatus 1\n");
  EXPECT_EQ(err,
            "norvane-cli: fe80::2%nosuch: malformed address\n"
            "norvane-cli: 1::2::3: malformed address\n");
}

// -l: each interface's IPv4 network, then the IPv6 neighbours the kernel
// knows there, in address order, as nobody; a failed entry is none.
TEST_F(Inet6Lab, LocalScanListsKnownInet6Neighbours) {
  Shell(
      "ip -6 neigh replace fe80::2 lladdr 00:0c:29:0a:0b:ff nud stale dev nv0;"
      "ip -6 neigh replace 2001:db8::2 lladdr 00:0c:29:0a:0b:ff nud stale "
      "dev nv0; ip -6 neigh replace 2001:db8::6 nud failed dev nv0;"
      "ip -6 neigh replace 2001:db8:5::2 lladdr 00:0c:29:0a:0b:fe nud "
      "reachable router dev nv1");
  EXPECT_EQ(RunCli("--found -l", test::kAsNobody),
            "198.51.100.1\t02-00-00-00-00-01\t(locally administered)\n"
            "198.51.100.2\t00-0C-29-0A-0B-FF\tTest Vendor\n"
            "2001:db8::2\t00-0C-29-0A-0B-FF\tTest Vendor\n"
            "fe80::2%nv0\t00-0C-29-0A-0B-FF\tTest Vendor\n"
            "2001:db8:5::2\t00-0C-29-0A-0B-FE\tTest Vendor\n"
            "status 0\n");
  EXPECT_EQ(RunCli("--json -l -I nv1", test::kAsNobody),
            "{\"address\":\"2001:db8:5::2\",\"family\":\"inet6\",\"mac\":"
            "\"00-0C-29-0A-0B-FE\",\"vendor\":\"Test Vendor\",\"kind\":"
            "\"universal\",\"state\":\"router\"}\nstatus 0\n");
}

// -l asks all nodes by an ICMPv6 echo where a ping socket is allowed (or
// with CAP_NET_RAW): host A answers from its link-local address, which the
// cache did not hold. Where neither is, the cache alone, and -v says why.
TEST_F(Inet6Lab, LocalScanEchoesToAllNodes) {
  const std::string host_a_ipv4 =
      "198.51.100.1\t02-00-00-00-00-01\t(locally administered)\n"
      "198.51.100.2\t00-0C-29-0A-0B-FF\tTest Vendor\n";
  const std::string echoed = "fe80::2%nv0\t00-0C-29-0A-0B-FF\tTest Vendor\n";
  std::string err;
  Shell("sysctl -qw net.ipv4.ping_group_range='1 0'");
  EXPECT_EQ(RunCli("-v --found -l -I nv0", test::kAsNobody, &err),
            host_a_ipv4 + "status 0\n");
  EXPECT_NE(err.find("no ICMPv6 echo to ff02::1"), std::string::npos) << err;
  Shell("ip neigh flush dev nv0");
  EXPECT_EQ(RunCli("--found -l -I nv0", kWithoutRaw),
            host_a_ipv4 + "status 0\n");

  Shell("ip neigh flush dev nv0");
  EXPECT_EQ(RunCli("--found -l -I nv0", ""),
            host_a_ipv4 + echoed + "status 0\n");
  Shell(
      "ip neigh flush dev nv0; sysctl -qw net.ipv4.ping_group_range='0 "
      "2147483647'");
  EXPECT_EQ(RunCli("-v --found -l -I nv0", test::kAsNobody, &err),
            host_a_ipv4 + echoed + "status 0\n");
  EXPECT_EQ(err.find("ICMPv6"), std::string::npos) << err;
  Shell("sysctl -qw net.ipv4.ping_group_range='1 0'");
}

}  // namespace
}  // namespace norvane
