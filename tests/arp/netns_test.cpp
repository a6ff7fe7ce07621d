// The query and norvane-cli against the real kernel, in a network namespace
// of this process's own (drawn in SetUpNetwork). Documentation addresses only.
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
#include <string>

namespace norvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

pid_t host_pid = 0;  // host A, in a namespace of its own

std::string EnterPrivateNetwork() {
  if (geteuid() != 0) return "needs root to create network namespaces";
  if (unshare(CLONE_NEWNET) != 0)
    return std::string("cannot create a network namespace: ") +
           std::strerror(errno);
  if (std::system("ip -V >/dev/null 2>&1 && nsenter -V >/dev/null 2>&1"))
    return "needs ip (iproute2) and nsenter (util-linux)";
  return {};
}

// The standard output of a shell command.
std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  for (int c; (c = std::fgetc(pipe)) != EOF;) out += static_cast<char>(c);
  pclose(pipe);
  return out;
}

// nv0 198.51.100.1/24 02:00:00:00:00:01, with a link record over 32 KiB, to
// host A (a child in a namespace of its own) 198.51.100.2 to .4 with
// 00:0c:29:0a:0b:ff, where slow_host.py answers for .5 (00:0c:29:00:00:05)
// after 0.8 s; .8 a stale entry only. All of it goes when this process ends.
std::string SetUpNetwork() {
  const pid_t host = fork();
  if (host == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (unshare(CLONE_NEWNET) != 0) _exit(1);
    raise(SIGSTOP);  // until its network is there; then it answers for .5
    execlp("python3", "python3", NORVANE_SLOW_HOST, "nv0p", "00:0c:29:00:00:05",
           "198.51.100.5", "800", nullptr);
    _exit(1);
  }
  int status = 0;
  if (host > 0) waitpid(host, &status, WUNTRACED);
  if (!WIFSTOPPED(status)) return "cannot start the test host";
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
  return "";
}

class Lab : public testing::Test {
 protected:
  void SetUp() override {
    static const std::string unavailable = EnterPrivateNetwork();
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    static const std::string error = SetUpNetwork();
    ASSERT_EQ(error, "");
  }
};

// norvane-cli, copied beside a table of its own; gone when this process ends.
const fs::path& CliFolder() {
  static const struct Folder {
    fs::path path;
    Folder() {
      char name[] = "/tmp/norvane-cli-test-XXXXXX";
      path = mkdtemp(name);
      fs::permissions(path, fs::perms::others_read | fs::perms::others_exec,
                      fs::perm_options::add);
      fs::copy_file(NORVANE_CLI, path / "norvane-cli");
      std::ofstream(path / "oui.ieee")
          << "00-0C-29   (hex)        Test Vendor\r\n";
    }
    ~Folder() { fs::remove_all(path); }
  } folder;
  return folder.path;
}

// The output of that copy, started from another folder behind runner, and
// its exit status.
std::string RunCli(const std::string& arguments,
                   const std::string& runner = "") {
  return Shell("cd / && " + runner + " " +
               (CliFolder() / "norvane-cli").string() + " " + arguments +
               "; echo status $?");
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
                   "ip neigh flush dev nv0 nud reachable; setpriv "
                   "--reuid=65534 --regid=65534 --clear-groups"),
            "198.51.100.1\t02-00-00-00-00-01\t(locally administered)\n"
            "198.51.100.2\t00-0C-29-0A-0B-FF\tTest Vendor\n"
            "198.51.100.3\t00-0C-29-0A-0B-FF\tTest Vendor\n"
            "198.51.100.4\t00-0C-29-0A-0B-FF\tTest Vendor\n"
            "198.51.100.5\t00-0C-29-00-00-05\tTest Vendor\n"
            "198.51.100.8\t02-AA-BB-CC-DD-02\t(locally administered)\n"
            "status 1\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
  EXPECT_EQ(HostAPackets() - packets, 3);
}

// With CAP_NET_ADMIN the kernel is asked directly, so only ARP reaches the
// host. 62 addresses at 50 a second: the run lasts 61 intervals at least,
// and each address is asked for once, the kernel sending one to three
// requests for it (frames counted over the whole run).
TEST_F(Lab, CliAsksTheKernelAtItsPace) {
  Shell("ip neigh del 198.51.100.3 dev nv0 2>/dev/null");
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

}  // namespace
}  // namespace norvane
