// Network adapters (getifaddrs and the kernel's route table) and IPv4 address text.

#include "os_Net.h"

#include "os_RouteTable.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <netpacket/packet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ossupport {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// A whole token of 1..8 hexadecimal digits.
bool parseHexWord(const std::string& token, u32& value)
{
    if (token.empty() || token.size() > 8) {
        return false;
    }
    value = 0;
    for (const char c : token) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) {
            return false;
        }
        value = (value << 4) | static_cast<u32>(digit);
    }
    return true;
}

} // namespace

void detail::readRouteTable(std::FILE* file, const std::function<void(const std::string&, u32)>& found)
{
    char* line = nullptr;
    size_t capacity = 0;
    bool header = true;
    for (ssize_t length; (length = ::getline(&line, &capacity, file)) >= 0;) {
        if (header || length > 511) {
            header = false;
            continue;
        }
        // The first four blank-separated tokens; a NUL ends the line.
        std::string tokens[4];
        size_t count = 0;
        const size_t end = ::strnlen(line, static_cast<size_t>(length));
        for (size_t at = 0; at < end && count < 4;) {
            while (at < end && isBlank(line[at])) {
                ++at;
            }
            const size_t start = at;
            while (at < end && !isBlank(line[at])) {
                ++at;
            }
            if (at > start) {
                tokens[count++].assign(line + start, at - start);
            }
        }
        u32 destination = 0;
        u32 gateway = 0;
        u32 flags = 0;
        if (count < 4 || tokens[0].size() >= IF_NAMESIZE || !parseHexWord(tokens[1], destination) ||
            !parseHexWord(tokens[2], gateway) || !parseHexWord(tokens[3], flags)) {
            continue;
        }
        if ((flags & RTF_GATEWAY) != 0 && gateway != 0) {
            found(tokens[0], ntohl(gateway));
        }
    }
    std::free(line);
}

namespace {

constexpr size_t MAX_NAME_BYTES = 511;
constexpr size_t MAX_MAC_BYTES = 32;

struct AdapterInfo
{
    u32 m_index = 0;
    std::string m_name;
    bool m_hasIp = false;
    u32 m_ip = 0;
    u32 m_mask = 0;
    u32 m_gateway = 0;
    u8 m_mac[MAX_MAC_BYTES] = {};
    u32 m_macLength = 0;
};

// The first gateway of every interface, from the kernel's route table.
void readGateways(std::vector<AdapterInfo>& adapters)
{
    FILE* file = std::fopen("/proc/net/route", "r");
    if (file == nullptr) {
        return;
    }
    detail::readRouteTable(file, [&](const std::string& name, u32 gateway) {
        for (AdapterInfo& adapter : adapters) {
            if (adapter.m_name == name && adapter.m_gateway == 0) {
                adapter.m_gateway = gateway;
            }
        }
    });
    std::fclose(file);
}

// The non-loopback interfaces in interface-index order; false when the list cannot be read.
bool readAdapters(std::vector<AdapterInfo>& adapters)
{
    adapters.clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return false;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr || (entry->ifa_flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        const u32 index = if_nametoindex(entry->ifa_name);
        const size_t nameLength = std::strlen(entry->ifa_name);
        if (index == 0 || nameLength == 0 || nameLength > MAX_NAME_BYTES) {
            continue;
        }
        auto found = std::find_if(adapters.begin(), adapters.end(),
                                  [index](const AdapterInfo& adapter) { return adapter.m_index == index; });
        if (found == adapters.end()) {
            AdapterInfo info;
            info.m_index = index;
            info.m_name = entry->ifa_name;
            adapters.push_back(info);
            found = adapters.end() - 1;
        }
        const sockaddr* address = entry->ifa_addr;
        if (address == nullptr) {
            continue;
        }
        if (address->sa_family == AF_INET && !found->m_hasIp) {
            found->m_hasIp = true;
            found->m_ip = ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
            if (entry->ifa_netmask != nullptr && entry->ifa_netmask->sa_family == AF_INET) {
                found->m_mask = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr);
            }
        } else if (address->sa_family == AF_PACKET && found->m_macLength == 0) {
            const auto* link = reinterpret_cast<const sockaddr_ll*>(address);
            const u32 length = std::min<u32>(link->sll_halen, static_cast<u32>(sizeof(link->sll_addr)));
            std::memcpy(found->m_mac, link->sll_addr, length);
            found->m_macLength = length;
        }
    }
    freeifaddrs(list);
    std::sort(adapters.begin(), adapters.end(),
              [](const AdapterInfo& a, const AdapterInfo& b) { return a.m_index < b.m_index; });
    readGateways(adapters);
    return true;
}

const AdapterInfo* findAdapter(const std::vector<AdapterInfo>& adapters, const char* adapterIndex)
{
    for (const AdapterInfo& adapter : adapters) {
        if (std::to_string(adapter.m_index) == adapterIndex) {
            return &adapter;
        }
    }
    return nullptr;
}

} // namespace

u32 listNetworkAdapters(std::vector<AdapterEntry>* out)
{
    if (out == nullptr) {
        return OS_E_FAILED;
    }
    out->clear();
    std::vector<AdapterInfo> adapters;
    if (!readAdapters(adapters)) {
        return OS_E_FAILED;
    }
    for (const AdapterInfo& adapter : adapters) {
        out->push_back(AdapterEntry{std::to_string(adapter.m_index), adapter.m_name});
    }
    return OS_OK;
}

u32 getNetworkAdapterAddress(const char* adapterIndex, bool* dhcpEnabled, u32* ip, u32* mask, u32* gateway)
{
    if (dhcpEnabled != nullptr) {
        *dhcpEnabled = false;
    }
    if (ip != nullptr) {
        *ip = 0;
    }
    if (mask != nullptr) {
        *mask = 0;
    }
    if (gateway != nullptr) {
        *gateway = 0;
    }
    if (adapterIndex == nullptr) {
        return OS_E_FAILED;
    }
    std::vector<AdapterInfo> adapters;
    if (!readAdapters(adapters)) {
        return OS_E_FAILED;
    }
    const AdapterInfo* adapter = findAdapter(adapters, adapterIndex);
    if (adapter == nullptr) {
        return OS_E_FAILED;
    }
    if (ip != nullptr) {
        *ip = adapter->m_ip;
    }
    if (mask != nullptr) {
        *mask = adapter->m_mask;
    }
    if (gateway != nullptr) {
        *gateway = adapter->m_gateway;
    }
    return OS_OK;
}

u32 getNetworkAdapterMacAddress(const char* adapterIndex, u8* mac, u32 size)
{
    if (adapterIndex == nullptr || mac == nullptr || size == 0) {
        return OS_E_FAILED;
    }
    std::vector<AdapterInfo> adapters;
    if (!readAdapters(adapters)) {
        return OS_E_FAILED;
    }
    const AdapterInfo* adapter = findAdapter(adapters, adapterIndex);
    if (adapter == nullptr) {
        return OS_E_FAILED;
    }
    std::memset(mac, 0, size);
    std::memcpy(mac, adapter->m_mac, std::min(size, adapter->m_macLength));
    return OS_OK;
}

u32 parseIPv4Address(u32* address, const char* text)
{
    u32 value = 0;
    bool valid = text != nullptr;
    const char* p = text;
    for (int part = 0; valid && part < 4; ++part) {
        if (part > 0) {
            if (*p != '.') {
                valid = false;
                break;
            }
            ++p;
        }
        if (*p < '0' || *p > '9') {
            valid = false;
            break;
        }
        // The number is bounded digit by digit, so a long digit run cannot wrap back into range.
        u32 number = 0;
        while (*p >= '0' && *p <= '9') {
            number = number * 10 + static_cast<u32>(*p - '0');
            if (number > 255) {
                valid = false;
                break;
            }
            ++p;
        }
        value = (value << 8) | number;
    }
    if (!valid) {
        value = 0;
    }
    if (address != nullptr) {
        *address = value;
    }
    return value;
}

u32 formatIPv4Address(const u32* address, std::string* out)
{
    if (address == nullptr || out == nullptr) {
        return OS_E_RANGE;
    }
    char text[16];
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", (*address >> 24) & 0xFFu, (*address >> 16) & 0xFFu,
                  (*address >> 8) & 0xFFu, *address & 0xFFu);
    *out = text;
    return OS_OK;
}

u32 setIPv4Address(u32* address, u32 value)
{
    if (address == nullptr) {
        return OS_E_RANGE;
    }
    *address = value;
    return OS_OK;
}

u32 clearIPv4Address(u32* address)
{
    if (address == nullptr) {
        return OS_E_RANGE;
    }
    *address = 0;
    return OS_OK;
}

} // namespace ossupport
