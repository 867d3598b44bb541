// What one probe costs: SendEcho on loopback against the floor of a socket that stays open and
// only sends and receives, both measured in this run; how long a silent host holds a probe;
// how long a probe takes that no answer can come to (the network unreachable); and the CPU time
// a probe takes (the cpu column).

#include <arpa/inet.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/echo_packet.h"
#include "platform/linux/echo_socket.h"
#include "probe/send_echo.h"
#include "tests/support/netns.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
  double median_us = 0;
  double cpu_us = 0;  // CPU time of the probing thread per call, user and system
};
std::map<std::string, Figures> figures;

double ThreadCpuUs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// Per-call wall times, and the thread's CPU time over all calls.
class Samples {
 public:
  explicit Samples(std::size_t calls) : cpu_start_(ThreadCpuUs()) { times_.reserve(calls); }
  void Add(Clock::duration took) { times_.push_back(took); }

  void Report(benchmark::State& state, const std::string& name) {
    const double cpu = ThreadCpuUs() - cpu_start_;
    if (times_.empty()) return;
    auto middle = times_.begin() + static_cast<std::ptrdiff_t>(times_.size() / 2);
    std::nth_element(times_.begin(), middle, times_.end());
    Figures& f = figures[name];
    f.median_us = std::chrono::duration<double, std::micro>(*middle).count();
    f.cpu_us = cpu / static_cast<double>(times_.size());
    state.counters["median_us"] = f.median_us;
    state.counters["cpu_us"] = f.cpu_us;
    const auto [shortest, longest] = std::minmax_element(times_.begin(), times_.end());
    state.counters["min_us"] = std::chrono::duration<double, std::micro>(*shortest).count();
    state.counters["max_us"] = std::chrono::duration<double, std::micro>(*longest).count();
  }

 private:
  double cpu_start_;
  std::vector<Clock::duration> times_;
};

// Whether this run may make network namespaces; the benchmark's report says why when not.
bool NamespacesAllowed(benchmark::State& state) {
  const std::string why = korvi_test::NetnsUnavailable();
  if (!why.empty()) state.SkipWithError(("needs a network namespace: " + why).c_str());
  return why.empty();
}

// Where a benchmark runs. Argument 0: here, with whichever socket this user gets. Argument 1:
// the unprivileged datagram socket, in a namespace that admits every group (needs root).
class Place {
 public:
  explicit Place(benchmark::State& state) {
    if (state.range(0) == 0) return;
    ok_ = NamespacesAllowed(state);
    if (!ok_) return;
    ns_.emplace();
    ns_->LoopbackUp();
    ns_->AllowPingGroups();
    inside_.emplace(*ns_);
    platform::ForceIcmpSocketKind(platform::IcmpSocketKind::kDatagram);
  }
  ~Place() { platform::ForceIcmpSocketKind(platform::IcmpSocketKind::kAny); }
  bool ok() const { return ok_; }
  static std::string Name(const benchmark::State& state) {
    return state.range(0) == 0 ? "here" : "datagram";
  }

 private:
  bool ok_ = true;
  std::optional<korvi_test::NetNamespace> ns_;
  std::optional<korvi_test::EnterNetns> inside_;
};

// The socket kind the probe would get, opened once: datagram where allowed, else raw.
int OpenFloorSocket(bool& raw) {
  raw = false;
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) {
    raw = true;
    fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  }
  return fd;
}

bool AwaitAnswer(int fd, bool raw, const platform::icmp::Request& expected) {
  std::array<std::uint8_t, 1500> packet{};
  for (;;) {
    pollfd watched{fd, POLLIN, 0};
    if (poll(&watched, 1, 500) <= 0) return false;
    const ssize_t size = recv(fd, packet.data(), packet.size(), 0);
    if (size <= 0) continue;
    const std::span<const std::uint8_t> bytes(packet.data(), static_cast<std::size_t>(size));
    const auto verdict = raw ? platform::icmp::ParseRawPacket(bytes, expected)
                             : platform::icmp::ParseDatagram(bytes, expected.destination, expected);
    if (verdict.kind == platform::icmp::Verdict::Kind::kAnswer) return true;
  }
}

void BM_FloorPersistentSocket(benchmark::State& state) {
  const Place place(state);
  if (!place.ok()) return;
  bool raw = false;
  const int fd = OpenFloorSocket(raw);
  if (fd < 0) {
    state.SkipWithError("no ICMP socket may be opened by this user");
    return;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::uint8_t payload[] = {'k', 'u', 'y'};
  platform::icmp::Request expected{to.sin_addr.s_addr, static_cast<std::uint16_t>(getpid()), 0,
                                   raw};
  bool all_answered = true;
  Samples samples(static_cast<std::size_t>(state.max_iterations));
  for (auto _ : state) {
    const auto start = Clock::now();
    ++expected.sequence;
    const auto request =
        platform::icmp::EchoRequest(expected.identifier, expected.sequence, payload);
    sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    all_answered &= AwaitAnswer(fd, raw, expected);
    samples.Add(Clock::now() - start);
  }
  close(fd);
  if (!all_answered) state.SkipWithError("127.0.0.1 did not answer every request");
  samples.Report(state, "floor " + Place::Name(state));
}
BENCHMARK(BM_FloorPersistentSocket)->Arg(0)->Arg(1)->Iterations(3000);

// SendEcho to 127.0.0.1 once an iteration, reported as `name`; `failure` when any probe's
// status is not `expected`.
void TimeSendEcho(benchmark::State& state, std::int32_t expected, const char* failure,
                  const std::string& name) {
  bool all_expected = true;
  Samples samples(static_cast<std::size_t>(state.max_iterations));
  for (auto _ : state) {
    EchoReply reply;
    const auto start = Clock::now();
    all_expected &= Module1::SendEcho(L"127.0.0.1", L"kuy", reply) == expected;
    samples.Add(Clock::now() - start);
  }
  if (!all_expected) state.SkipWithError(failure);
  samples.Report(state, name);
}

void BM_SendEchoLoopback(benchmark::State& state) {
  const Place place(state);
  if (!place.ok()) return;
  TimeSendEcho(state, 0, "127.0.0.1 did not answer every probe", "SendEcho " + Place::Name(state));
}
BENCHMARK(BM_SendEchoLoopback)->Arg(0)->Arg(1)->Iterations(3000);

// Argument 0: SendEcho; argument 1: the floor, a socket that stays open and only sends and waits.
void BM_SilentHost(benchmark::State& state) {
  if (!NamespacesAllowed(state)) return;
  const korvi_test::NetNamespace ns;
  ns.LoopbackUp();
  ns.Sysctl("net.ipv4.icmp_echo_ignore_all", "1");
  const korvi_test::EnterNetns inside(ns);
  const bool floor = state.range(0) == 1;
  bool raw = false;
  const int fd = floor ? OpenFloorSocket(raw) : -1;
  if (floor && raw) {
    // Keeps the floor from waking for its own request, as the probe's socket does.
    const icmp_filter filter{~(1u << platform::icmp::kEchoReply)};
    setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::uint8_t payload[] = {'k', 'u', 'y'};
  const platform::icmp::Request expected{to.sin_addr.s_addr, 1, 1, raw};
  const auto request = platform::icmp::EchoRequest(1, 1, payload);
  bool all_silent = true;
  Samples samples(static_cast<std::size_t>(state.max_iterations));
  for (auto _ : state) {
    EchoReply reply;
    const auto start = Clock::now();
    if (floor) {
      sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      all_silent &= !AwaitAnswer(fd, raw, expected);
    } else {
      all_silent &= Module1::SendEcho(L"127.0.0.1", L"kuy", reply) == 11010;
    }
    samples.Add(Clock::now() - start);
  }
  if (fd >= 0) close(fd);
  if (!all_silent) state.SkipWithError("the silent host answered");
  samples.Report(state, floor ? "silent floor" : "silent");
}
BENCHMARK(BM_SilentHost)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(20)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Loopback down: the send itself fails, and the probe must say so without waiting for the
// time-out.
void BM_Unreachable(benchmark::State& state) {
  if (!NamespacesAllowed(state)) return;
  const korvi_test::NetNamespace ns;
  ns.AllowPingGroups();
  const korvi_test::EnterNetns inside(ns);
  TimeSendEcho(state, 11002, "a probe did not report the network unreachable", "unreachable");
}
BENCHMARK(BM_Unreachable)->Iterations(200);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const std::string place : {"here", "datagram"}) {
    const auto probe = figures.find("SendEcho " + place);
    const auto floor = figures.find("floor " + place);
    if (probe == figures.end() || floor == figures.end() || floor->second.median_us <= 0) continue;
    std::printf(
        "SendEcho on loopback (%s): median %.1f us, floor %.1f us, ratio %.2f (target <= 2); "
        "CPU %.1f us a probe, floor %.1f us\n",
        place.c_str(), probe->second.median_us, floor->second.median_us,
        probe->second.median_us / floor->second.median_us, probe->second.cpu_us,
        floor->second.cpu_us);
  }
  const auto silent = figures.find("silent");
  const auto silent_floor = figures.find("silent floor");
  if (silent != figures.end() && silent_floor != figures.end()) {
    std::printf(
        "silent host: median %.2f ms (target 500 to 502), floor %.2f ms; CPU %.1f us a probe, "
        "floor %.1f us\n",
        silent->second.median_us / 1000, silent_floor->second.median_us / 1000,
        silent->second.cpu_us, silent_floor->second.cpu_us);
  }
  const auto unreachable = figures.find("unreachable");
  const auto answered = figures.find("SendEcho here");
  if (unreachable != figures.end() && answered != figures.end() && answered->second.median_us > 0) {
    std::printf(
        "network unreachable: median %.1f us, %.2f times an answered probe (no wait for the "
        "500 ms time-out)\n",
        unreachable->second.median_us, unreachable->second.median_us / answered->second.median_us);
  }
  return 0;
}
