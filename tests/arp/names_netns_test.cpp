// norvane-cli -n against hosts that answer for their names in every way, in
// a network and mount namespace of this process's own: reverse DNS from an
// /etc/hosts bound over the real one in this namespace only, multicast DNS
// and NetBIOS from the test's own responders (bench/arp/name_host.py), a
// host that never answers, a DNS server that never answers, a late answer
// and hostile ones. Documentation addresses only.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "netns.h"
#include "read_file.h"

namespace norvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::Shell;

// Files of this test: bound over /etc, the responders' log, norvane-cli
// beside a table of its own. Gone when this process ends.
const fs::path& Files() {
  static const test::TempFolder folder("norvane-names-test");
  return folder.path;
}
const fs::path Log() { return Files() / "questions.log"; }

// This process in namespaces of its own, /etc/hosts, resolv.conf and
// nsswitch.conf its own files.
std::string EnterPrivateLab() {
  const std::string unavailable =
      test::EnterNamespaces(CLONE_NEWNET | CLONE_NEWNS);
  if (!unavailable.empty()) return unavailable;
  const std::pair<const char*, const char*> files[] = {
      {"/etc/hosts", "127.0.0.1 localhost\n198.51.100.4 files-host\n"},
      // A DNS server on the link that never answers: getnameinfo blocks
      // for seconds, and the names come at their deadline all the same.
      {"/etc/resolv.conf", "nameserver 198.51.100.11\n"},
      {"/etc/nsswitch.conf", "hosts: files dns\n"},
  };
  for (const auto& [target, text] : files) {
    const fs::path own = Files() / fs::path(target).filename();
    std::ofstream(own) << text;
    fs::permissions(own, fs::perms::others_read, fs::perm_options::add);
    if (mount(own.c_str(), target, nullptr, MS_BIND, nullptr) != 0)
      return std::string("cannot bind ") + target + ": " + std::strerror(errno);
  }
  return {};
}

// nv0 198.51.100.1/24 02:00:00:00:00:01 to a peer namespace where each of
// .2 to .10 and .12 has a macvlan of its own hardware address, and
// name_host.py answers; .11 is nobody's, .13 a permanent entry of the
// broadcast address.
std::string SetUpNetwork() {
  const pid_t peer =
      test::StartPeer({NORVANE_NAME_HOST, "198.51.100.2", Log().string()});
  if (peer < 0) return "cannot start the peer";
  const std::string script = "set -e; p=" + std::to_string(peer) + R"(
P="nsenter -t $p -n"; ip link set lo up
for f in all default; do echo 1 >/proc/sys/net/ipv6/conf/$f/disable_ipv6; done
$P sh -c 'for f in all default; do
  echo 1 >/proc/sys/net/ipv6/conf/$f/disable_ipv6; done
  echo 1 >/proc/sys/net/ipv4/conf/all/arp_ignore'
ip link add nv0 address 02:00:00:00:00:01 type veth peer name nv0p netns $p
$P ip link set nv0p up
for host in 2,00:0c:29:00:00:02 3,da:a1:19:00:00:03 4,52:54:00:00:00:04 \
    5,00:0c:29:00:00:05 6,00:0c:29:00:00:06 7,02:60:8c:00:00:07 \
    8,00:0c:29:00:00:08 9,00:0c:29:00:00:09 10,00:0c:29:00:00:0a \
    12,00:0c:29:00:00:0c; do
  i=${host%,*}
  $P ip link add link nv0p name m$i address ${host#*,} type macvlan mode bridge
  $P ip addr add 198.51.100.$i/24 dev m$i
  $P ip link set m$i up
done
ip addr add 198.51.100.1/24 dev nv0; ip link set nv0 up
ip neigh add 198.51.100.13 lladdr ff:ff:ff:ff:ff:ff nud permanent dev nv0
for i in $(seq 200); do
  ip -o link show nv0 | grep -q LOWER_UP && exit; sleep 0.01
done; exit 1)";
  if (std::system(script.c_str())) return "setting up the namespaces failed";
  kill(peer, SIGCONT);
  for (int i = 0;
       i < 1000 && ReadFile(Log()).find("ready") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (ReadFile(Log()).find("ready") == std::string::npos)
    return "the responders did not start";
  return {};
}

class NamesLab : public testing::Test {
 protected:
  void SetUp() override {
    static const std::string unavailable = EnterPrivateLab();
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    static const std::string error = SetUpNetwork();
    ASSERT_EQ(error, "");
    static const bool copied = [] {
      fs::copy_file(NORVANE_CLI, Files() / "norvane-cli");
      std::ofstream(Files() / "oui.ieee")
          << "00-0C-29   (hex)        Test Vendor\r\n"
             "02-60-8C   (hex)        3COM\r\n";
      return true;
    }();
    (void)copied;
    std::ofstream(Log(), std::ios::trunc);
  }

  // norvane-cli's output as nobody, from another folder, and its status.
  static std::string Cli(const std::string& arguments) {
    return test::Run(Files() / "norvane-cli", arguments, test::kAsNobody);
  }

  // The questions the responders were asked, sorted.
  static std::vector<std::string> Questions() {
    std::vector<std::string> lines;
    std::istringstream log(ReadFile(Log()));
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
  }
};

const std::string kLongest = [] {
  const std::string label(63, 'x');
  return label + '.' + label + '.' + label + '.' + std::string(61, 'x');
}();

// Each host named by the way it answers, the first way in the order dns,
// mdns, netbios winning; the silent, late and hostile ones without a name,
// names escaped. One question each way to each host; none without -n.
TEST_F(NamesLab, EachHostByTheWayItAnswers) {
  EXPECT_EQ(Cli("-v -n --timeout 1 198.51.100.1-13 2>&1"),
            "198.51.100.1\t02-00-00-00-00-01\t(locally administered)\t\n"
            "198.51.100.2\t00-0C-29-00-00-02\tTest Vendor\t"
            "printer-2nd-floor.local\n"
            "198.51.100.3\tDA-A1-19-00-00-03\t(locally administered)\t"
            "WORKSTATION3\n"
            "198.51.100.4\t52-54-00-00-00-04\t(locally administered)\t"
            "files-host\n"
            "198.51.100.5\t00-0C-29-00-00-05\tTest Vendor\t\n"
            "198.51.100.6\t00-0C-29-00-00-06\tTest Vendor\t"
            "bad\\x1B[2J\\x07\\n.local\n"
            "198.51.100.7\t02-60-8C-00-00-07\t3COM\t\\x1B]0;pwn\\x07\n"
            "198.51.100.8\t00-0C-29-00-00-08\tTest Vendor\t\n"
            "198.51.100.9\t00-0C-29-00-00-09\tTest Vendor\t" +
                kLongest +
                "\n"
                "198.51.100.10\t00-0C-29-00-00-0A\tTest Vendor\t\n"
                "norvane-cli: 198.51.100.11: no reply within the deadline\n"
                "198.51.100.11\tError: Gagal memanggil SendARP()\t\t\n"
                "198.51.100.12\t00-0C-29-00-00-0C\tTest Vendor\t\n"
                "norvane-cli: 198.51.100.13: answered with a group address, "
                "FF-FF-FF-FF-FF-FF\n"
                "198.51.100.13\tFF-FF-FF-FF-FF-FF\t(group address)\t\n"
                "status 1\n");
  // Multicast DNS reaches the responder for every resolved address, NetBIOS
  // only at its own addresses.
  std::vector<std::string> expected;
  for (const int i : {1, 10, 12, 13, 2, 3, 4, 5, 6, 7, 8, 9})
    expected.push_back("mdns 198.51.100." + std::to_string(i));
  for (const int i : {10, 2, 3, 7, 8})
    expected.push_back("netbios 198.51.100." + std::to_string(i));
  EXPECT_EQ(Questions(), expected);

  // Where each name came from.
  const std::string json = Cli("--json --names 198.51.100.2-5");
  for (const char* tail :
       {"\"name\":\"printer-2nd-floor.local\",\"name_source\":\"mdns\"}\n",
        "\"name\":\"WORKSTATION3\",\"name_source\":\"netbios\"}\n",
        "\"name\":\"files-host\",\"name_source\":\"dns\"}\n",
        "\"name\":null,\"name_source\":null}\n"}) {
    EXPECT_NE(json.find(tail), std::string::npos) << tail << " in " << json;
  }

  std::ofstream(Log(), std::ios::trunc);
  EXPECT_EQ(Cli("--csv 198.51.100.2-4"),
            "address,mac,vendor,kind,mark\r\n"
            "198.51.100.2,00-0C-29-00-00-02,Test Vendor,universal,\r\n"
            "198.51.100.3,DA-A1-19-00-00-03,,local,\r\n"
            "198.51.100.4,52-54-00-00-00-04,,local,\r\nstatus 0\n");
  EXPECT_EQ(Questions(), std::vector<std::string>());
}

}  // namespace
}  // namespace norvane
