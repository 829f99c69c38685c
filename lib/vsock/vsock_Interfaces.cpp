// Interface listing and multicast membership of the slot layer.
//
// Interface number 0 is the first loopback interface that is up; number n >= 1 is the n-th Ethernet
// interface in interface-index order, whatever its state.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "vsock_Internal.h"
#include "vsock_Result.h"

namespace VSOCK {

namespace {

constexpr u32 MAX_INTERFACES = 256;

struct LinkInfo
{
    unsigned index;
    unsigned short hatype;
    unsigned flags;
    char name[IF_NAMESIZE];
};

// The interface name of an address entry without an alias label ("eth0:1" -> "eth0").
bool sameInterface(const char* entryName, const char* name)
{
    const size_t len = std::strlen(name);
    return std::strncmp(entryName, name, len) == 0 && (entryName[len] == '\0' || entryName[len] == ':');
}

u32 prefixLength(const u8* mask, u32 bytes)
{
    u32 bits = 0;
    for (u32 i = 0; i < bytes; ++i) {
        for (int b = 7; b >= 0; --b) {
            if ((mask[i] >> b) & 1) {
                ++bits;
            }
        }
    }
    return bits;
}

// Picks the numbered interface from the link entries of the list. 0 found, else a failure code.
i32 pickInterface(const ifaddrs* list, i32 number, LinkInfo* picked)
{
    LinkInfo links[MAX_INTERFACES];
    u32 count = 0;
    for (const ifaddrs* a = list; a != nullptr && count < MAX_INTERFACES; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_PACKET || a->ifa_name == nullptr) {
            continue;
        }
        const auto* ll = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
        LinkInfo& info = links[count++];
        info.index = static_cast<unsigned>(ll->sll_ifindex);
        info.hatype = ll->sll_hatype;
        info.flags = a->ifa_flags;
        std::strncpy(info.name, a->ifa_name, IF_NAMESIZE - 1);
        info.name[IF_NAMESIZE - 1] = '\0';
    }
    std::sort(links, links + count, [](const LinkInfo& x, const LinkInfo& y) { return x.index < y.index; });

    bool anyQualifies = false;
    i32 ethernetSeen = 0;
    for (u32 i = 0; i < count; ++i) {
        const LinkInfo& info = links[i];
        const bool loopback = (info.flags & IFF_LOOPBACK) != 0 && (info.flags & IFF_UP) != 0;
        const bool ethernet = info.hatype == ARPHRD_ETHER;
        if (loopback || ethernet) {
            anyQualifies = true;
        }
        if (number == 0 && loopback) {
            *picked = info;
            return VSOCK_OK;
        }
        if (number > 0 && ethernet && ++ethernetSeen == number) {
            *picked = info;
            return VSOCK_OK;
        }
    }
    return anyQualifies ? VSOCK_E_CLOSED : VSOCK_E_TEXT;
}

} // namespace

i32 findInterface(i32 number, unsigned* ifIndex, u32 ipv4[], u32 maxV4, u32* v4Count)
{
    *v4Count = 0;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return VSOCK_E_TEXT;
    }
    LinkInfo link;
    const i32 rc = pickInterface(list, number, &link);
    if (rc == VSOCK_OK) {
        *ifIndex = link.index;
        for (const ifaddrs* a = list; a != nullptr && *v4Count < maxV4; a = a->ifa_next) {
            if (a->ifa_addr != nullptr && a->ifa_addr->sa_family == AF_INET && sameInterface(a->ifa_name, link.name)) {
                const auto* sa = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
                std::memcpy(&ipv4[(*v4Count)++], &sa->sin_addr, 4);
            }
        }
    }
    ::freeifaddrs(list);
    return rc;
}

} // namespace VSOCK

using namespace VSOCK;

i32 vsockGetInterfaceAddresses(i32 interfaceNumber, u32 family, VsockInterfaceAddress* out, u32 maxCount)
{
    if (interfaceNumber < 0 || (family != 0 && family != VSOCK_FAMILY_IPV4 && family != VSOCK_FAMILY_IPV6) ||
        out == nullptr || maxCount == 0) {
        return VSOCK_E_ARG;
    }
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return VSOCK_E_TEXT;
    }
    LinkInfo link;
    const i32 rc = pickInterface(list, interfaceNumber, &link);
    if (rc != VSOCK_OK) {
        ::freeifaddrs(list);
        return rc;
    }
    u32 written = 0;
    for (int pass = 0; pass < 2; ++pass) {
        const int wanted = pass == 0 ? AF_INET : AF_INET6;
        if ((wanted == AF_INET && family == VSOCK_FAMILY_IPV6) || (wanted == AF_INET6 && family == VSOCK_FAMILY_IPV4)) {
            continue;
        }
        for (const ifaddrs* a = list; a != nullptr && written < maxCount; a = a->ifa_next) {
            if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != wanted || !sameInterface(a->ifa_name, link.name)) {
                continue;
            }
            VsockInterfaceAddress& entry = out[written++];
            std::memset(&entry, 0, sizeof(entry));
            if (wanted == AF_INET) {
                const auto* sa = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
                entry.address.family = VSOCK_FAMILY_IPV4;
                std::memcpy(entry.address.address, &sa->sin_addr, 4);
                if (a->ifa_netmask != nullptr) {
                    const auto* mask = reinterpret_cast<const sockaddr_in*>(a->ifa_netmask);
                    std::memcpy(&entry.mask, &mask->sin_addr, 4);
                }
            } else {
                const auto* sa = reinterpret_cast<const sockaddr_in6*>(a->ifa_addr);
                entry.address.family = VSOCK_FAMILY_IPV6;
                std::memcpy(entry.address.address, &sa->sin6_addr, 16);
                const bool linkLocal = sa->sin6_addr.s6_addr[0] == 0xFE && (sa->sin6_addr.s6_addr[1] & 0xC0) == 0x80;
                entry.address.scopeId = linkLocal ? sa->sin6_scope_id : 0;
                if (a->ifa_netmask != nullptr) {
                    const auto* mask = reinterpret_cast<const sockaddr_in6*>(a->ifa_netmask);
                    entry.mask = prefixLength(mask->sin6_addr.s6_addr, 16);
                }
            }
        }
    }
    ::freeifaddrs(list);
    return static_cast<i32>(written);
}

namespace {

// Sets one membership option on every open UDP slot bound to 0.0.0.0 or to an address of the interface.
i32 changeMembership(u32 interfaceNumber, const VsockAddress* group, int option)
{
    if (context().layerState.load(std::memory_order_acquire) != LAYER_RUNNING) {
        return VSOCK_E_OBJ;
    }
    if (group == nullptr || group->family != VSOCK_FAMILY_IPV4) {
        return VSOCK_E_ARG;
    }
    if (interfaceNumber > 0x7FFFFFFF) {
        return option == IP_ADD_MEMBERSHIP ? VSOCK_E_ARG : VSOCK_OK; // no such interface
    }
    unsigned ifIndex = 0;
    u32 addresses[10];
    u32 addressCount = 0;
    const i32 rc = findInterface(static_cast<i32>(interfaceNumber), &ifIndex, addresses, 10, &addressCount);
    if (rc != VSOCK_OK) {
        return option == IP_ADD_MEMBERSHIP ? rc : VSOCK_OK; // leaving ignores every failure
    }
    // Join and leave both name the interface by its index, so that a leave always drops the join.
    ip_mreqn request;
    std::memset(&request, 0, sizeof(request));
    std::memcpy(&request.imr_multiaddr, group->address, 4);
    request.imr_ifindex = static_cast<int>(ifIndex);

    Context& ctx = context();
    std::lock_guard<std::mutex> guard(ctx.lock);
    for (u32 s = 0; s < VSOCK_SLOT_COUNT; ++s) {
        const Slot& slot = ctx.slots[s];
        if (slot.state != SLOT_OPEN || slot.kind != KIND_UDP || slot.entry < 0 ||
            slot.params.local.address.family != VSOCK_FAMILY_IPV4) {
            continue;
        }
        u32 local = 0;
        std::memcpy(&local, slot.params.local.address.address, 4);
        bool selected = local == 0;
        for (u32 i = 0; i < addressCount && !selected; ++i) {
            selected = addresses[i] == local;
        }
        if (!selected) {
            continue;
        }
        const int fd = ctx.entries[slot.entry].fd;
        if (::setsockopt(fd, IPPROTO_IP, option, &request, sizeof(request)) != 0 && option == IP_ADD_MEMBERSHIP) {
            return mapErrno(errno);
        }
    }
    return VSOCK_OK;
}

} // namespace

i32 vsockJoinMulticastGroup(u32 interfaceNumber, const VsockAddress* group)
{
    return changeMembership(interfaceNumber, group, IP_ADD_MEMBERSHIP);
}

i32 vsockLeaveMulticastGroup(u32 interfaceNumber, const VsockAddress* group)
{
    // Best effort: an unknown interface, or a slot that never joined, is no failure.
    return changeMembership(interfaceNumber, group, IP_DROP_MEMBERSHIP);
}
