// What the tests against the real kernel share: this process in namespaces
// of its own, a peer in another, a folder for their files and the program
// run from a shell. Documentation addresses only, in the tests' scripts.
#pragma once

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace norvane::test {

// The standard output of a shell command.
inline std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  for (int c; (c = std::fgetc(pipe)) != EOF;) out += static_cast<char>(c);
  pclose(pipe);
  return out;
}

// This process in new namespaces: flags holds CLONE_NEWNET, and with
// CLONE_NEWNS its mounts are made private too. Empty when it is, else why
// not, for the test to skip with.
inline std::string EnterNamespaces(int flags) {
  if (geteuid() != 0) return "needs root to create network namespaces";
  if (unshare(flags) != 0)
    return std::string("cannot create the namespaces: ") + std::strerror(errno);
  if ((flags & CLONE_NEWNS) &&
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return std::string("cannot make the mounts private: ") +
           std::strerror(errno);
  if (std::system("ip -V >/dev/null 2>&1 && nsenter -V >/dev/null 2>&1 && "
                  "python3 -V >/dev/null 2>&1"))
    return "needs ip (iproute2), nsenter (util-linux) and python3";
  return {};
}

// A child in a network namespace of its own, stopped until it is sent
// SIGCONT (once its network is there), then running python3 with
// arguments; killed when this process ends. -1 when it cannot start.
inline pid_t StartPeer(const std::vector<std::string>& arguments) {
  std::vector<char*> argv{const_cast<char*>("python3")};
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  const pid_t peer = fork();
  if (peer == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (unshare(CLONE_NEWNET) != 0) _exit(1);
    raise(SIGSTOP);
    execvp("python3", argv.data());
    _exit(1);
  }
  int status = 0;
  if (peer > 0) waitpid(peer, &status, WUNTRACED);
  return peer > 0 && WIFSTOPPED(status) ? peer : -1;
}

// A fresh folder that others may read (the programs run as nobody), removed
// with everything in it when this goes.
struct TempFolder {
  std::filesystem::path path;
  explicit TempFolder(const std::string& prefix) {
    std::string name = "/tmp/" + prefix + "-XXXXXX";
    path = mkdtemp(name.data());
    std::filesystem::permissions(path,
                                 std::filesystem::perms::others_read |
                                     std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() { std::filesystem::remove_all(path); }
};

// A fresh folder holding a copy of program beside a vendor table of its
// own, a line for one test maker unless table says otherwise.
struct ProgramFolder : TempFolder {
  ProgramFolder(
      const std::string& prefix, const std::filesystem::path& program,
      const std::string& table = "00-0C-29   (hex)        Test Vendor\r\n")
      : TempFolder(prefix) {
    std::filesystem::copy_file(program, path / program.filename());
    std::ofstream(path / "oui.ieee") << table;
  }
};

// Runs a program as nobody, in front of the program's path.
inline const std::string kAsNobody =
    "setpriv --reuid=65534 --regid=65534 --clear-groups";

// The output of program with arguments (shell words and redirections),
// started from / behind runner, then "status N" with its exit status.
inline std::string Run(const std::filesystem::path& program,
                       const std::string& arguments,
                       const std::string& runner = "") {
  return Shell("cd / && " + runner + " " + program.string() + " " + arguments +
               "; echo status $?");
}

}  // namespace norvane::test
