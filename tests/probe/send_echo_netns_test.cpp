// Hosts that stay silent, refuse or cannot be reached, built in network namespaces that each
// test creates and that vanish with it. Creating them needs root; elsewhere these tests skip.

#include <grp.h>
#include <sched.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/echo_socket.h"
#include "probe/send_echo.h"
#include "tests/probe/probe_test_util.h"
#include "tests/support/child.h"
#include "tests/support/netns.h"

namespace {

using korvi_test::EnterNetns;
using korvi_test::NetNamespace;
using platform::IcmpSocketKind;
using probe_test::Addr;
using probe_test::DataArea;
using probe_test::ForcedKind;

constexpr IcmpSocketKind kBothKinds[] = {IcmpSocketKind::kRaw, IcmpSocketKind::kDatagram};

class Netns : public testing::Test {
 protected:
  void SetUp() override {
    const std::string why = korvi_test::NetnsUnavailable();
    if (!why.empty()) GTEST_SKIP() << "needs network namespaces: " << why;
  }
};

struct Outcome {
  std::int32_t status = -2;
  EchoReply reply;
};

Outcome Probe(const std::wstring& address, const std::wstring& payload = L"kuy") {
  Outcome outcome;
  outcome.status = Module1::SendEcho(address, payload, outcome.reply);
  return outcome;
}

// A namespace with nothing but loopback, which is silent or down: no answer can come, and the
// status says which way.
TEST_F(Netns, WithNoAnswerTheStatusSaysWhy) {
  struct Row {
    const char* name;
    bool loopback_up;
    std::int32_t status;
  };
  constexpr Row kRows[] = {{"silent loopback", true, 11010}, {"loopback down", false, 11002}};
  for (const Row& row : kRows) {
    NetNamespace ns;
    ns.AllowPingGroups();
    if (row.loopback_up) {
      ns.LoopbackUp();
      ns.Sysctl("net.ipv4.icmp_echo_ignore_all", "1");
    }
    for (const auto kind : kBothKinds) {
      SCOPED_TRACE(std::string(row.name) + ", " + probe_test::Name(kind));
      const ForcedKind forced(kind);
      const EnterNetns inside(ns);
      const Outcome outcome = Probe(L"127.0.0.1");
      EXPECT_EQ(outcome.status, row.status);
      EXPECT_EQ(outcome.reply.Data, DataArea(L""));
    }
  }
}

// How a far host treats echo requests: the nftables action (none: it answers) and the status
// a probe must report.
struct Behaviour {
  const char* name;
  const char* action;
  std::int32_t status;
};
constexpr Behaviour kAnswers{"answers", nullptr, 0};
constexpr Behaviour kHostUnreachable{"host unreachable", "reject with icmp type host-unreachable",
                                     11003};
constexpr Behaviour kPortUnreachable{"port unreachable", "reject with icmp type port-unreachable",
                                     11005};
constexpr Behaviour kNetUnreachable{"net unreachable", "reject with icmp type net-unreachable",
                                    11002};
constexpr Behaviour kProtUnreachable{"protocol unreachable",
                                     "reject with icmp type prot-unreachable", 11004};
constexpr Behaviour kSilent{"silent", "drop", 11010};

struct Far {
  std::string address;
  Behaviour behaviour;
  std::wstring Text() const { return std::wstring(address.begin(), address.end()); }
};

// The prober's namespace (10.200.1.1, where the probes run) linked by veth to a far side that
// holds one address per host to imitate.
class Lab {
 public:
  explicit Lab(const std::vector<Far>& hosts) {
    near_.LoopbackUp();
    near_.AllowPingGroups();
    far_.LoopbackUp();
    const auto link = korvi_test::ConnectVeth(near_, "10.200.1.1/24", far_, "10.200.1.2/24");
    std::string rules =
        "table ip korvi {\n chain input {\n"
        "  type filter hook input priority 0; policy accept;\n";
    for (const auto& host : hosts) {
      if (host.address != "10.200.1.2") {
        far_.Run({"ip", "address", "add", host.address + "/24", "dev", link.b_link});
      }
      if (host.behaviour.action != nullptr) {
        rules += "  ip daddr " + host.address + " icmp type echo-request " + host.behaviour.action +
                 "\n";
      }
    }
    far_.Run({"nft", "-f", "-"}, rules + " }\n}\n");
    // Errors are rate-limited otherwise (per peer, and for all peers together), and a burst
    // of probes would meet silence.
    far_.Sysctl("net.ipv4.icmp_ratelimit", "0");
    far_.Sysctl("net.ipv4.icmp_ratemask", "0");
  }

  const NetNamespace& near() const { return near_; }

 private:
  NetNamespace near_, far_;
};

// The status, the data area and the replying address that `host` must give a probe.
void ExpectOutcome(const Outcome& outcome, const Far& host, const std::wstring& payload) {
  EXPECT_EQ(outcome.status, host.behaviour.status);
  const bool answered = host.behaviour.status == 0;
  EXPECT_EQ(outcome.reply.Data, DataArea(answered ? payload : L""));
  if (host.behaviour.status != kSilent.status) {
    EXPECT_EQ(outcome.reply.Header.Address, Addr(host.address.c_str()));
  }
}

TEST_F(Netns, EachRefusalComesBackAsItsOwnStatus) {
  const std::vector<Far> hosts = {
      {"10.200.1.2", kAnswers},         {"10.200.1.3", kHostUnreachable},
      {"10.200.1.4", kPortUnreachable}, {"10.200.1.5", kNetUnreachable},
      {"10.200.1.6", kProtUnreachable}, {"10.200.1.7", kSilent},
  };
  const Lab lab(hosts);
  for (const auto kind : kBothKinds) {
    const ForcedKind forced(kind);
    const EnterNetns inside(lab.near());
    for (const auto& host : hosts) {
      SCOPED_TRACE(std::string(probe_test::Name(kind)) + ", " + host.address + " " +
                   host.behaviour.name);
      ExpectOutcome(Probe(host.Text()), host, L"kuy");
    }
    SCOPED_TRACE(probe_test::Name(kind));
    // No route at all from the prober's side: the send itself fails.
    const Outcome unroutable = Probe(L"10.200.2.1");
    EXPECT_EQ(unroutable.status, 11002);
  }
}

TEST_F(Netns, ThirtyProbesAtOnceEachGetTheirOwnAnswerOrError) {
  constexpr int kProbes = 30;
  constexpr Behaviour kCycle[] = {kAnswers, kHostUnreachable, kPortUnreachable, kSilent};
  std::vector<Far> hosts;
  for (int i = 0; i < kProbes; ++i) {
    hosts.push_back({"10.200.1." + std::to_string(10 + i), kCycle[i % 4]});
  }
  const Lab lab(hosts);
  for (const auto kind : kBothKinds) {
    SCOPED_TRACE(probe_test::Name(kind));
    const ForcedKind forced(kind);
    std::vector<Outcome> outcomes(kProbes);
    std::vector<std::string> failures(kProbes);
    std::latch start(kProbes);
    std::vector<std::thread> threads;
    for (int i = 0; i < kProbes; ++i) {
      threads.emplace_back([&, i] {
        bool arrived = false;
        try {
          const EnterNetns inside(lab.near());
          arrived = true;
          start.arrive_and_wait();
          outcomes[static_cast<std::size_t>(i)] =
              Probe(hosts[static_cast<std::size_t>(i)].Text(), L"kuy" + std::to_wstring(i));
        } catch (const std::exception& e) {
          failures[static_cast<std::size_t>(i)] = e.what();
          if (!arrived) start.count_down();
        }
      });
    }
    for (auto& thread : threads) thread.join();
    for (int i = 0; i < kProbes; ++i) {
      const auto& host = hosts[static_cast<std::size_t>(i)];
      SCOPED_TRACE(host.address + " " + host.behaviour.name);
      ASSERT_EQ(failures[static_cast<std::size_t>(i)], "");
      ExpectOutcome(outcomes[static_cast<std::size_t>(i)], host, L"kuy" + std::to_wstring(i));
    }
  }
}

// For good, in a forked child: no way back into the test's namespace or to root.
std::string BecomeNobodyIn(const NetNamespace& ns) {
  if (setns(ns.fd(), CLONE_NEWNET) != 0) return "cannot enter the namespace";
  if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
      setresuid(65534, 65534, 65534) != 0) {
    return "cannot become uid and gid 65534";
  }
  return "";
}

TEST_F(Netns, AnOrdinaryUserInAnAdmittedGroupGetsAnswersThroughTheDatagramSocket) {
  NetNamespace ns;
  ns.LoopbackUp();
  ns.AllowPingGroups("65534 65534");
  const auto result = korvi_test::RunInChild([&]() -> std::string {
    if (auto failed = BecomeNobodyIn(ns); !failed.empty()) return failed;
    const platform::IcmpHandle handle = platform::IcmpCreateFile();
    if (handle == 0) return "no ICMP socket opened";
    const IcmpSocketKind kind = platform::IcmpSocketKindOf(handle);
    platform::IcmpCloseHandle(handle);
    if (kind != IcmpSocketKind::kDatagram) return std::string("opened a ") + probe_test::Name(kind);
    EchoReply reply;
    const std::int32_t status = Module1::SendEcho(L"127.0.0.1", L"kuy", reply);
    if (status != 0) return "status " + std::to_string(status);
    if (reply.Data != DataArea(L"kuy")) return "the data area does not hold kuy";
    return "";
  });
  EXPECT_TRUE(result.ok()) << result.Describe();
}

TEST_F(Netns, AnOrdinaryUserWithoutPermissionGetsAGeneralFailureAndOneExplanation) {
  NetNamespace ns;  // a new namespace admits no group to unprivileged ICMP
  ns.LoopbackUp();
  const auto result = korvi_test::RunInChild([&]() -> std::string {
    if (auto failed = BecomeNobodyIn(ns); !failed.empty()) return failed;
    EchoReply reply;
    reply.Data = DataArea(L"untouched");
    if (Module1::SendEcho(L"localhost", L"kuy", reply) != -1) return "localhost parsed";
    std::fflush(stderr);
    std::fputs("--- after the unparsable address\n", stderr);
    for (int i = 0; i < 3; ++i) {
      const std::int32_t status = Module1::SendEcho(L"127.0.0.1", L"kuy", reply);
      if (status != 11050) return "status " + std::to_string(status);
      if (reply.Data != DataArea(L"untouched") || reply.Header.Status != 0) {
        return "the record was written";
      }
    }
    return "";
  });
  ASSERT_TRUE(result.ok()) << result.Describe();
  // Nothing was opened for the unparsable address, so nothing was explained before it.
  EXPECT_EQ(result.output.find("--- after the unparsable address\n"), 0u) << result.output;
  const auto count = [&](const std::string& text) {
    std::size_t n = 0;
    for (auto at = result.output.find(text); at != std::string::npos;
         at = result.output.find(text, at + 1)) {
      ++n;
    }
    return n;
  };
  EXPECT_EQ(count("cannot send ICMP echo requests"), 1u) << result.output;
  EXPECT_EQ(count("net.ipv4.ping_group_range \"1 0\""), 1u) << result.output;
  EXPECT_EQ(count("setcap cap_net_raw+ep "), 1u) << result.output;
  EXPECT_EQ(count("group 65534"), 1u) << result.output;
}

}  // namespace
