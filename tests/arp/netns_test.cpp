// The query and norvane-cli against the real kernel. The test process moves
// into a network namespace of its own before any test runs; the test hosts
// are child processes in further namespaces, joined to it by veth pairs. Only
// documentation addresses are used and no packet can leave the namespaces.
//
//   nv0  198.51.100.1/24 02:00:00:00:00:01 -- host A 198.51.100.2 and .3,
//                                             MAC 00:0c:29:0a:0b:ff
//   nv1  203.0.113.1/26  02:00:00:00:00:11 -- host B 203.0.113.2,
//                                             MAC 00:00:00:00:12:34
//   nv2  203.0.113.65/26, ARP off             -- its peer nv2p, no address
//   203.0.113.128/25 via host A, and everything else straight out of nv0
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mac.h"
#include "norvane_version.h"

namespace norvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Why the namespace tests cannot run here; empty when they can.
std::string unavailable;

std::string EnterPrivateNetwork() {
  if (geteuid() != 0) return "needs root to create network namespaces";
  if (unshare(CLONE_NEWNET) != 0) {
    return std::string("cannot create a network namespace: ") +
           std::strerror(errno);
  }
  if (std::system("ip -V >/dev/null 2>&1 && nsenter -V >/dev/null 2>&1")) {
    return "needs ip (iproute2) and nsenter (util-linux)";
  }
  return {};
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// Frames sent on every interface of this namespace so far.
long FramesSent() {
  std::ifstream dev("/proc/net/dev");
  std::string line;
  long total = 0;
  while (std::getline(dev, line)) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::istringstream fields(line.substr(colon + 1));
    long value = 0;
    for (int i = 0; i < 10 && fields >> value; ++i) {
    }
    total += value;  // the tenth counter: packets sent
  }
  return total;
}

// A process waiting in a network namespace of its own.
pid_t StartHost() {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    char ok = unshare(CLONE_NEWNET) == 0;
    // No IPv6 chatter from the hosts either.
    WriteFile("/proc/sys/net/ipv6/conf/default/disable_ipv6", "1");
    (void)!write(ready[1], &ok, 1);
    for (;;) pause();
  }
  close(ready[1]);
  char ok = 0;
  if (pid < 0 || read(ready[0], &ok, 1) != 1 || !ok) {
    if (pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    close(ready[0]);
    return -1;
  }
  close(ready[0]);
  return pid;
}

// Sets up the namespaces drawn above, once per test process; they go when
// the process ends. Returns what went wrong, or an empty text.
std::string SetUpNetwork() {
  WriteFile("/proc/sys/net/ipv6/conf/default/disable_ipv6", "1");
  WriteFile("/proc/sys/net/ipv6/conf/all/disable_ipv6", "1");
  const pid_t host_a = StartHost(), host_b = StartHost();
  if (host_a < 0 || host_b < 0) return "cannot start the test hosts";
  const std::string a = std::to_string(host_a);
  const std::string b = std::to_string(host_b);
  const std::string in_a = "nsenter -t " + a + " -n ";
  const std::string in_b = "nsenter -t " + b + " -n ";
  const std::vector<std::string> commands = {
      "ip link set lo up",
      "ip link add nv0 address 02:00:00:00:00:01 type veth peer name nv0p "
      "address 00:0c:29:0a:0b:ff",
      "ip link set nv0p netns " + a,
      in_a + "ip link set lo up",
      in_a + "ip addr add 198.51.100.2/24 dev nv0p",
      in_a + "ip addr add 198.51.100.3/24 dev nv0p",
      in_a + "ip link set nv0p up",
      "ip addr add 198.51.100.1/24 dev nv0",
      "ip link set nv0 up",
      "ip link add nv1 address 02:00:00:00:00:11 type veth peer name nv1p "
      "address 00:00:00:00:12:34",
      "ip link set nv1p netns " + b,
      in_b + "ip addr add 203.0.113.2/26 dev nv1p",
      in_b + "ip link set nv1p up",
      "ip addr add 203.0.113.1/26 dev nv1",
      "ip link set nv1 up",
      "ip link add nv2 type veth peer name nv2p",
      "ip link set nv2 arp off",
      "ip link set nv2p up",
      "ip addr add 203.0.113.65/26 dev nv2",
      "ip link set nv2 up",
      "ip route add 203.0.113.128/25 via 198.51.100.2",
      // Everything else counts as on nv0, so that only the query's own
      // refusal keeps reserved addresses off the link.
      "ip route add default dev nv0",
  };
  for (const std::string& command : commands) {
    if (std::system(command.c_str()) != 0) {
      return "setting up the namespaces failed at: " + command;
    }
  }
  // Wait until the four links of this namespace carry traffic.
  for (int i = 0; i < 200; ++i) {
    if (std::system("ip -o link show up | grep -c LOWER_UP | grep -qx 5") == 0)
      return {};
    std::this_thread::sleep_for(10ms);
  }
  return "the veth links did not come up";
}

class Lab : public testing::Test {
 protected:
  void SetUp() override {
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    static const std::string error = SetUpNetwork();
    ASSERT_EQ(error, "");
  }
};

TEST_F(Lab, UncachedHostResolvesToTheMacOfItsInterface) {
  std::system("ip neigh del 198.51.100.2 dev nv0 2>/dev/null");
  const long frames = FramesSent();
  EXPECT_EQ(GetMAC(u"198.51.100.2"), u"00-0C-29-0A-0B-FF");
  EXPECT_GT(FramesSent(), frames);  // it had to ask
}

TEST_F(Lab, CachedEntriesAnswerWithoutAFrame) {
  ASSERT_EQ(GetMAC(u"198.51.100.3"), u"00-0C-29-0A-0B-FF");
  // Nobody holds .7 and .8: only the cache can answer for them.
  ASSERT_EQ(std::system("ip neigh add 198.51.100.7 lladdr 02:aa:bb:cc:dd:01 "
                        "nud permanent dev nv0 && "
                        "ip neigh add 198.51.100.8 lladdr 02:aa:bb:cc:dd:02 "
                        "nud stale dev nv0"),
            0);
  const long frames = FramesSent();
  EXPECT_EQ(GetMAC(u"198.51.100.3"), u"00-0C-29-0A-0B-FF");
  EXPECT_EQ(GetMAC(u"198.51.100.7"), u"02-AA-BB-CC-DD-01");
  EXPECT_EQ(GetMAC(u"198.51.100.8"), u"02-AA-BB-CC-DD-02");
  EXPECT_EQ(FramesSent(), frames);
}

TEST_F(Lab, OwnAddressGivesTheMacOfItsInterface) {
  const long frames = FramesSent();
  EXPECT_EQ(GetMAC(u"198.51.100.1"), u"02-00-00-00-00-01");
  EXPECT_EQ(GetMAC(u"203.0.113.1"), u"02-00-00-00-00-11");
  EXPECT_EQ(FramesSent(), frames);
}

TEST_F(Lab, DestinationsWithoutANeighbourFailWithoutAFrame) {
  const std::u16string cases[] = {
      u"0.0.0.0",
      u"0.1.2.3",
      u"127.0.0.1",
      u"224.0.0.1",
      u"240.0.0.1",
      u"255.255.255.255",
      u"198.51.100.255",  // broadcast of nv0's subnet
      u"203.0.113.130",   // behind the gateway
      u"203.0.113.66",    // on nv2, which does no ARP
      u"not an address",
      std::u16string(u"198.51.100.2\0", 13),  // host A, but for the NUL
  };
  const long frames = FramesSent();
  for (const std::u16string& text : cases) {
    SCOPED_TRACE(std::string(text.begin(), text.end()));
    EXPECT_EQ(GetMAC(text), kQueryErrorText);
  }
  EXPECT_EQ(FramesSent(), frames);
}

TEST_F(Lab, HostWithFourLeadingZeroBytesGivesTheErrorText) {
  HardwareBuffer buffer{};
  std::uint32_t length = buffer.size();
  ASSERT_TRUE(SystemPlatform().resolve(SystemPlatform().parse(u"203.0.113.2"),
                                       buffer, length));
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(buffer, (HardwareBuffer{0, 0, 0, 0, 0x12, 0x34}));
  EXPECT_EQ(GetMAC(u"203.0.113.2"), kQueryErrorText);
}

TEST_F(Lab, SilentAddressFailsWithinTheDeadline) {
  // The kernel gives up after 3 probes 1 s apart; the wait ends with it.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(GetMAC(u"198.51.100.9"), kQueryErrorText);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GT(elapsed, 2s);
  EXPECT_LT(elapsed, 3.5s + 0.5s);
}

// norvane-cli, copied with a small table of its own into a folder of its
// own, and started from another working directory.
class Cli : public Lab {
 protected:
  struct Result {
    int status = -1;
    std::string out, err;
  };

  void SetUp() override {}  // the namespaces only where a test asks

  static void SetUpTestSuite() {
    char folder[] = "/tmp/norvane-cli-test-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    fs::permissions(folder_, fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
    fs::copy_file(NORVANE_CLI, folder_ / "norvane-cli");
    WriteFile(folder_ / "oui.ieee",
              "# test table\r\n"
              "00-0C-29   (hex)        Test Vendor Ltd.\r\n"
              "02-00-00   (hex)        \r\n");
  }
  static void TearDownTestSuite() { fs::remove_all(folder_); }

  // Runs the copy with arguments, behind runner when one is given.
  static Result Run(const std::string& arguments,
                    const std::string& runner = "") {
    const fs::path err = folder_ / "stderr";
    const std::string command = "cd / && " + runner + " '" +
                                (folder_ / "norvane-cli").string() + "' " +
                                arguments + " 2>'" + err.string() + "'";
    Result result;
    FILE* pipe = popen(command.c_str(), "r");
    char chunk[4096];
    while (const std::size_t n = fread(chunk, 1, sizeof chunk, pipe))
      result.out.append(chunk, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = ReadFile(err);
    return result;
  }

  static inline fs::path folder_;
};

TEST_F(Cli, HelpVersionAndWrongUsage) {
  Result help = Run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: norvane-cli ADDRESS...\n", 0), 0u);

  EXPECT_EQ(Run("--version").out,
            std::string("norvane-cli ") + NORVANE_VERSION + "\n");
  EXPECT_EQ(Run("").status, 2);
  Result unknown = Run("--frobnicate 0.0.0.0");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("--frobnicate"), std::string::npos);
}

TEST_F(Cli, MissingTableEndsWithStatus2BeforeAnyQuery) {
  fs::rename(folder_ / "oui.ieee", folder_ / "oui.away");
  const Result result = Run("0.0.0.0");
  fs::rename(folder_ / "oui.away", folder_ / "oui.ieee");
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("Critical Error! oui.ieee not found!"),
            std::string::npos);
}

TEST_F(Cli, PrintsOneLinePerAddressInOrder) {
  Lab::SetUp();
  if (IsSkipped() || HasFatalFailure()) return;
  Result mixed = Run("198.51.100.2 203.0.113.130 0.0.0.0");
  EXPECT_EQ(mixed.out,
            "198.51.100.2\t00-0C-29-0A-0B-FF\tTest Vendor Ltd.\n"
            "203.0.113.130\tError: Gagal memanggil SendARP()\t\n"
            "0.0.0.0\tError: Gagal memanggil SendARP()\t\n");
  EXPECT_EQ(mixed.status, 1);

  // No privilege is needed, not even to have the kernel resolve.
  ASSERT_EQ(std::system("ip neigh flush dev nv0"), 0);
  Result fine = Run("198.51.100.2 198.51.100.1",
                    "setpriv --reuid=65534 --regid=65534 --clear-groups");
  EXPECT_EQ(fine.out,
            "198.51.100.2\t00-0C-29-0A-0B-FF\tTest Vendor Ltd.\n"
            "198.51.100.1\t02-00-00-00-00-01\t\n");
  EXPECT_EQ(fine.status, 0);
}

}  // namespace
}  // namespace norvane

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!GTEST_FLAG_GET(list_tests)) {
    norvane::unavailable = norvane::EnterPrivateNetwork();
  }
  return RUN_ALL_TESTS();
}
