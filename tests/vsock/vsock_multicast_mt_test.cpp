// Multicast membership on the loopback interface: join, delivery, the kernel's group list, and leave.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "vsock_TestSupport.h"

using namespace vsocktest;

namespace {

// Devices of /proc/net/igmp that list the group (given in network order).
std::vector<std::string> devicesWithGroup(const u8 group[4])
{
    char wanted[9];
    u32 raw = 0;
    std::memcpy(&raw, group, 4);
    std::snprintf(wanted, sizeof(wanted), "%08X", raw); // the file prints the address word as stored
    std::vector<std::string> devices;
    std::ifstream in("/proc/net/igmp");
    std::string line;
    std::string device;
    while (std::getline(in, line)) {
        if (line.empty()) {
            continue;
        }
        if (line[0] != '\t' && line[0] != ' ') {
            char name[32] = "";
            int index = 0;
            if (std::sscanf(line.c_str(), "%d %31s", &index, name) == 2) {
                device = name;
            }
            continue;
        }
        char address[16] = "";
        if (std::sscanf(line.c_str(), " %15s", address) == 1 && wanted == std::string(address)) {
            devices.push_back(device);
        }
    }
    return devices;
}

int multicastSender()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    in_addr loop{};
    loop.s_addr = htonl(INADDR_LOOPBACK);
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &loop, sizeof(loop));
    const u8 ttl = 0; // never leaves the host
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof(ttl));
    const u8 on = 1;
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &on, sizeof(on));
    return fd;
}

bool sendToGroup(int fd, const u8 group[4], u16 port, const std::vector<u8>& data)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    std::memcpy(&sa.sin_addr, group, 4);
    return sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) ==
           static_cast<ssize_t>(data.size());
}

class VsockMulticast : public VsockTest
{
};

} // namespace

TEST_F(VsockMulticast, JoinDeliversOnLoopbackOnlyAndLeaveDropsTheMembership)
{
    // A group of the administratively scoped range, distinct per process.
    const u32 pid = static_cast<u32>(getpid());
    VsockAddress group{};
    group.family = VSOCK_FAMILY_IPV4;
    group.address[0] = 239;
    group.address[1] = 255;
    group.address[2] = static_cast<u8>(1 + (pid >> 8) % 250);
    group.address[3] = static_cast<u8>(1 + pid % 250);

    u16 rawPort = 0;
    const int raw = rawUdp(&rawPort);
    const VsockOpenParams p = openParams(VSOCK_TYPE_UDP, anyAddress(0));
    const VsockOptions o = recordingOptions();
    const i32 slot = vsockOpen(&p, &o);
    ASSERT_GE(slot, 0);
    const u16 port = bindBySending(slot, raw, rawPort); // bound to 0.0.0.0:<ephemeral>
    ASSERT_NE(port, 0);

    ASSERT_EQ(vsockJoinMulticastGroup(0, &group), VSOCK_OK);
    const std::vector<std::string> joined = devicesWithGroup(group.address);
    ASSERT_EQ(joined.size(), 1u);
    EXPECT_EQ(joined[0], "lo");

    const int sender = multicastSender();
    const std::vector<u8> payload = pattern(200, 5);
    ASSERT_TRUE(sendToGroup(sender, group.address, port, payload));
    VsockEvent ev{};
    ASSERT_TRUE(waitEvent(slot, VSOCK_EVENT_DATAGRAM, &ev, 3000));
    EXPECT_EQ(ev.result, 200);
    std::vector<u8> buffer(2048);
    ASSERT_EQ(vsockRecvFrom(slot, buffer.data(), static_cast<u32>(buffer.size()), nullptr), 200);
    buffer.resize(200);
    EXPECT_EQ(buffer, payload);

    ASSERT_EQ(vsockLeaveMulticastGroup(0, &group), VSOCK_OK);
    EXPECT_TRUE(devicesWithGroup(group.address).empty());
    ASSERT_TRUE(sendToGroup(sender, group.address, port, payload));
    EXPECT_FALSE(waitEvent(slot, VSOCK_EVENT_DATAGRAM, &ev, 300));

    VsockAddress v6{};
    v6.family = VSOCK_FAMILY_IPV6;
    EXPECT_EQ(vsockJoinMulticastGroup(0, &v6), VSOCK_E_ARG);
    EXPECT_EQ(vsockJoinMulticastGroup(0, nullptr), VSOCK_E_ARG);
    EXPECT_EQ(vsockJoinMulticastGroup(1000, &group), VSOCK_E_CLOSED);
    // Leaving is best effort: a group left already, or an unknown interface, still answers 0.
    EXPECT_EQ(vsockLeaveMulticastGroup(0, &group), VSOCK_OK);
    EXPECT_EQ(vsockLeaveMulticastGroup(1000, &group), VSOCK_OK);
    EXPECT_EQ(vsockLeaveMulticastGroup(0, &v6), VSOCK_E_ARG);
    closeFd(sender);
    closeFd(raw);
}
