// norvane-cli --watch against the real kernel, as nobody, in a network
// namespace of this process's own: nv0 198.51.100.1/24 to host A (a child
// in a namespace of its own) at .2, whose addresses, hardware address and
// forged ARP the tests change. The kernel here keeps an entry reachable for
// 0.3 s and probes a stale one after 1 s, so a host that leaves fails soon.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "netns.h"

namespace norvane {
namespace {

namespace fs = std::filesystem;
using test::Shell;

pid_t host_pid = 0;
void OnHostA(const std::string& command) {
  Shell("nsenter -t " + std::to_string(host_pid) + " -n " + command);
}

std::string SetUpNetwork() {
  if (std::string why = test::EnterNamespaces(CLONE_NEWNET); !why.empty())
    return why;
  int ready[2];
  if (pipe(ready) != 0) return std::strerror(errno);
  host_pid = fork();
  if (host_pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (unshare(CLONE_NEWNET) != 0) _exit(1);
    close(ready[1]);  // its namespace is its own now
    for (;;) pause();
  }
  close(ready[1]);
  char byte;
  if (read(ready[0], &byte, 1) != 0) return "cannot start host A";
  const std::string script = "set -e; a=" + std::to_string(host_pid) + R"(
A="nsenter -t $a -n"; ip link set lo up
ip link add nv0 address 02:00:00:00:00:01 type veth peer name nv0p \
  address 00:0c:29:0a:0b:ff netns $a
$A ip addr add 198.51.100.2/24 dev nv0p
$A sysctl -qw net.ipv4.conf.nv0p.arp_notify=1; $A ip link set nv0p up
ip addr add 198.51.100.1/24 dev nv0
sysctl -qw net.ipv4.neigh.nv0.base_reachable_time_ms=300 \
  net.ipv4.neigh.nv0.delay_first_probe_time=1
ip link set nv0 up
for i in $(seq 200); do
  [ $(ip -o link show up | grep -c LOWER_UP) = 2 ] && exit; sleep 0.01
done; exit 1)";
  if (std::system(script.c_str())) return "setting up the namespaces failed";
  return {};
}

// A watch as nobody, beside a table of its own; its output read from a
// pipe, its messages kept in a file.
class Watch {
 public:
  explicit Watch(const std::string& arguments) {
    char name[] = "/tmp/norvane-watch-test-XXXXXX";
    folder_ = mkdtemp(name);
    fs::permissions(folder_, fs::perms::all);
    fs::copy_file(NORVANE_CLI, folder_ / "norvane-cli");
    std::ofstream(folder_ / "oui.ieee")
        << "00-0C-29   (hex)        Test Vendor\r\n";
    int ends[2];
    EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
    const std::string command =
        "exec " + test::kAsNobody + " " + (folder_ / "norvane-cli").string() +
        " " + arguments + " 2>" + (folder_ / "messages").string();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(ends[1], STDOUT_FILENO);
      execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
      _exit(127);
    }
    close(ends[1]);
    out_ = ends[0];
  }
  ~Watch() {
    if (pid_ > 0 && status_ < 0) kill(pid_, SIGKILL), Status();
    if (out_ >= 0) close(out_);
    if (!folder_.empty()) fs::remove_all(folder_);
  }

  // The lines up to the first that holds every text of wanted, read with a
  // generous bound of 30 s a line; all the lines so far are in lines.
  void Until(const std::vector<std::string>& wanted) {
    for (std::string line; !(line = Next()).empty();) {
      lines.push_back(line);
      if (std::ranges::all_of(wanted, [&](const std::string& text) {
            return line.find(text) != std::string::npos;
          })) {
        return;
      }
    }
    ADD_FAILURE() << "no line with " << wanted.front();
  }

  // The next whole line; empty at the end or after 30 s.
  std::string Next() {
    for (std::size_t end; (end = buffer_.find('\n')) == std::string::npos;) {
      pollfd fd{out_, POLLIN, 0};
      char chunk[4096];
      const ssize_t n = poll(&fd, 1, 30'000) == 1 ? read(out_, chunk, 4096) : 0;
      if (n <= 0) return {};
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
    std::string line = buffer_.substr(0, buffer_.find('\n') + 1);
    buffer_.erase(0, line.size());
    return line;
  }

  // The exit status after number, waited for 30 s at most; -1 if none.
  int End(int number) {
    if (number) kill(pid_, number);
    return Status();
  }

  void CloseOutput() { close(std::exchange(out_, -1)); }
  std::string Messages() {
    return Shell("cat " + (folder_ / "messages").string());
  }
  std::vector<std::string> lines;

 private:
  int Status() {
    for (int i = 0; i < 3000 && status_ < 0; ++i, usleep(10'000)) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_)
        status_ = WEXITSTATUS(status);
    }
    return status_;
  }

  fs::path folder_;
  pid_t pid_ = -1;
  int out_ = -1, status_ = -1;
  std::string buffer_;
};

class WatchLab : public testing::Test {
 protected:
  void SetUp() override {
    static const std::string error = SetUpNetwork();
    if (error.starts_with("needs")) GTEST_SKIP() << error;
    ASSERT_EQ(error, "");
  }
};

std::string Event(const std::string& event, const std::string& last_octet) {
  return "\"event\":\"" + event + "\",\"address\":\"198.51.100." + last_octet;
}

// A device that joins after the first scan, changes its hardware address,
// leaves and returns: each a line in order, and the change a warning too;
// SIGINT ends the watch with status 0 and nothing half written.
TEST_F(WatchLab, JoinChangeLeaveReturn) {
  Watch watch("--watch --json --every 0.2 -l");
  watch.Until({Event("new", "2\""), "00-0C-29-0A-0B-FF"});
  OnHostA("ip addr add 198.51.100.3/24 dev nv0p");
  watch.Until({Event("new", "3\""), "\"mac\":\"00-0C-29-0A-0B-FF\""});
  OnHostA("ip link set nv0p address 00:0c:29:0a:0b:ee");  // and says so
  watch.Until({Event("changed", "2\""), "\"mac\":\"00-0C-29-0A-0B-EE\"",
               "\"previous\":\"00-0C-29-0A-0B-FF\""});
  EXPECT_NE(watch.Messages().find("warning: 198.51.100.2 answers with "
                                  "00-0C-29-0A-0B-EE now, with "
                                  "00-0C-29-0A-0B-FF before"),
            std::string::npos);
  OnHostA("ip addr del 198.51.100.3/24 dev nv0p");
  watch.Until({Event("gone", "3\"")});
  OnHostA("ip addr add 198.51.100.3/24 dev nv0p");
  watch.Until({Event("back", "3\""), "00-0C-29-0A-0B-EE"});
  std::string story;  // .3's events, in order
  for (const std::string& line : watch.lines) {
    for (const char* event : {"new", "changed", "gone", "back"}) {
      if (line.find(Event(event, "3\"")) != std::string::npos) story += event;
    }
  }
  EXPECT_EQ(story, "newchangedgoneback");
  EXPECT_EQ(watch.End(SIGINT), 0);
  for (std::string line; !(line = watch.Next()).empty();) {
    EXPECT_TRUE(line.ends_with("}\n")) << line;
  }
}

// Forged ARP requests from 200 made-up senders make the kernel create an
// entry, and an event, for each: the watch follows its cap's worth, counts
// the rest, says so, and ends on SIGTERM with status 0.
TEST_F(WatchLab, ForgedFloodAgainstTheCap) {
  Watch watch("--watch --json --every 60 --track 10 -l");
  watch.Until({Event("new", "2\"")});
  OnHostA(R"(python3 -c "
import socket
s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW)
s.bind(('nv0p', 0))
for i in range(200):
    mac = bytes([2, 0x5e, 0, 0, 0, i])
    s.send(b'\xff' * 6 + mac + bytes.fromhex('08060001080006040001') +
           mac + bytes([198, 51, 100, 20 + i]) + bytes(6) + bytes([198, 51, 100, 1]))
")");
  for (int i = 0;
       i < 3000 && watch.Messages().find("not followed") == std::string::npos;
       ++i) {
    usleep(10'000);
  }
  EXPECT_EQ(watch.End(SIGTERM), 0);
  for (std::string line; !(line = watch.Next()).empty();) {
    watch.lines.push_back(line);
  }
  EXPECT_EQ(std::ranges::count_if(watch.lines,
                                  [](const std::string& line) {
                                    return line.find("\"event\":\"new\"") !=
                                           std::string::npos;
                                  }),
            10);
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
  Watch watch("--watch --every 0.2 198.51.100.0/24");
  watch.Until({"new\t198.51.100.2"});
  watch.CloseOutput();
  OnHostA("ip addr add 198.51.100.4/24 dev nv0p");
  EXPECT_EQ(watch.End(0), 2);
  EXPECT_EQ(watch.Messages(),
            "norvane-cli: cannot write the output: Broken pipe\n");
  OnHostA("ip addr del 198.51.100.4/24 dev nv0p");
}

}  // namespace
}  // namespace norvane
