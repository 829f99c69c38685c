// IPv4 text, splitString and the network adapter list.

#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "os_RouteTable.h"
#include "os_Support.h"

using namespace ossupport;

TEST(OsIPv4, ParsesOnlyFourNumbersUpTo255)
{
    u32 address = 77;
    EXPECT_EQ(parseIPv4Address(&address, "10.0.0.1"), 0x0A000001u);
    EXPECT_EQ(address, 0x0A000001u);
    EXPECT_EQ(parseIPv4Address(nullptr, "255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(parseIPv4Address(nullptr, "192.168.1.20 trailing"), 0xC0A80114u);
    EXPECT_EQ(parseIPv4Address(nullptr, "001.002.003.004"), 0x01020304u);

    const char* refused[] = {"192.168.0.256", "4294967297.0.0.1", "1.2.3.4294967296", "256.0.0.0", "1.2.3", "1..2.3",
                             ".1.2.3",        "a.b.c.d",          "-1.2.3.4",         " 1.2.3.4",  "",      "1.2.3."};
    for (const char* text : refused) {
        address = 77;
        EXPECT_EQ(parseIPv4Address(&address, text), 0u) << text;
        EXPECT_EQ(address, 0u) << text;
    }
    address = 77;
    EXPECT_EQ(parseIPv4Address(&address, nullptr), 0u);
    EXPECT_EQ(address, 0u);
}

TEST(OsIPv4, FormatsAndRoundTrips)
{
    std::string text;
    const u32 value = 0x0A000001u;
    ASSERT_EQ(formatIPv4Address(&value, &text), 0u);
    EXPECT_EQ(text, "10.0.0.1");
    for (u32 sample : {0u, 0xFFFFFFFFu, 0xC0A80001u, 0x7F000001u, 0x01FF80FEu}) {
        ASSERT_EQ(formatIPv4Address(&sample, &text), 0u);
        EXPECT_EQ(parseIPv4Address(nullptr, text.c_str()), sample) << text;
    }
}

TEST(OsText, SplitsAtEveryDelimiter)
{
    using Pieces = std::vector<std::string>;
    auto split = [](const std::string& text, const std::string& delimiter, bool skipEmpty) {
        Pieces out;
        EXPECT_EQ(splitString(&out, text, delimiter, skipEmpty), 0u);
        return out;
    };
    EXPECT_EQ(split("a,,b", ",", false), (Pieces{"a", "", "b"}));
    EXPECT_EQ(split("a,,b", ",", true), (Pieces{"a", "b"}));
    EXPECT_EQ(split("a,", ",", false), (Pieces{"a", ""}));
    EXPECT_EQ(split(",a", ",", false), (Pieces{"", "a"}));
    EXPECT_EQ(split("", ",", false), (Pieces{""}));
    EXPECT_EQ(split("", ",", true), (Pieces{}));
    // Multi-character delimiters are matched left to right without overlap.
    EXPECT_EQ(split("x::y:::z", "::", false), (Pieces{"x", "y", ":z"}));
    EXPECT_EQ(split("aaaa", "aa", false), (Pieces{"", "", ""}));
    // An empty delimiter keeps the text whole.
    EXPECT_EQ(split("a,b", "", false), (Pieces{"a,b"}));
    EXPECT_EQ(split("", "", false), (Pieces{""}));
    EXPECT_EQ(split("", "", true), (Pieces{}));

    Pieces kept{"first"};
    ASSERT_EQ(splitString(&kept, "p_q", "_", false), 0u);
    EXPECT_EQ(kept, (Pieces{"first", "p", "q"}));
}

namespace {

struct SysAdapter
{
    std::string m_name;
    std::vector<u8> m_mac;
};

std::string readLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The kernel's own view: non-loopback interfaces by index, with their hardware addresses.
std::map<u32, SysAdapter> sysAdapters()
{
    std::map<u32, SysAdapter> out;
    DIR* dir = opendir("/sys/class/net");
    if (dir == nullptr) {
        return out;
    }
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        const std::string base = "/sys/class/net/" + name + "/";
        const unsigned long flags = std::stoul(readLine(base + "flags"), nullptr, 16);
        if ((flags & 0x8) != 0) { // loopback
            continue;
        }
        SysAdapter adapter;
        adapter.m_name = name;
        const std::string address = readLine(base + "address");
        for (size_t i = 0; i + 1 < address.size() + 1; i += 3) {
            adapter.m_mac.push_back(static_cast<u8>(std::stoul(address.substr(i, 2), nullptr, 16)));
        }
        out[static_cast<u32>(std::stoul(readLine(base + "ifindex")))] = adapter;
    }
    closedir(dir);
    return out;
}

} // namespace

// The route table reader takes gateway routes only from lines whose first four tokens are whole: a name too long
// for an interface, a word that is not hexadecimal or a line over 511 bytes is passed over.
TEST(OsRouteTable, TakesOnlyWholeGatewayRoutes)
{
    const std::string text = "Iface Destination Gateway Flags\n"
                             "eth0 00000000 0102A8C0 0003 0 0 100\n" // gateway 192.168.2.1
                             "eth0 0002A8C0 00000000 0001 0 0 100\n" // no gateway
                             "eth1 00000000 0102A8C0 0001 0 0 100\n" // no gateway flag
                             "averyveryverylongname 0 0102A8C0 3\n"  // longer than an interface name
                             "eth2 00000000 0102A8C0Z 0003\n"        // not a hexadecimal word
                             "eth3 00000000 10102A8C0 0003\n"        // more than 8 digits
                             "eth4 00000000 0101000A 0003 " +
                             std::string(500, '0') + "\n" +
                             "wlan0\t00000000\t0101000A\t0003"; // 10.0.1.1, last line without newline
    std::FILE* file = ::fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    ASSERT_NE(file, nullptr);
    std::vector<std::pair<std::string, u32>> routes;
    ossupport::detail::readRouteTable(
        file, [&](const std::string& name, u32 gateway) { routes.emplace_back(name, gateway); });
    std::fclose(file);
    EXPECT_EQ(routes, (std::vector<std::pair<std::string, u32>>{{"eth0", 0xC0A80201u}, {"wlan0", 0x0A000101u}}));
}

TEST(OsAdapters, ListAgreesWithTheKernel)
{
    std::vector<AdapterEntry> list{{"stale", "entry"}};
    ASSERT_EQ(listNetworkAdapters(&list), 0u);
    const std::map<u32, SysAdapter> expected = sysAdapters();
    ASSERT_EQ(list.size(), expected.size());
    auto next = expected.begin();
    for (const AdapterEntry& entry : list) {
        EXPECT_EQ(entry.m_index, std::to_string(next->first));
        EXPECT_EQ(entry.m_name, next->second.m_name);
        ++next;
    }
    if (list.empty()) {
        GTEST_SKIP() << "no network adapter besides loopback";
    }

    for (const auto& [index, adapter] : expected) {
        const std::string text = std::to_string(index);
        u8 mac[8];
        std::memset(mac, 0xAA, sizeof(mac));
        ASSERT_EQ(getNetworkAdapterMacAddress(text.c_str(), mac, sizeof(mac)), 0u) << adapter.m_name;
        ASSERT_LE(adapter.m_mac.size(), 8u);
        for (size_t i = 0; i < 8; ++i) {
            const u8 want = i < adapter.m_mac.size() ? adapter.m_mac[i] : 0;
            EXPECT_EQ(mac[i], want) << adapter.m_name << " byte " << i;
        }
        u8 two[2] = {0xAA, 0xAA};
        ASSERT_EQ(getNetworkAdapterMacAddress(text.c_str(), two, 2), 0u);
        EXPECT_EQ(two[0], adapter.m_mac.empty() ? 0 : adapter.m_mac[0]);

        bool dhcp = true;
        u32 ip = 1, mask = 1, gateway = 1;
        ASSERT_EQ(getNetworkAdapterAddress(text.c_str(), &dhcp, &ip, &mask, &gateway), 0u);
        EXPECT_FALSE(dhcp);
        if (ip != 0) {
            // A contiguous mask, and a gateway inside the adapter's own subnet.
            EXPECT_EQ(~mask & (~mask + 1), 0u) << std::hex << mask;
            if (gateway != 0) {
                EXPECT_EQ(gateway & mask, ip & mask) << adapter.m_name;
            }
        }

        // Index texts are compared byte for byte.
        const std::string padded = "0" + text;
        ip = mask = gateway = 5;
        dhcp = true;
        EXPECT_EQ(getNetworkAdapterAddress(padded.c_str(), &dhcp, &ip, &mask, &gateway), 0x80000000u);
        EXPECT_EQ(ip | mask | gateway, 0u);
        EXPECT_FALSE(dhcp);
        EXPECT_EQ(getNetworkAdapterMacAddress(padded.c_str(), mac, sizeof(mac)), 0x80000000u);
    }
}
