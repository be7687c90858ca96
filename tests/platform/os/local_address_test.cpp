#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "local_address.h"

// Whatever the machine has, the answer is empty or one usable IPv4 address in
// dotted form, never a loopback one (which the window must not advertise).
TEST(FirstLocalIPv4, DottedQuadAndNotLoopback) {
    const std::string ip = os::firstLocalIPv4();
    if (ip.empty())
        GTEST_SKIP() << "no non-loopback IPv4 interface on this machine";
    in_addr a{};
    ASSERT_EQ(inet_pton(AF_INET, ip.c_str(), &a), 1) << ip;
    EXPECT_NE(ntohl(a.s_addr) >> 24, 127u) << ip;
    char back[INET_ADDRSTRLEN];
    ASSERT_NE(inet_ntop(AF_INET, &a, back, sizeof back), nullptr);
    EXPECT_EQ(ip, back); // canonical form, no padding or stray text
}
