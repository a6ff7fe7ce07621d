// The query and norvane-cli against the real kernel, in a network namespace
// of this process's own (drawn in SetUpNetwork). Documentation addresses only.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "netns.h"

namespace norvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Shell;

pid_t host_pid = 0;  // host A, in a namespace of its own

// nv0 198.51.100.1/24 02:00:00:00:00:01, with a link record over 32 KiB, to
// host A (a child in a namespace of its own) 198.51.100.2 to .4 with
// 00:0c:29:0a:0b:ff, where slow_host.py answers for .5 (00:0c:29:00:00:05)
// after 0.8 s; .8 a stale entry only. All of it goes when this process ends.
std::string SetUpNetwork() {
  // Once its network is there, it answers for .5.
  const pid_t host = test::StartPeer(
      {NORVANE_SLOW_HOST, "nv0p", "00:0c:29:00:00:05", "198.51.100.5", "800"});
  if (host < 0) return "cannot start the test host";
  host_pid = host;
  const std::string script = "set -e; a=" + std::to_string(host) + R"(
A="nsenter -t $a -n"; ip link set lo up
for f in all default; do echo 1 >/proc/sys/net/ipv6/conf/$f/disable_ipv6; done
ip link add nv0 address 02:00:00:00:00:01 type veth peer name nv0p \
  address 00:0c:29:0a:0b:ff netns $a
for i in 2 3 4; do $A ip addr add 198.51.100.$i/24 dev nv0p; done
$A ip link set nv0p up
ip addr add 198.51.100.1/24 dev nv0; ip link set nv0 up
ip neigh add 198.51.100.8 lladdr 02:aa:bb:cc:dd:02 nud stale dev nv0
# A link record over 32 KiB: 300 alternative names of 120 characters.
seq 300 | awk '{ printf "link property add dev nv0 altname n%0119d\n", $1 }' |
  ip -batch -
for i in $(seq 200); do  # until both links carry traffic
  [ $(ip -o link show up | grep -c LOWER_UP) = 2 ] && exit; sleep 0.01
done; exit 1)";
  if (std::system(script.c_str())) return "setting up the namespaces failed";
  kill(host, SIGCONT);
  // A scan ends soon after the kernel's second probe: the slow host must be
  // answering before a test starts.
  if (std::system(("for i in $(seq 500); do [ $(nsenter -t " +
                   std::to_string(host) +
                   " -n cat /proc/net/packet | wc -l) -gt 1 ] && exit; "
                   "sleep 0.01; done; exit 1")
                      .c_str())) {
    return "the slow host does not answer";
  }
  return "";
}

class Lab : public testing::Test {
 protected:
  void SetUp() override {
    static const std::string unavailable = test::EnterNamespaces(CLONE_NEWNET);
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    static const std::string error = SetUpNetwork();
    ASSERT_EQ(error, "");
  }
};

// norvane-cli, copied beside a table of its own; gone when this process ends.
const fs::path& CliFolder() {
  static const struct Folder : test::TempFolder {
    Folder() : TempFolder("norvane-cli-test") {
      fs::copy_file(NORVANE_CLI, path / "norvane-cli");
      std::ofstream(path / "oui.ieee")
          << "00-0C-29   (hex)        Test Vendor\r\n";
    }
  } folder;
  return folder.path;
}

// The output of that copy, started from another folder behind runner, and
// its exit status.
std::string RunCli(const std::string& arguments,
                   const std::string& runner = "") {
  return test::Run(CliFolder() / "norvane-cli", arguments, runner);
}

TEST(Cli, UsageVendorsAndMissingTable) {
  EXPECT_EQ(RunCli("--frobnicate 0.0.0.0 2>/dev/null"), "status 2\n");

  // Hardware addresses looked up in the table alone, in any notation.
  EXPECT_EQ(RunCli("--vendor 00:0c:29:aa:bb:cc 000C.2900.0001"),
            "00-0C-29-AA-BB-CC\tTest Vendor\n00-0C-29-00-00-01\tTest "
            "Vendor\nstatus 0\n");
  // Each fails the run: a text that is no hardware address, no known maker.
  EXPECT_EQ(RunCli("--vendor 00-0C-29 2>&1"),
            "norvane-cli: not a hardware address: '00-0C-29'\nstatus 1\n");
  EXPECT_EQ(RunCli("--vendor 001122334455"), "00-11-22-33-44-55\t\nstatus 1\n");

  fs::rename(CliFolder() / "oui.ieee", CliFolder() / "oui.away");
  EXPECT_EQ(RunCli("0.0.0.0 2>&1"),
            "norvane-cli: Critical Error! oui.ieee not found!\nstatus 2\n");
  fs::rename(CliFolder() / "oui.away", CliFolder() / "oui.ieee");
}

// IP packets host A has received so far (ARP is not counted).
long HostAPackets() {
  return std::stol(Shell("nsenter -t " + std::to_string(host_pid) +
                         " -n awk '/^Ip: [0-9]/ { print $4 }' /proc/net/snmp"));
}

// The whole /24 at once, as nobody: the machine's own, the live, slow and
// cached addresses answered, one datagram to each live host. Asked one after
// another, the silent addresses would take the kernel's resolution time each
// (12 minutes); at once, they take it once (3 s): 30 s tells them apart on
// the busiest machine.
TEST_F(Lab, CliScansABlockAtOnce) {
  const long packets = HostAPackets();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunCli("--found 198.51.100.0/24",
                   "ip neigh flush dev nv0 nud reachable; " + test::kAsNobody),
            "198.51.100.1\t02-00-00-00-00-01\t(locally administered)\n"
            "198.51.100.2\t00-0C-29-0A-0B-FF\tTest Vendor\n"
            "198.51.100.3\t00-0C-29-0A-0B-FF\tTest Vendor\n"
            "198.51.100.4\t00-0C-29-0A-0B-FF\tTest Vendor\n"
            "198.51.100.5\t00-0C-29-00-00-05\tTest Vendor\n"
            "198.51.100.8\t02-AA-BB-CC-DD-02\t(locally administered)\n"
            "status 0\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
  EXPECT_EQ(HostAPackets() - packets, 3);
}

// With CAP_NET_ADMIN the kernel is asked directly, so only ARP reaches the
// host. 62 addresses at 50 a second: the run lasts 61 intervals at least,
// and each address is asked for once, the kernel sending one to three
// requests for it (frames counted over the whole run).
TEST_F(Lab, CliAsksTheKernelAtItsPace) {
  // The kernel's own later probes for an earlier scan are not counted.
  Shell(
      "for i in $(seq 200); do ip neigh show nud incomplete | grep -q . || "
      "break; sleep 0.05; done; ip neigh del 198.51.100.3 dev nv0 2>/dev/null");
  const long packets = HostAPackets();
  EXPECT_EQ(RunCli("198.51.100.3"),
            "198.51.100.3\t00-0C-29-0A-0B-FF\tTest Vendor\nstatus 0\n");
  EXPECT_EQ(HostAPackets(), packets);

  const std::string frames =
      "$(awk -F'[: ]+' '/:/ { n += $12 } END { print n }' /proc/net/dev)";
  const auto start = std::chrono::steady_clock::now();
  const long sent = std::stol(
      Shell("a=" + frames + "; " + (CliFolder() / "norvane-cli").string() +
            " --rate 50 --timeout 0.2 198.51.100.192/26 >/dev/null; echo $((" +
            frames + " - a))"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 61 * 20ms);
  EXPECT_GE(sent, 62);
  EXPECT_LE(sent, 3 * 62);
}

// A closed standard stream is never taken by a socket of the program's: a
// closed output is a write error, messages for a closed one go nowhere, and
// a closed input cannot be read.
TEST_F(Lab, CliWithClosedStandardStreams) {
  Shell(
      "ip neigh replace 198.51.100.9 lladdr 02:aa:bb:cc:dd:09 nud permanent "
      "dev nv0");
  const std::string unwritable =
      "norvane-cli: cannot write the output: Bad file descriptor\nstatus 2\n";
  EXPECT_EQ(RunCli("198.51.100.9 2>&1 >&-"), unwritable);
  EXPECT_EQ(RunCli("--version 2>&1 >&-"), unwritable);
  EXPECT_EQ(RunCli("-v 198.51.100.9 0.0.0.0 2>&-"),
            "198.51.100.9\t02-AA-BB-CC-DD-09\t(locally administered)\n"
            "0.0.0.0\tError: Gagal memanggil SendARP()\t\nstatus 1\n");
  EXPECT_EQ(RunCli("-f - 2>&1 <&-"),
            "norvane-cli: cannot read '-'\nTry 'norvane-cli --help' for more "
            "information.\nstatus 2\n");
}

// nobody's output of norvane-cli with arguments, and its messages in err.
std::string RunAsNobody(const std::string& arguments, std::string* err) {
  const std::string messages = (CliFolder() / "messages").string();
  const std::string out = RunCli(arguments + " 2>" + messages, test::kAsNobody);
  if (err) *err = Shell("cat " + messages);
  return out;
}

// A veth link named name, 02:00:00:00:00:0N here, mac on host A's end, with
// the addresses given for each end; "up" once it carries traffic.
std::string AddLink(const std::string& name, const std::string& mac,
                    const std::string& ours, const std::string& hosts) {
  return Shell("a=" + std::to_string(host_pid) + " n=" + name + " m=" + mac +
               " ours='" + ours + "' hosts='" + hosts + "'" + R"(
A="nsenter -t $a -n"; set -e
ip link add $n address 02:00:00:00:00:0${n#nv} type veth peer name ${n}p \
  address $m netns $a
for h in $hosts; do $A ip addr add $h dev ${n}p; done
$A ip link set ${n}p up
for h in $ours; do ip addr add $h dev $n; done; ip link set $n up
for i in $(seq 200); do
  ip -o link show $n | grep -q LOWER_UP && echo up && exit; sleep 0.01
done)");
}

// Every network of every interface that is up and does ARP, interface by
// interface: nv0's /24 and nv2's /26 (host A at .10 and .60 too), never
// loopback's or the NOARP link nv3's. -I keeps to one of them.
TEST_F(Lab, CliScansTheLocalNetworks) {
  ASSERT_EQ(AddLink("nv2", "00:0c:29:00:00:0b", "203.0.113.1/26",
                    "203.0.113.10/26 203.0.113.60/26"),
            "up\n");
  Shell(
      "ip link add nv3 type veth peer name nv3p; ip link set nv3 arp off up;"
      "ip addr add 192.0.2.1/24 dev nv3; ip neigh flush dev nv0 nud reachable");
  const std::string first =
      "198.51.100.1\t02-00-00-00-00-01\t(locally administered)\n"
      "198.51.100.2\t00-0C-29-0A-0B-FF\tTest Vendor\n"
      "198.51.100.3\t00-0C-29-0A-0B-FF\tTest Vendor\n"
      "198.51.100.4\t00-0C-29-0A-0B-FF\tTest Vendor\n"
      "198.51.100.5\t00-0C-29-00-00-05\tTest Vendor\n"
      "198.51.100.8\t02-AA-BB-CC-DD-02\t(locally administered)\n";
  const std::string second =
      "203.0.113.1\t02-00-00-00-00-02\t(locally administered)\n"
      "203.0.113.10\t00-0C-29-00-00-0B\tTest Vendor\n"
      "203.0.113.60\t00-0C-29-00-00-0B\tTest Vendor\n";
  EXPECT_EQ(RunAsNobody("--found -l", nullptr), first + second + "status 0\n");
  EXPECT_EQ(RunAsNobody("--found -l -I nv2", nullptr), second + "status 0\n");
  // A given address through another interface is not asked for.
  std::string err;
  EXPECT_EQ(RunAsNobody("-v -I nv2 198.51.100.2 203.0.113.10", &err),
            "198.51.100.2\tError: Gagal memanggil SendARP()\t\n"
            "203.0.113.10\t00-0C-29-00-00-0B\tTest Vendor\nstatus 1\n");
  EXPECT_EQ(err, "norvane-cli: 198.51.100.2: not on the interface asked for\n");
  EXPECT_EQ(RunAsNobody("-l -I nv3", &err), "status 2\n");
  EXPECT_NE(err.find("no IPv4 network to scan on interface 'nv3'"),
            std::string::npos);
}

// A block far larger than the entries a run may hold, with a deadline far
// shorter than the kernel's resolution time: never more INCOMPLETE entries
// than the bound, and no live host missed, the last ones included.
TEST_F(Lab, CliMissesNoHostWithAShortTimeout) {
  ASSERT_EQ(AddLink("nv4", "00:0c:29:00:00:0c", "198.18.0.1/23",
                    "198.18.0.2/23 198.18.1.7/23 198.18.1.250/23 "
                    "198.18.1.254/23"),
            "up\n");
  // The table's thresholds, where this namespace can read them.
  const auto setting = [](const std::string& name, const char* otherwise) {
    return std::stol(Shell("cat /proc/sys/net/ipv4/neigh/default/" + name +
                           " 2>/dev/null || echo " + otherwise));
  };
  const long bound = std::clamp(
      std::min(setting("gc_thresh2", "512"), setting("gc_thresh3", "1024")) / 2,
      1L, 256L);
  const std::string sampled = (CliFolder() / "held").string();
  const std::string host = "\t00-0C-29-00-00-0C\tTest Vendor\n";
  // As nobody (an empty datagram makes the kernel resolve), and as root
  // without CAP_NET_RAW (the kernel is asked directly).
  for (const std::string& runner :
       {test::kAsNobody,
        std::string("setpriv --bounding-set=-net_raw --inh-caps=-net_raw")}) {
    SCOPED_TRACE(runner);
    Shell(
        "for i in $(seq 200); do ip neigh show nud incomplete | grep -q . || "
        "break; sleep 0.05; done; ip neigh flush dev nv4; "
        "(while :; do ip neigh show dev nv4 nud incomplete | wc -l; "
        "sleep 0.005; done) >" +
        sampled + " 2>/dev/null & echo $! >" + sampled + ".pid");
    const std::string messages = (CliFolder() / "messages").string();
    EXPECT_EQ(
        RunCli("--found -v --timeout 0.05 198.18.0.0/23 2>" + messages, runner),
        "198.18.0.1\t02-00-00-00-00-04\t(locally administered)\n198.18.0.2" +
            host + "198.18.1.7" + host + "198.18.1.250" + host +
            "198.18.1.254" + host + "status 0\n");
    Shell("kill $(cat " + sampled + ".pid)");
    const long most = std::stol(Shell("sort -n " + sampled + " | tail -1"));
    EXPECT_GT(most, 0);
    EXPECT_LE(most, bound);
    // -v says once that the table, not the rate, held the run back.
    EXPECT_EQ(Shell("grep -c 'sets the pace' " + messages), "1\n");
  }
}

}  // namespace
}  // namespace norvane
