#include "vcom_SocketAddress.h"

#include <cstring>

#include "vcom_Result.h"

namespace VCOM {

VComSocketAddress::VComSocketAddress()
{
    clear();
}

VComSocketAddress::VComSocketAddress(const VsockAddress& address) : m_address(address) {}

VComSocketAddress::VComSocketAddress(u32 family, const char* text)
{
    clear();
    setAddress(family, text);
}

i32 VComSocketAddress::setAddress(u32 family, const char* text)
{
    VsockAddress parsed;
    if (vsockStringToAddress(family, text, &parsed) != VSOCK_OK) {
        return VCOM_E_FAILED;
    }
    m_address = parsed;
    return VCOM_OK;
}

void VComSocketAddress::setVsockAddress(const VsockAddress& address)
{
    m_address = address;
}

void VComSocketAddress::getVsockAddress(VsockAddress* out) const
{
    if (out != nullptr) {
        *out = m_address;
    }
}

void VComSocketAddress::clear()
{
    std::memset(&m_address, 0, sizeof(m_address));
}

i32 VComSocketAddress::getAddressBytes(u8* out, u32 size) const
{
    if (out == nullptr) {
        return VCOM_E_FAILED;
    }
    if (m_address.family == VSOCK_FAMILY_IPV4 && size >= 4) {
        std::memcpy(out, m_address.address, 4);
        return VCOM_OK;
    }
    if (m_address.family == VSOCK_FAMILY_IPV6 && size >= 16) {
        std::memcpy(out, m_address.address, 16);
        return VCOM_OK;
    }
    return VCOM_E_FAILED;
}

i32 VComSocketAddress::getAddressText(char* out, u32 size, u32* family) const
{
    if (family != nullptr) {
        *family = m_address.family;
    }
    return vsockAddressToString(&m_address, out, size);
}

bool VComSocketAddress::operator==(const VComSocketAddress& other) const
{
    return std::memcmp(&m_address, &other.m_address, sizeof(m_address)) == 0;
}

} // namespace VCOM
