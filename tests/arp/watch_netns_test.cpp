// norvane-cli --watch against the real kernel, as nobody, in a network
// namespace of this process's own: nv0 198.51.100.1/24 to host A (a child
// in a namespace of its own) at 198.51.100.2, whose addresses, hardware
// address and forged ARP the tests change. Documentation addresses only.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace norvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

pid_t host_pid = 0;

std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  for (int c; (c = std::fgetc(pipe)) != EOF;) out += static_cast<char>(c);
  pclose(pipe);
  return out;
}

// A command in host A's namespace.
std::string OnHostA(const std::string& command) {
  return Shell("nsenter -t " + std::to_string(host_pid) + " -n sh -c '" +
               command + "' 2>&1");
}

// The kernel here keeps an entry reachable for a fraction of a second and
// probes a stale one after a second, so that a host that leaves fails soon;
// host A tells its new hardware address with a gratuitous ARP.
std::string SetUpNetwork() {
  if (geteuid() != 0) return "needs root to create network namespaces";
  if (unshare(CLONE_NEWNET) != 0) {
    return std::string("cannot create a network namespace: ") +
           std::strerror(errno);
  }
  if (std::system("ip -V >/dev/null 2>&1 && nsenter -V >/dev/null 2>&1")) {
    return "needs ip (iproute2) and nsenter (util-linux)";
  }
  const pid_t host = fork();
  if (host == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (unshare(CLONE_NEWNET) != 0) _exit(1);
    for (;;) pause();
  }
  host_pid = host;
  // Until the child's namespace is its own.
  const std::string ours = fs::read_symlink("/proc/self/ns/net");
  for (int i = 0; i < 500; ++i) {
    std::error_code error;
    const auto theirs =
        fs::read_symlink("/proc/" + std::to_string(host) + "/ns/net", error);
    if (!error && theirs != ours) break;
    usleep(10'000);
  }
  const std::string script = "set -e; a=" + std::to_string(host) + R"(
A="nsenter -t $a -n"; ip link set lo up
for f in all default; do echo 1 >/proc/sys/net/ipv6/conf/$f/disable_ipv6; done
ip link add nv0 address 02:00:00:00:00:01 type veth peer name nv0p \
  address 00:0c:29:0a:0b:ff netns $a
$A ip addr add 198.51.100.2/24 dev nv0p
$A sysctl -qw net.ipv4.conf.nv0p.arp_notify=1
$A ip link set nv0p up
ip addr add 198.51.100.1/24 dev nv0
sysctl -qw net.ipv4.neigh.nv0.base_reachable_time_ms=300 \
  net.ipv4.neigh.nv0.delay_first_probe_time=1 \
  net.ipv4.neigh.nv0.retrans_time_ms=200
ip link set nv0 up
for i in $(seq 200); do
  [ $(ip -o link show up | grep -c LOWER_UP) = 2 ] && exit; sleep 0.01
done; exit 1)";
  if (std::system(script.c_str())) return "setting up the namespaces failed";
  return {};
}

class WatchLab : public testing::Test {
 protected:
  void SetUp() override {
    static const std::string error = SetUpNetwork();
    if (error.starts_with("needs")) GTEST_SKIP() << error;
    ASSERT_EQ(error, "");
  }
};

// norvane-cli, copied beside a table of its own; gone when this process ends.
const fs::path& CliFolder() {
  static const struct Folder {
    fs::path path;
    Folder() {
      char name[] = "/tmp/norvane-watch-test-XXXXXX";
      path = mkdtemp(name);
      fs::permissions(path, fs::perms::all);
      fs::copy_file(NORVANE_CLI, path / "norvane-cli");
      std::ofstream(path / "oui.ieee")
          << "00-0C-29   (hex)        Test Vendor\r\n";
    }
    ~Folder() { fs::remove_all(path); }
  } folder;
  return folder.path;
}

// A watch run as nobody, its output read line by line from a pipe, its
// messages kept in a file.
class Watcher {
 public:
  explicit Watcher(const std::string& arguments) {
    int ends[2];
    EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
    messages_ = CliFolder() / ("messages-" + std::to_string(++runs_));
    const std::string command =
        "exec setpriv --reuid=65534 --regid=65534 --clear-groups " +
        (CliFolder() / "norvane-cli").string() + " " + arguments + " 2>" +
        messages_.string();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(ends[1], STDOUT_FILENO);
      execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
      _exit(127);
    }
    close(ends[1]);
    out_ = ends[0];
  }
  ~Watcher() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  // Lines until one holds every text in wanted, that one included; a
  // generous bound (30 s) for each line on the busiest machine.
  std::vector<std::string> Until(const std::vector<std::string>& wanted) {
    std::vector<std::string> lines;
    for (;;) {
      const std::string line = Next();
      if (line.empty()) {
        ADD_FAILURE() << "no line with " << wanted.front();
        return lines;
      }
      lines.push_back(line);
      if (std::ranges::all_of(wanted, [&](const std::string& text) {
            return line.find(text) != std::string::npos;
          })) {
        return lines;
      }
    }
  }

  // The next whole line; empty at the end of the output or after 30 s.
  std::string Next() {
    for (;;) {
      if (const auto end = buffer_.find('\n'); end != std::string::npos) {
        std::string line = buffer_.substr(0, end + 1);
        buffer_.erase(0, end + 1);
        return line;
      }
      pollfd fd{out_, POLLIN, 0};
      if (poll(&fd, 1, 30'000) != 1) return {};
      char chunk[4096];
      const ssize_t n = read(out_, chunk, sizeof chunk);
      if (n <= 0) return {};
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  // What is left once the output ends, whole lines or not.
  std::string Rest() {
    std::string rest;
    for (std::string line; !(line = Next()).empty();) rest += line;
    return rest + std::exchange(buffer_, {});
  }

  void CloseOutput() {
    close(out_);
    out_ = -1;
  }

  void Signal(int number) { kill(pid_, number); }

  // The exit status, waited for 30 s at most; -1 when it did not end.
  int Status() {
    for (int i = 0; i < 3000 && status_ < 0; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ =
            WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      usleep(10'000);
    }
    return status_;
  }

  std::string Messages() const { return Shell("cat " + messages_.string()); }

 private:
  static inline int runs_ = 0;
  pid_t pid_ = -1;
  int out_ = -1;
  int status_ = -1;
  std::string buffer_;
  fs::path messages_;
};

std::string Event(const std::string& event, const std::string& last_octet) {
  return "\"event\":\"" + event + "\",\"address\":\"198.51.100." + last_octet +
         "\"";
}

// A device joins after the first scan, changes its hardware address, leaves
// and returns: each a line as it happens, as nobody; SIGINT ends the watch
// with status 0 and nothing half written.
TEST_F(WatchLab, JoinChangeLeaveReturn) {
  Watcher watch("--watch --json --every 0.2 -l");
  const auto first = watch.Until({Event("new", "2"), "00-0C-29-0A-0B-FF"});
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first.front().find("{\"time\":\"20"), std::string::npos);

  std::vector<std::string> lines;
  const auto until = [&](const std::vector<std::string>& wanted) {
    for (std::string& line : watch.Until(wanted)) lines.push_back(line);
  };
  OnHostA("ip addr add 198.51.100.3/24 dev nv0p");
  until({Event("new", "3"), "\"mac\":\"00-0C-29-0A-0B-FF\""});

  // The gratuitous ARP of the new address reaches the kernel's entries.
  OnHostA("ip link set nv0p address 00:0c:29:0a:0b:ee");
  until({Event("changed", "2"), "\"mac\":\"00-0C-29-0A-0B-EE\"",
         "\"previous\":\"00-0C-29-0A-0B-FF\""});
  EXPECT_NE(watch.Messages().find("warning: 198.51.100.2 answers with "
                                  "00-0C-29-0A-0B-EE now, with "
                                  "00-0C-29-0A-0B-FF before"),
            std::string::npos);

  OnHostA("ip addr del 198.51.100.3/24 dev nv0p");
  until({Event("gone", "3")});
  OnHostA("ip addr add 198.51.100.3/24 dev nv0p");
  until({Event("back", "3"), "00-0C-29-0A-0B-EE"});
  // .3's story, each once and in order.
  std::vector<std::string> story;
  for (const std::string& line : lines) {
    if (line.find("\"198.51.100.3\"") == std::string::npos) continue;
    const std::size_t from = line.find("\"event\":\"") + 9;
    story.push_back(line.substr(from, line.find('"', from) - from));
  }
  EXPECT_EQ(story,
            (std::vector<std::string>{"new", "changed", "gone", "back"}));

  watch.Signal(SIGINT);
  EXPECT_EQ(watch.Status(), 0);
  const std::string rest = watch.Rest();
  EXPECT_TRUE(rest.empty() || rest.ends_with("}\n")) << rest;
}

// Forged ARP requests from 200 made-up senders make the kernel create an
// entry for each, and an event: the watch follows its cap's worth, counts
// the rest, says so, and ends on SIGTERM with status 0.
TEST_F(WatchLab, ForgedFloodAgainstTheCap) {
  Watcher watch("--watch --json --every 60 --track 10 -l");
  const auto started = watch.Until({Event("new", "2")});
  OnHostA(R"(python3 -c "
import socket
s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW)
s.bind((\"nv0p\", 0))
for i in range(200):
    mac = bytes([2, 0x5e, 0, 0, i // 256, i % 256])
    sender = bytes([198, 51, 100, 20 + i % 230])
    s.send(b\"\xff\" * 6 + mac + b\"\x08\x06\x00\x01\x08\x00\x06\x04\x00\x01\" +
           mac + sender + bytes(6) + bytes([198, 51, 100, 1]))
")");
  for (int i = 0; i < 3000; ++i) {
    if (watch.Messages().find("the others are not followed") !=
        std::string::npos) {
      break;
    }
    usleep(10'000);
  }
  watch.Signal(SIGTERM);
  EXPECT_EQ(watch.Status(), 0);
  // The scan's and the flood's, the cap's worth in all.
  const std::string out = watch.Rest();
  std::size_t news = started.size();
  for (std::size_t at = 0;
       (at = out.find("\"event\":\"new\"", at)) != std::string::npos; ++at) {
    ++news;
  }
  EXPECT_EQ(news, 10u);
  EXPECT_TRUE(out.empty() || out.ends_with("}\n"));
  const std::string messages = watch.Messages();
  EXPECT_NE(messages.find("more than 10 addresses answered; the others are "
                          "not followed (--track)"),
            std::string::npos)
      << messages;
  EXPECT_NE(messages.find("answers of addresses not followed: at most 10"),
            std::string::npos);
}

// A reader that goes away: the next line fails, and the watch ends with
// status 2 and says why.
TEST_F(WatchLab, ClosedOutputEndsIt) {
  Watcher watch("--watch --every 0.2 198.51.100.0/24");
  watch.Until({"new\t198.51.100.2"});
  watch.CloseOutput();
  OnHostA("ip addr add 198.51.100.4/24 dev nv0p");
  EXPECT_EQ(watch.Status(), 2);
  EXPECT_EQ(watch.Messages(),
            "norvane-cli: cannot write the output: Broken pipe\n");
  OnHostA("ip addr del 198.51.100.4/24 dev nv0p");
}

}  // namespace
}  // namespace norvane
