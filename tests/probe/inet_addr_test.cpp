#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "platform/echo.h"

namespace {

// Parsing only: none of these addresses is ever sent to.
TEST(InetAddr, ClassicRules) {
  struct Case {
    const char* text;
    const char* dotted;  // nullptr: rejected
  };
  const Case cases[] = {
      {"127.0.0.1", "127.0.0.1"},
      {"127.1", "127.0.0.1"},
      {"127.1.2", "127.1.0.2"},
      {"010.0.0.1", "8.0.0.1"},
      {"0x7f.1", "127.0.0.1"},
      {"0X7F.0.0.1", "127.0.0.1"},
      {"2130706433", "127.0.0.1"},
      {"1.65535", "1.0.255.255"},
      {"0", "0.0.0.0"},
      {"127.0.0.1 trailing words", "127.0.0.1"},  // a blank ends the address
      {"255.255.255.255", nullptr},               // equals the rejection value
      {"4294967295", nullptr},
      {"0xffffffff", nullptr},
      {"256.0.0.1", nullptr},
      {"127.0.0.256", nullptr},
      {"1.16777216", nullptr},
      {"4294967296", nullptr},
      {"99999999999999999999", nullptr},
      {"08.0.0.1", nullptr},
      {"1.2.3.4.5", nullptr},
      {"1..2", nullptr},
      {"1.", nullptr},
      {"0x", nullptr},
      {"", nullptr},
      {" 127.0.0.1", nullptr},
      {"127.0.0.1x", nullptr},
      {"-1", nullptr},
      {"localhost", nullptr},
  };
  for (const auto& c : cases) {
    in_addr expected{platform::kInaddrNone};
    if (c.dotted) {
      ASSERT_EQ(inet_pton(AF_INET, c.dotted, &expected), 1) << c.dotted;
    }
    EXPECT_EQ(platform::inet_addr(c.text), expected.s_addr) << '"' << c.text << '"';
  }
}

}  // namespace
