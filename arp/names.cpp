// The name lookups: one thread sends the multicast DNS and NetBIOS
// questions from two ordinary UDP sockets, reads their answers and keeps the
// deadlines; getnameinfo, which blocks, runs on a few threads of its own
// that a lookup past its deadline no longer waits for.
#ifdef _WIN32
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "names.h"
#include "names_wire.h"
#include "text.h"

namespace norvane {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

#ifdef _WIN32
using Socket = SOCKET;
const Socket kNoSocket = INVALID_SOCKET;
void CloseSocket(Socket s) { closesocket(s); }
int PollSockets(pollfd* fds, std::size_t count, int milliseconds) {
  return WSAPoll(fds, static_cast<ULONG>(count), milliseconds);
}
bool SetNonBlocking(Socket s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
void CloseSocket(Socket s) { close(s); }
int PollSockets(pollfd* fds, std::size_t count, int milliseconds) {
  return poll(fds, static_cast<nfds_t>(count), milliseconds);
}
bool SetNonBlocking(Socket s) {
  const int flags = fcntl(s, F_GETFL);
  return flags >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}
#endif

// Blocking lookups at once, at most.
constexpr std::size_t kDnsThreads = 8;
// The longest wait of the loop between looks at its queue and the DNS
// answers, which wake no socket.
constexpr auto kLongestPoll = 10ms;

sockaddr_in SocketAddress(std::uint32_t address, std::uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  to.sin_port = htons(port);
  return to;
}

// A non-blocking UDP socket on an ordinary port; kNoSocket when there is none.
Socket OpenUdp() {
  const Socket s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == kNoSocket) return s;
  const sockaddr_in any = SocketAddress(htonl(INADDR_ANY), 0);
  if (!SetNonBlocking(s) ||
      bind(s, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
    CloseSocket(s);
    return kNoSocket;
  }
  return s;
}

// The local address packets to address leave from; 0 when there is no way.
std::uint32_t LocalAddressTowards(std::uint32_t address, std::uint16_t port) {
  const Socket s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == kNoSocket) return 0;
  const sockaddr_in to = SocketAddress(address, port);
  sockaddr_in local{};
  socklen_t size = sizeof local;
  std::uint32_t found = 0;
  if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&local), &size) == 0) {
    found = local.sin_addr.s_addr;
  }
  CloseSocket(s);
  return found;
}

// The reverse DNS lookups: requests in, answers out, worked on by up to
// kDnsThreads threads that hold it alive while they wait in getnameinfo.
struct DnsPool {
  struct Request {
    std::uint64_t token;
    std::uint32_t address;
    Clock::time_point deadline;
  };
  std::mutex lock;
  std::condition_variable work;
  std::deque<Request> requests;
  std::vector<std::pair<std::uint64_t, std::string>> answers;
  std::size_t threads = 0, idle = 0;
  bool closed = false;

  static void Work(const std::shared_ptr<DnsPool>& pool) {
    std::unique_lock<std::mutex> held(pool->lock);
    for (;;) {
      ++pool->idle;
      pool->work.wait(held,
                      [&] { return pool->closed || !pool->requests.empty(); });
      --pool->idle;
      if (pool->closed) break;
      const Request request = pool->requests.front();
      pool->requests.pop_front();
      if (Clock::now() >= request.deadline) {
        pool->answers.emplace_back(request.token, std::string());
        continue;
      }
      held.unlock();
      const sockaddr_in from = SocketAddress(request.address, 0);
      char host[NI_MAXHOST];
      std::string name;
      if (getnameinfo(reinterpret_cast<const sockaddr*>(&from), sizeof from,
                      host, sizeof host, nullptr, 0, NI_NAMEREQD) == 0) {
        name = host;
      }
      held.lock();
      pool->answers.emplace_back(request.token, std::move(name));
    }
    --pool->threads;
  }

  // False when no thread could be started for it.
  static bool Ask(const std::shared_ptr<DnsPool>& pool,
                  const Request& request) {
    const std::lock_guard<std::mutex> held(pool->lock);
    if (pool->idle == 0 && pool->threads < kDnsThreads) {
      try {
        std::thread([pool] { Work(pool); }).detach();
        ++pool->threads;
      } catch (const std::system_error&) {
        if (pool->threads == 0) return false;
      }
    }
    pool->requests.push_back(request);
    pool->work.notify_one();
    return true;
  }

  void Close() {
    const std::lock_guard<std::mutex> held(lock);
    closed = true;
    work.notify_all();
  }
};

// The ways a name is asked, in their order of preference.
enum Way { kDns, kMdns, kNetbios, kWays };

struct Lookup {
  std::size_t id;
  std::uint32_t address;
  std::uint64_t token;  // the DNS request's
  std::uint16_t netbios_id;
  Clock::time_point deadline;
  std::array<std::string, kWays> names;  // found
  std::array<bool, kWays> over{};        // nothing more will come
};

class SystemLookups final : public NameLookups {
 public:
  SystemLookups(const NameOptions& options, NameDone done)
      : options_(options),
        done_(std::move(done)),
        dns_(std::make_shared<DnsPool>()),
        interval_(std::chrono::nanoseconds(1s) / std::max(options.rate, 1u)) {
#ifdef _WIN32
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
#endif
    thread_ = std::thread([this] { Loop(); });
  }

  ~SystemLookups() override {
    {
      const std::lock_guard<std::mutex> held(lock_);
      closing_ = true;
    }
    wake_.notify_all();
    thread_.join();
    dns_->Close();
    for (const Socket s : {mdns_, netbios_})
      if (s != kNoSocket) CloseSocket(s);
  }

  void Look(std::size_t id, std::uint32_t address) override {
    {
      const std::lock_guard<std::mutex> held(lock_);
      queue_.emplace_back(id, address);
      ++unfinished_;
    }
    wake_.notify_all();
  }

  void Finish() override {
    std::unique_lock<std::mutex> held(lock_);
    finished_.wait(held, [&] { return unfinished_ == 0; });
  }

 private:
  void Loop() {
    mdns_ = OpenUdp();
    netbios_ = OpenUdp();
    if (mdns_ != kNoSocket) {
      // Responders answer on the link only, as multicast DNS always is.
      const int ttl = 255;
      setsockopt(mdns_, IPPROTO_IP, IP_MULTICAST_TTL,
                 reinterpret_cast<const char*>(&ttl), sizeof ttl);
    }
    auto next_start = Clock::now();
    for (;;) {
      {
        std::unique_lock<std::mutex> held(lock_);
        if (active_.empty()) {
          wake_.wait(held, [&] { return closing_ || !queue_.empty(); });
        }
        if (closing_) return;
        while (!queue_.empty() && active_.size() < options_.most_at_once &&
               Clock::now() >= next_start) {
          const auto [id, address] = queue_.front();
          queue_.pop_front();
          held.unlock();
          Start(id, address);
          held.lock();
          next_start = std::max(next_start, Clock::now()) + interval_;
        }
      }
      Wait(next_start);
      TakeDnsAnswers();
      Settle();
    }
  }

  void Start(std::size_t id, std::uint32_t address) {
    const std::uint64_t token = ++tokens_;
    Lookup lookup{id,
                  address,
                  token,
                  static_cast<std::uint16_t>(token),
                  Clock::now() + options_.deadline,
                  {},
                  {}};
    lookup.over[kDns] =
        !DnsPool::Ask(dns_, {lookup.token, address, lookup.deadline});
    lookup.over[kMdns] = !SendMdns(address, lookup.netbios_id);
    const auto request = names::BuildNodeStatusRequest(lookup.netbios_id);
    const sockaddr_in to = SocketAddress(address, options_.netbios_port);
    lookup.over[kNetbios] =
        netbios_ == kNoSocket ||
        sendto(netbios_, reinterpret_cast<const char*>(request.data()),
               static_cast<int>(request.size()), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0;
    active_.push_back(std::move(lookup));
  }

  // The query leaves by the interface address is reached through.
  bool SendMdns(std::uint32_t address, std::uint16_t id) {
    if (mdns_ == kNoSocket) return false;
    const std::uint32_t local =
        LocalAddressTowards(address, options_.netbios_port);
    if (local != 0 && local != multicast_from_) {
      in_addr from{};
      from.s_addr = local;
      if (setsockopt(mdns_, IPPROTO_IP, IP_MULTICAST_IF,
                     reinterpret_cast<const char*>(&from), sizeof from) == 0) {
        multicast_from_ = local;
      }
    }
    const auto query = names::BuildPtrQuery(id, address);
    const sockaddr_in to =
        SocketAddress(htonl(options_.mdns_group), options_.mdns_port);
    return sendto(mdns_, reinterpret_cast<const char*>(query.data()),
                  static_cast<int>(query.size()), 0,
                  reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0;
  }

  // Until an answer, the next deadline, the next start, or kLongestPoll.
  void Wait(Clock::time_point next_start) {
    auto until = Clock::now() + kLongestPoll;
    for (const Lookup& lookup : active_)
      until = std::min(until, lookup.deadline);
    {
      const std::lock_guard<std::mutex> held(lock_);
      if (!queue_.empty() && active_.size() < options_.most_at_once)
        until = std::min(until, next_start);
    }
    std::array<pollfd, 2> fds{};
    std::size_t count = 0;
    for (const Socket s : {mdns_, netbios_}) {
      if (s == kNoSocket) continue;
      fds[count].fd = s;
      fds[count++].events = POLLIN;
    }
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    const int milliseconds =
        static_cast<int>(std::max<std::int64_t>(wait.count(), 0));
    if (count == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
      return;
    }
    if (PollSockets(fds.data(), count, milliseconds) <= 0) return;
    for (std::size_t i = 0; i < count; ++i) {
      if (fds[i].revents != 0) Read(fds[i].fd);
    }
  }

  // Every datagram waiting on s.
  void Read(Socket s) {
    for (int reads = 0; reads < 1024; ++reads) {
      sockaddr_in from{};
      socklen_t size = sizeof from;
      const auto got = recvfrom(s, reinterpret_cast<char*>(buffer_.data()),
                                static_cast<int>(buffer_.size()), 0,
                                reinterpret_cast<sockaddr*>(&from), &size);
      if (got < 0) {
#ifdef _WIN32
        // The port unreachable of an earlier datagram, or one too large.
        const int error = WSAGetLastError();
        if (error == WSAECONNRESET || error == WSAEMSGSIZE) continue;
#endif
        return;
      }
      const std::span<const std::uint8_t> message(
          buffer_.data(), static_cast<std::size_t>(got));
      if (s == mdns_) {
        if (const auto answer = names::ReadPtrAnswer(message)) {
          for (Lookup& lookup : active_) {
            if (lookup.address == answer->address && !lookup.over[kMdns]) {
              lookup.names[kMdns] = TidyName(answer->name);
              lookup.over[kMdns] = true;
            }
          }
        }
      } else if (const auto status = names::ReadNodeStatus(message)) {
        for (Lookup& lookup : active_) {
          if (lookup.address == from.sin_addr.s_addr &&
              lookup.netbios_id == status->id && !lookup.over[kNetbios]) {
            lookup.names[kNetbios] = TidyName(status->name);
            lookup.over[kNetbios] = true;
          }
        }
      }
    }
  }

  void TakeDnsAnswers() {
    std::vector<std::pair<std::uint64_t, std::string>> answers;
    {
      const std::lock_guard<std::mutex> held(dns_->lock);
      answers.swap(dns_->answers);
    }
    for (auto& [token, name] : answers) {
      for (Lookup& lookup : active_) {
        if (lookup.token == token) {
          lookup.names[kDns] = TidyName(name);
          lookup.over[kDns] = true;
        }
      }
    }
  }

  // Ends every lookup whose name is certain (a name found, and every way
  // before its own over), or whose deadline has passed: then the best name
  // found, if any.
  void Settle() {
    const auto now = Clock::now();
    for (auto lookup = active_.begin(); lookup != active_.end();) {
      HostName name;
      bool waiting = false;  // for a way before the first name found
      for (int way = kDns; way < kWays; ++way) {
        if (!lookup->names[way].empty()) {
          name = {lookup->names[way], static_cast<NameSource>(way + 1)};
          break;
        }
        waiting |= !lookup->over[way];
      }
      if (waiting && now < lookup->deadline) {
        ++lookup;
        continue;
      }
      done_(lookup->id, name);
      lookup = active_.erase(lookup);
      {
        const std::lock_guard<std::mutex> held(lock_);
        --unfinished_;
      }
      finished_.notify_all();
    }
  }

  const NameOptions options_;
  const NameDone done_;
  const std::shared_ptr<DnsPool> dns_;
  const std::chrono::nanoseconds interval_;
  Socket mdns_ = kNoSocket, netbios_ = kNoSocket;
  std::uint32_t multicast_from_ = 0;
  std::uint64_t tokens_ = 0;
  std::vector<Lookup> active_;  // the loop's own
  std::vector<std::uint8_t> buffer_ =
      std::vector<std::uint8_t>(9000);  // multicast DNS's largest message

  std::mutex lock_;  // guards what follows
  std::condition_variable wake_, finished_;
  std::deque<std::pair<std::size_t, std::uint32_t>> queue_;
  std::size_t unfinished_ = 0;
  bool closing_ = false;
  std::thread thread_;
};

}  // namespace

const char* NameSourceText(NameSource source) {
  switch (source) {
    case NameSource::kDns:
      return "dns";
    case NameSource::kMdns:
      return "mdns";
    case NameSource::kNetbios:
      return "netbios";
    case NameSource::kNone:
      break;
  }
  return "";
}

std::string TidyName(const std::string& name) {
  const std::string text = ToUtf8(DecodeUtf8(name));
  std::size_t end = std::min(text.size(), names::kLongestName);
  // Back to the start of a character.
  while (end < text.size() && end > 0 &&
         (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
    --end;
  }
  return text.substr(0, end);
}

std::unique_ptr<NameLookups> SystemNameLookups(const NameOptions& options,
                                               NameDone done) {
  return std::make_unique<SystemLookups>(options, std::move(done));
}

}  // namespace norvane
