// kelvor_net_delay: holds every packet of one netfilter queue for a fixed
// time, then lets it through unchanged. The latency case of bench/latency
// sends a client namespace's traffic on its veth link here (iptables NFQUEUE,
// both directions), which gives a link of about twice the delay in round
// trip on a kernel without the netem queueing discipline.
//
//   kelvor_net_delay --queue N [--delay-us U]      (U: 450 unless given)
//
// Runs until SIGINT or SIGTERM; then it releases what it holds and unbinds
// the queue. Prints "kelvor_net_delay: queue N ready" on standard output once
// packets can be queued, and on exit how many packets it held and the
// largest lateness of a release, so that a run can tell whether the delay
// was kept. One thread; the held packets live in a FIFO in this file.
//
// The delay is the same for every packet, so release order is arrival order
// and a FIFO is the whole schedule. Timing uses ppoll with nanosecond
// timeouts and a timer slack of 1 ns, since the default slack of 50 us would
// be a tenth of the delay; and, where allowed, a real-time priority, since on
// a busy machine an ordinary process can wait milliseconds for a core. The
// program sleeps between packets, so the priority takes little from others.
#include <arpa/inet.h>
#include <libnetfilter_queue/libnetfilter_queue.h>
#include <linux/netfilter.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>

namespace {

volatile std::sig_atomic_t gStop = 0;

void OnSignal(int) {
  gStop = 1;
}

int64_t NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

struct THeld {
  uint32_t Id;
  int64_t ReleaseNs;
};

struct TQueueState {
  std::deque<THeld> Held;
  int64_t DelayNs = 450000;
  uint64_t Packets = 0;
};

int OnPacket(nfq_q_handle*, nfgenmsg*, nfq_data* Data, void* State) {
  auto* s = static_cast<TQueueState*>(State);
  const nfqnl_msg_packet_hdr* h = nfq_get_msg_packet_hdr(Data);
  if (!h) return 0;
  s->Held.push_back({ntohl(h->packet_id), NowNs() + s->DelayNs});
  ++s->Packets;
  return 0;
}

[[noreturn]] void Die(const char* What) {
  std::fprintf(stderr, "kelvor_net_delay: %s: %s\n", What, std::strerror(errno));
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  int queue = -1;
  long delayUs = 450;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--queue") == 0)
      queue = std::atoi(argv[i + 1]);
    else if (std::strcmp(argv[i], "--delay-us") == 0)
      delayUs = std::atol(argv[i + 1]);
  }
  if (queue < 0 || queue > 65535 || delayUs < 0) {
    std::fprintf(stderr, "usage: kelvor_net_delay --queue N [--delay-us U]\n");
    return 2;
  }
  TQueueState state;
  state.DelayNs = delayUs * 1000;

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  sched_param priority{};
  priority.sched_priority = 10;
  const bool realTime = sched_setscheduler(0, SCHED_FIFO, &priority) == 0;

  nfq_handle* h = nfq_open();
  if (!h) Die("nfq_open");
  nfq_q_handle* qh = nfq_create_queue(h, static_cast<uint16_t>(queue), &OnPacket, &state);
  if (!qh) Die("nfq_create_queue (is another program bound to this queue?)");
  // Only the packet id is needed for a verdict: no payload is copied.
  if (nfq_set_mode(qh, NFQNL_COPY_META, 0) < 0) Die("nfq_set_mode");
  // A bulk copy keeps many packets in flight over a 1 ms link; the kernel's
  // default of 1,024 would drop some and turn delay into retransmissions.
  if (nfq_set_queue_maxlen(qh, 100000) < 0) Die("nfq_set_queue_maxlen");
  // Large segments are queued whole instead of being cut up for us.
  nfq_set_queue_flags(qh, NFQA_CFG_F_GSO, NFQA_CFG_F_GSO);
  const int fd = nfq_fd(h);
  const int rcvbuf = 16 * 1024 * 1024;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &rcvbuf, sizeof rcvbuf);

  std::printf("kelvor_net_delay: queue %d ready, %ld us per packet%s\n", queue, delayUs,
              realTime ? "" : " (no real-time priority)");
  std::fflush(stdout);

  alignas(8) static char buf[256 * 1024];
  int64_t worstLateNs = 0, totalLateNs = 0;
  uint64_t dropped = 0;
  while (!gStop) {
    const int64_t now = NowNs();
    while (!state.Held.empty() && state.Held.front().ReleaseNs <= now) {
      worstLateNs = std::max(worstLateNs, now - state.Held.front().ReleaseNs);
      totalLateNs += now - state.Held.front().ReleaseNs;
      nfq_set_verdict(qh, state.Held.front().Id, NF_ACCEPT, 0, nullptr);
      state.Held.pop_front();
    }
    pollfd p{fd, POLLIN, 0};
    timespec wait{0, 200000000};
    if (!state.Held.empty()) {
      const int64_t left = std::max<int64_t>(0, state.Held.front().ReleaseNs - NowNs());
      wait = {static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
    }
    const int n = ppoll(&p, 1, &wait, nullptr);
    if (n < 0) {
      if (errno == EINTR) continue;
      Die("ppoll");
    }
    if (n == 0) continue;
    // Read what is there without blocking; ENOBUFS means the kernel lost
    // packets to a full socket buffer (counted, and told at exit).
    for (;;) {
      const ssize_t got = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
      if (got < 0) {
        if (errno == ENOBUFS) {
          ++dropped;
          continue;
        }
        break;
      }
      nfq_handle_packet(h, buf, static_cast<int>(got));
    }
  }
  for (const THeld& p : state.Held)
    nfq_set_verdict(qh, p.Id, NF_ACCEPT, 0, nullptr);
  nfq_destroy_queue(qh);
  nfq_close(h);
  std::printf(
      "kelvor_net_delay: %llu packets held; releases late by %.3f ms on average, %.3f ms at "
      "most; %llu overruns\n",
      static_cast<unsigned long long>(state.Packets),
      state.Packets ? static_cast<double>(totalLateNs) / 1e6 / static_cast<double>(state.Packets)
                    : 0.0,
      static_cast<double>(worstLateNs) / 1e6, static_cast<unsigned long long>(dropped));
  return 0;
}
