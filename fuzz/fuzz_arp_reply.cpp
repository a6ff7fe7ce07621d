// Arbitrary bytes read as frames from a packet socket, the way the privileged
// scan reads ARP replies: the parser, the socket filter (run here by a small
// interpreter of the instructions it uses) and the ledger that takes them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "packet.h"

namespace {

using namespace norvane;
using namespace std::chrono_literals;

// The filter's verdict on frame: whether it lets the frame through.
bool Filtered(std::span<const std::uint8_t> frame,
              const std::vector<sock_filter>& code) {
  std::uint32_t a = 0;
  for (std::size_t pc = 0; pc < code.size(); ++pc) {
    const sock_filter& op = code[pc];
    switch (op.code) {
      case BPF_LD | BPF_H | BPF_ABS:
      case BPF_LD | BPF_W | BPF_ABS: {
        const std::size_t size = BPF_SIZE(op.code) == BPF_H ? 2 : 4;
        if (op.k + size > frame.size()) return false;  // as the kernel does
        a = 0;
        for (std::size_t i = 0; i < size; ++i) a = a << 8 | frame[op.k + i];
        break;
      }
      case BPF_JMP | BPF_JEQ | BPF_K:
        pc += a == op.k ? op.jt : op.jf;
        break;
      case BPF_RET | BPF_K:
        return op.k != 0;
      default:
        __builtin_trap();  // an instruction this interpreter does not know
    }
  }
  __builtin_trap();  // a program must end in a return
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::span<const std::uint8_t> frame(data, size);
  // The address the frame is to, so that the parser's later checks are met.
  std::uint32_t source = 0x0100A8C0;
  if (size >= 42) std::memcpy(&source, data + 38, 4);
  const auto reply = packet::ParseReply(frame, source);
  if (!reply) return 0;
  if (!Filtered(frame, packet::ReplyFilter(source)) ||
      reply->sender == source || (reply->hardware[0] & 1)) {
    __builtin_trap();
  }
  // Heard for an address being asked, it is that address's answer.
  packet::Ledger ledger(1ms, 2, 10ms, 4);
  const auto start = std::chrono::steady_clock::time_point(1s);
  ledger.Asked({reply->sender, 1, source}, start);
  ledger.Hear(*reply, 1, source);
  ledger.Hear(*reply, 1, source);
  Prober::Answers answers;
  ledger.Expire(start + 10ms, answers);
  if (answers.size() != 1 || !answers[0].second.resolved ||
      answers[0].second.buffer != reply->hardware ||
      !answers[0].second.conflicts.empty() || ledger.size() != 0) {
    __builtin_trap();
  }
  return 0;
}
