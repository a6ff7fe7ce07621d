// The query and norvane-cli against the real kernel, in a network namespace
// of this process's own (drawn in SetUpNetwork). Documentation addresses only.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "netns.h"

namespace norvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Shell;

pid_t host_pid = 0;  // host A, in a namespace of its own
// Root as it runs norvane-cli without CAP_NET_RAW: the kernel's engine.
constexpr const char* kWithoutRaw =
    "setpriv --bounding-set=-net_raw --inh-caps=-net_raw";

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
  static const test::ProgramFolder folder("norvane-cli-test", NORVANE_CLI);
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

// The ARP requests that reach interface in host A, by the address each asks
// for, from the counter's start.
class RequestCounter {
 public:
  explicit RequestCounter(const std::string& interface)
      : file_((CliFolder() / ("requests-" + interface)).string()) {
    fs::remove(file_);
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      const std::string host = std::to_string(host_pid);
      execlp("nsenter", "nsenter", "-t", host.c_str(), "-n", "python3",
             NORVANE_COUNT_ARP, interface.c_str(), file_.c_str(), nullptr);
      _exit(1);
    }
    // The file is there once the counter listens.
    for (int i = 0; i < 3000 && !fs::exists(file_); ++i) {
      std::this_thread::sleep_for(10ms);
    }
  }
  ~RequestCounter() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  std::map<std::string, int> Requests() {
    kill(pid_, SIGUSR1);
    ++asked_;
    for (int i = 0; i < 3000; ++i) {
      std::ifstream in(file_);
      if (int n = 0; in >> n && n >= asked_) break;
      std::this_thread::sleep_for(10ms);
    }
    std::map<std::string, int> requests;
    std::ifstream in(file_ + ".requests");
    std::string address;
    int n = 0;
    while (in >> address >> n) requests[address] = n;
    return requests;
  }
  // The address each request asked for, in the order they came.
  std::vector<std::string> Order() {
    Requests();
    std::vector<std::string> order;
    std::ifstream in(file_ + ".order");
    for (std::string address; in >> address;) order.push_back(address);
    return order;
  }

 private:
  std::string file_;
  pid_t pid_ = -1;
  int asked_ = 0;
};

// The whole /24 at once, as nobody: the machine's own, the live, slow and
// cached addresses answered, one datagram to each live host. Asked one after
// another, each silent address would have all the kernel's requests for it
// before the next one's first; at once, the others' first requests come
// between one address's first and last.
TEST_F(Lab, CliScansABlockAtOnce) {
  const long packets = HostAPackets();
  RequestCounter counter("nv0p");
  EXPECT_EQ(RunCli("--found 198.51.100.0/24",
                   "ip neigh flush dev nv0 nud reachable; " + test::kAsNobody),
            "198.51.100.1\t02-00-00-00-00-01\t(locally administered)\n"
            "198.51.100.2\t00-0C-29-0A-0B-FF\tTest Vendor\n"
            "198.51.100.3\t00-0C-29-0A-0B-FF\tTest Vendor\n"
            "198.51.100.4\t00-0C-29-0A-0B-FF\tTest Vendor\n"
            "198.51.100.5\t00-0C-29-00-00-05\tTest Vendor\n"
            "198.51.100.8\t02-AA-BB-CC-DD-02\t(locally administered)\n"
            "status 0\n");
  EXPECT_EQ(HostAPackets() - packets, 3);
  // Where each address was first and last asked for.
  std::map<std::string, std::pair<std::size_t, std::size_t>> span;
  const std::vector<std::string> order = counter.Order();
  for (std::size_t i = 0; i < order.size(); ++i) {
    span.try_emplace(order[i], i, i).first->second.second = i;
  }
  // The most addresses first asked for while another one was being asked.
  std::size_t overlap = 0;
  for (const auto& [address, a] : span) {
    std::size_t n = 0;
    for (const auto& [other, b] : span) {
      n += a.first < b.first && b.first < a.second;
    }
    overlap = std::max(overlap, n);
  }
  EXPECT_GT(overlap, 100u);
}

// With CAP_NET_ADMIN the kernel is asked directly, so only ARP reaches the
// host. 62 addresses at 50 a second, without CAP_NET_RAW so that the kernel
// resolves them: the run lasts 61 intervals at least, and each address is
// asked for once, the kernel sending one to three requests for it (frames
// counted over the whole run).
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
      Shell("a=" + frames + "; " + kWithoutRaw + " " +
            (CliFolder() / "norvane-cli").string() +
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

// root's output of norvane-cli with arguments, and its messages in err.
std::string RunAsRoot(const std::string& arguments, std::string* err) {
  const std::string messages = (CliFolder() / "messages").string();
  const std::string out = RunCli(arguments + " 2>" + messages);
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
       {test::kAsNobody, std::string(kWithoutRaw)}) {
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

// As root with CAP_NET_RAW a scan asks with frames of its own: the lines
// of the kernel's engine, one request for a host that answers, two for a
// silent address (or --retry's), no neighbour entry made. One address is
// still the kernel's: its cache answers, and no frame goes out.
TEST_F(Lab, CliScansWithFramesOfItsOwn) {
  ASSERT_EQ(AddLink("nv5", "00:0c:29:00:00:0d", "198.18.4.1/27",
                    "198.18.4.2/27 198.18.4.9/27 198.18.4.30/27"),
            "up\n");
  const std::string host = "\t00-0C-29-00-00-0D\tTest Vendor\n";
  const std::string lines =
      "198.18.4.1\t02-00-00-00-00-05\t(locally administered)\n198.18.4.2" +
      host + "198.18.4.9" + host + "198.18.4.30" + host + "status 0\n";
  // Host A's entries go too: it would probe this side after the kernel's
  // engine has made it answer.
  const std::string flush =
      "for i in $(seq 200); do ip neigh show dev nv5 nud incomplete | grep -q "
      ". || break; sleep 0.05; done; ip neigh flush dev nv5; nsenter -t " +
      std::to_string(host_pid) + " -n ip neigh flush all";
  Shell(flush);
  EXPECT_EQ(RunAsNobody("--found 198.18.4.0/27", nullptr), lines);
  EXPECT_NE(Shell("ip neigh show dev nv5"), "");  // the kernel's entries
  Shell(flush);

  for (const int attempts : {2, 3}) {
    SCOPED_TRACE(attempts);
    Shell(flush);
    RequestCounter counter("nv5p");
    EXPECT_EQ(RunCli("--found --retry " + std::to_string(attempts) +
                     " 198.18.4.0/27"),
              lines);
    EXPECT_EQ(Shell("ip neigh show dev nv5"), "");
    const auto requests = counter.Requests();
    // The machine's own .1 and the broadcast .31 are never asked.
    EXPECT_EQ(requests.size(), 29u);
    for (const auto& [address, n] : requests) {
      const bool live = address == "198.18.4.2" || address == "198.18.4.9" ||
                        address == "198.18.4.30";
      EXPECT_EQ(n, live ? 1 : attempts) << address;
    }
  }

  // The lab's /24 as root: the slow host's late answer heard, the stale
  // entry of a host that is gone not taken for one.
  EXPECT_EQ(RunCli("--found 198.51.100.0/24"),
            "198.51.100.1\t02-00-00-00-00-01\t(locally administered)\n"
            "198.51.100.2\t00-0C-29-0A-0B-FF\tTest Vendor\n"
            "198.51.100.3\t00-0C-29-0A-0B-FF\tTest Vendor\n"
            "198.51.100.4\t00-0C-29-0A-0B-FF\tTest Vendor\n"
            "198.51.100.5\t00-0C-29-00-00-05\tTest Vendor\nstatus 0\n");

  RequestCounter counter("nv5p");
  Shell(
      "ip neigh replace 198.18.4.9 lladdr 02:aa:bb:cc:dd:09 nud stale dev "
      "nv5");
  EXPECT_EQ(RunCli("--json 198.18.4.9"),
            "{\"address\":\"198.18.4.9\",\"mac\":\"02-AA-BB-CC-DD-09\","
            "\"vendor\":\"\",\"kind\":\"local\",\"state\":\"stale\"}\n"
            "status 0\n");
  EXPECT_EQ(counter.Requests(), (std::map<std::string, int>{}));
}

// Two stations answering for one address (host A's link and a macvlan on it,
// each with a hardware address of its own): the first answer is the
// address, the other one is news in every form.
TEST_F(Lab, CliReportsASecondAnswerer) {
  ASSERT_EQ(AddLink("nv6", "00:0c:29:00:00:0e", "203.0.113.129/29",
                    "203.0.113.130/29"),
            "up\n");
  Shell("nsenter -t " + std::to_string(host_pid) +
        " -n sh -c 'ip link add link nv6p name nv6m address 00:0c:29:00:00:0f "
        "type macvlan mode bridge && ip addr add 203.0.113.130/29 dev nv6m && "
        "ip link set nv6m up'");
  const std::string e = "00-0C-29-00-00-0E", f = "00-0C-29-00-00-0F";
  std::string err;
  const std::string text = RunAsRoot("-v 203.0.113.130-203.0.113.131", &err);
  const bool e_first = text.starts_with("203.0.113.130\t" + e);
  const std::string& taken = e_first ? e : f;
  const std::string& other = e_first ? f : e;
  EXPECT_EQ(text, "203.0.113.130\t" + taken + "\tTest Vendor\tconflict " +
                      other +
                      "\n203.0.113.131\tError: Gagal memanggil SendARP()\t\n"
                      "status 1\n");
  EXPECT_EQ(err, "norvane-cli: 203.0.113.130: conflict " + other + " (" +
                     taken +
                     " taken)\nnorvane-cli: 203.0.113.131: no reply within the "
                     "deadline\n");

  const std::string csv = RunCli("--csv --found 203.0.113.128/29");
  EXPECT_TRUE(
      csv.find("203.0.113.130," + e + ",Test Vendor,universal,conflict " + f +
               "\r\n") != std::string::npos ||
      csv.find("203.0.113.130," + f + ",Test Vendor,universal,conflict " + e +
               "\r\n") != std::string::npos)
      << csv;
  const std::string json = RunCli("--json --found 203.0.113.130 203.0.113.129");
  EXPECT_TRUE(json.find("\"state\":\"reply\",\"conflicts\":[\"" + f + "\"]}") !=
                  std::string::npos ||
              json.find("\"state\":\"reply\",\"conflicts\":[\"" + e + "\"]}") !=
                  std::string::npos)
      << json;
  EXPECT_NE(
      json.find("\"address\":\"203.0.113.129\",\"mac\":\"02-00-00-00-00-06\""),
      std::string::npos)
      << json;
}

}  // namespace
}  // namespace norvane
