// Address texts and the interface listing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "vsock_Socket.h"

namespace {

constexpr i32 TEXT_FAILED = static_cast<i32>(0x80000000u);

std::string roundTrip(u32 family, const char* text)
{
    VsockAddress a{};
    if (vsockStringToAddress(family, text, &a) != VSOCK_OK) {
        return "<rejected>";
    }
    char out[64];
    if (vsockAddressToString(&a, out, sizeof(out)) != VSOCK_OK) {
        return "<unwritable>";
    }
    return out;
}

} // namespace

TEST(VsockAddressText, StrictDottedIPv4)
{
    EXPECT_EQ(roundTrip(4, "0.0.0.0"), "0.0.0.0");
    EXPECT_EQ(roundTrip(4, "255.255.255.255"), "255.255.255.255");
    EXPECT_EQ(roundTrip(4, "10.0.100.9"), "10.0.100.9");
    for (const char* bad : {"192.168.001.1", "256.1.1.1", "1.2.3", "1.2.3.4.5", "1.2.3.4 ", " 1.2.3.4", "1..2.3",
                            "1.2.3.-4", "a.b.c.d", "", "1.2.3.4/8", "1.2.3.0004", "01.2.3.4"}) {
        VsockAddress a{};
        EXPECT_EQ(vsockStringToAddress(4, bad, &a), TEXT_FAILED) << bad;
    }
    VsockAddress a{};
    ASSERT_EQ(vsockStringToAddress(4, "192.168.0.10", &a), VSOCK_OK);
    EXPECT_EQ(a.family, 4u);
    EXPECT_EQ(a.address[0], 192);
    EXPECT_EQ(a.address[3], 10);
    EXPECT_EQ(a.scopeId, 0u);
    EXPECT_EQ(vsockStringToAddress(4, "::1", &a), TEXT_FAILED);
    EXPECT_EQ(vsockStringToAddress(6, "1.2.3.4", &a), TEXT_FAILED);
    EXPECT_EQ(vsockStringToAddress(5, "1.2.3.4", &a), VSOCK_E_ARG);
    EXPECT_EQ(vsockStringToAddress(4, nullptr, &a), VSOCK_E_ARG);
    EXPECT_EQ(vsockStringToAddress(4, "1.2.3.4", nullptr), VSOCK_E_ARG);
}

TEST(VsockAddressText, CanonicalIPv6Output)
{
    EXPECT_EQ(roundTrip(6, "::ffff:10.0.0.1"), "::FFFF:10.0.0.1");
    EXPECT_EQ(roundTrip(6, "2001:db8::1"), "2001:DB8::1");
    EXPECT_EQ(roundTrip(6, "::"), "::");
    EXPECT_EQ(roundTrip(6, "::1"), "::1");
    EXPECT_EQ(roundTrip(6, "fe80::"), "FE80::");
    // The longest zero run is compressed, the first of equal runs, and never a single group.
    EXPECT_EQ(roundTrip(6, "1:0:0:2:0:0:0:3"), "1:0:0:2::3");
    EXPECT_EQ(roundTrip(6, "1:0:0:2:0:0:3:4"), "1::2:0:0:3:4");
    EXPECT_EQ(roundTrip(6, "1:0:2:3:4:5:6:7"), "1:0:2:3:4:5:6:7");
    EXPECT_EQ(roundTrip(6, "0001:00AB:0:0:0:0:0:0"), "1:AB::");
    EXPECT_EQ(roundTrip(6, "1:2:3:4:5:6:1.2.3.4"), "1:2:3:4:5:6:102:304");
    EXPECT_EQ(roundTrip(6, "1::2::3"), "<rejected>");
    EXPECT_EQ(roundTrip(6, "12345::"), "<rejected>");
}

TEST(VsockAddressText, OutputThatDoesNotFitFails)
{
    VsockAddress a{};
    ASSERT_EQ(vsockStringToAddress(4, "192.168.100.200", &a), VSOCK_OK);
    char out[16];
    std::memset(out, 'x', sizeof(out));
    EXPECT_EQ(vsockAddressToString(&a, out, 15), TEXT_FAILED); // 15 characters need 16 bytes
    EXPECT_EQ(out[15], 'x');                                   // nothing written past the size
    EXPECT_EQ(vsockAddressToString(&a, out, 16), VSOCK_OK);
    EXPECT_STREQ(out, "192.168.100.200");
    ASSERT_EQ(vsockStringToAddress(6, "::ffff:10.0.0.1", &a), VSOCK_OK);
    EXPECT_EQ(vsockAddressToString(&a, out, 15), TEXT_FAILED);
    EXPECT_EQ(vsockAddressToString(&a, out, 16), VSOCK_OK);
    EXPECT_EQ(vsockAddressToString(&a, out, 0), VSOCK_E_ARG);
    EXPECT_EQ(vsockAddressToString(nullptr, out, 16), VSOCK_E_ARG);
    a.family = 0;
    EXPECT_EQ(vsockAddressToString(&a, out, 16), VSOCK_E_ARG);
}

TEST(VsockInterfaces, LoopbackIsInterfaceZero)
{
    VsockInterfaceAddress list[16];
    const i32 n = vsockGetInterfaceAddresses(0, 4, list, 16);
    ASSERT_GE(n, 1);
    bool sawLoopback = false;
    for (i32 i = 0; i < n; ++i) {
        EXPECT_EQ(list[i].address.family, 4u);
        if (list[i].address.address[0] == 127 && list[i].address.address[3] == 1) {
            sawLoopback = true;
            const u8 mask[4] = {255, 0, 0, 0};
            EXPECT_EQ(std::memcmp(&list[i].mask, mask, 4), 0); // network order
        }
    }
    EXPECT_TRUE(sawLoopback);
    // IPv4 entries come before IPv6 ones; the count bounds the output.
    const i32 both = vsockGetInterfaceAddresses(0, 0, list, 16);
    ASSERT_GE(both, n);
    for (i32 i = 0; i < both; ++i) {
        EXPECT_EQ(list[i].address.family, i < n ? 4u : 6u);
        if (list[i].address.family == 6) {
            EXPECT_EQ(list[i].mask, 128u); // ::1/128
        }
    }
    EXPECT_EQ(vsockGetInterfaceAddresses(0, 4, list, 1), 1);

    EXPECT_EQ(vsockGetInterfaceAddresses(-1, 4, list, 16), VSOCK_E_ARG);
    EXPECT_EQ(vsockGetInterfaceAddresses(0, 5, list, 16), VSOCK_E_ARG);
    EXPECT_EQ(vsockGetInterfaceAddresses(0, 4, nullptr, 16), VSOCK_E_ARG);
    EXPECT_EQ(vsockGetInterfaceAddresses(0, 4, list, 0), VSOCK_E_ARG);
    EXPECT_EQ(vsockGetInterfaceAddresses(1000, 4, list, 16), VSOCK_E_CLOSED);
}
