#include "vdp_PacketContainer.h"

#include <algorithm>
#include <memory>
#include <new>

#include "klib_Codec.h"
#include "os_Text.h"
#include "vdp_Result.h"

namespace VDProtocol {

namespace {

bool kvariantFailed(u32 result)
{
    return (result & 0x80000000u) != 0;
}

} // namespace

// ----- ArgumentMap -----

template <typename Store> i32 ArgumentMap::insertWith(std::string_view name, Store&& store)
{
    const auto it = m_entries.lower_bound(name);
    if (it != m_entries.end() && it->first == name) {
        return RESULT_OK; // the first value of a name wins
    }
    const auto inserted = m_entries.emplace_hint(it, std::string(name), KVariant());
    if (!store(inserted->second)) {
        m_entries.erase(inserted);
        return RESULT_NG;
    }
    return RESULT_OK;
}

i32 ArgumentMap::setInt(std::string_view name, i32 value)
{
    if (name.empty()) {
        return RESULT_NG;
    }
    return insertWith(name, [&](KVariant& slot) { return !kvariantFailed(slot.setInt(value)); });
}

i32 ArgumentMap::setUInt(std::string_view name, u32 value)
{
    if (name.empty()) {
        return RESULT_NG;
    }
    return insertWith(name, [&](KVariant& slot) { return !kvariantFailed(slot.setUInt(value)); });
}

i32 ArgumentMap::setFloat(std::string_view name, f32 value)
{
    if (name.empty()) {
        return RESULT_NG;
    }
    return insertWith(name, [&](KVariant& slot) { return !kvariantFailed(slot.setFloat(value)); });
}

i32 ArgumentMap::setString(std::string_view name, const std::string& text)
{
    // The length plus one lets KVariant see the whole text, so an over-long one is refused, never cut.
    const u32 limit = static_cast<u32>(std::min<size_t>(text.size() + 1, KVariant::MAX_STRING_LENGTH + 2));
    return insertWith(name, [&](KVariant& slot) { return !kvariantFailed(slot.setString(text.c_str(), limit)); });
}

i32 ArgumentMap::setString(std::string_view name, const char* text, u32 maxLength)
{
    if (name.empty()) {
        return RESULT_NG;
    }
    return insertWith(name, [&](KVariant& slot) { return !kvariantFailed(slot.setString(text, maxLength)); });
}

i32 ArgumentMap::setBinary(std::string_view name, const void* data, u32 size)
{
    if (name.empty() || data == nullptr || size == 0) {
        return RESULT_NG;
    }
    return insertWith(name, [&](KVariant& slot) { return !kvariantFailed(slot.setBinary(data, size)); });
}

i32 ArgumentMap::setBinaryFromBase64(std::string_view name, const char* text, u32 length)
{
    if (name.empty() || text == nullptr || length == 0) {
        return RESULT_NG;
    }
    if (contains(name)) {
        return RESULT_OK;
    }
    // Four characters decode to at most three bytes.
    const u32 capacity = length / 4 * 3 + 3;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[capacity]);
    if (!buffer) {
        return RESULT_NG;
    }
    u32 decoded = 0;
    if (kvariantFailed(klib_base64Decode(buffer.get(), &decoded, capacity, text, length)) || decoded == 0) {
        return RESULT_NG;
    }
    return setBinary(name, buffer.get(), decoded);
}

i32 ArgumentMap::setVariant(std::string_view name, const KVariant& value)
{
    if (name.empty()) {
        return RESULT_NG;
    }
    // A copy that could not take its text or bytes (no memory) comes out empty.
    return insertWith(name, [&](KVariant& slot) {
        slot = value;
        return slot.getKind() == value.getKind();
    });
}

const KVariant* ArgumentMap::find(std::string_view name) const
{
    const auto it = m_entries.find(name);
    return it != m_entries.end() ? &it->second : nullptr;
}

namespace {

template <typename T, typename Get> T readValue(const KVariant* value, bool* ok, T neutral, Get get)
{
    if (value == nullptr) {
        if (ok != nullptr) {
            *ok = false;
        }
        return neutral;
    }
    return get(*value, ok);
}

} // namespace

i32 ArgumentMap::getInt(std::string_view name, bool* ok) const
{
    return readValue<i32>(find(name), ok, 0, [](const KVariant& v, bool* flag) { return v.getInt(flag); });
}

f32 ArgumentMap::getFloat(std::string_view name, bool* ok) const
{
    return readValue<f32>(find(name), ok, 0.0f, [](const KVariant& v, bool* flag) { return v.getFloat(flag); });
}

const char* ArgumentMap::getString(std::string_view name, bool* ok) const
{
    return readValue<const char*>(find(name), ok, nullptr,
                                  [](const KVariant& v, bool* flag) { return v.getString(flag); });
}

const void* ArgumentMap::getBinary(std::string_view name, bool* ok) const
{
    return readValue<const void*>(find(name), ok, nullptr,
                                  [](const KVariant& v, bool* flag) { return v.getBinary(flag); });
}

u32 ArgumentMap::getBinarySize(std::string_view name, bool* ok) const
{
    return readValue<u32>(find(name), ok, 0, [](const KVariant& v, bool* flag) { return v.getBinarySize(flag); });
}

std::string ArgumentMap::getBase64(std::string_view name, bool* ok) const
{
    const KVariant* value = find(name);
    if (value == nullptr) {
        if (ok != nullptr) {
            *ok = false;
        }
        return std::string();
    }
    return binaryToBase64(*value, ok);
}

KVariant ArgumentMap::getVariant(std::string_view name, bool* ok) const
{
    const KVariant* value = find(name);
    if (ok != nullptr) {
        *ok = value != nullptr;
    }
    return value != nullptr ? KVariant(*value) : KVariant();
}

u32 ArgumentMap::getKind(std::string_view name) const
{
    const KVariant* value = find(name);
    return value != nullptr ? value->getKind() : KVariant::KIND_EMPTY;
}

std::vector<std::string> ArgumentMap::getNames() const
{
    std::vector<std::string> names;
    names.reserve(m_entries.size());
    for (const auto& entry : m_entries) {
        names.push_back(entry.first);
    }
    return names;
}

std::string binaryToBase64(const KVariant& value, bool* ok)
{
    if (ok != nullptr) {
        *ok = false;
    }
    bool present = false;
    const auto* bytes = static_cast<const unsigned char*>(value.getBinary(&present));
    const u32 size = value.getBinarySize();
    if (!present || bytes == nullptr || size == 0) {
        return std::string();
    }
    const u32 encodedSize = klib_base64EncodedSize(bytes, size); // text and NUL
    if (encodedSize == 0) {
        return std::string();
    }
    std::string text(encodedSize, '\0');
    u32 length = 0;
    if (kvariantFailed(klib_base64Encode(text.data(), &length, encodedSize, bytes, size))) {
        return std::string();
    }
    text.resize(encodedSize - 1);
    if (ok != nullptr) {
        *ok = true;
    }
    return text;
}

// ----- PacketContainer -----

i32 PacketContainer::clear()
{
    m_type.clear();
    m_from.clear();
    m_to.clear();
    m_reqId.clear();
    m_command.clear();
    m_cmdInfo.clear();
    m_hasResult = false;
    m_result = 0;
    m_progress = 0;
    m_message.clear();
    m_info.clear();
    m_list.clear();
    return RESULT_OK;
}

i32 PacketContainer::set(const char* type, const char* cmd, const char* from, const char* to, const char* reqId)
{
    clear();
    m_type = type != nullptr ? type : "";
    m_from = from != nullptr ? from : "";
    m_to = to != nullptr ? to : "";
    m_reqId = reqId != nullptr ? reqId : "";
    if (m_type == "abort") {
        return 1;
    }
    return parseCommand(cmd != nullptr ? cmd : "");
}

i32 PacketContainer::parseCommand(const std::string& cmd)
{
    std::vector<std::string> parts;
    ossupport::splitString(&parts, cmd, "_", false);
    if (parts.size() < 2) {
        return RESULT_NG;
    }
    m_command = parts[0];
    m_cmdInfo.clear();
    for (size_t i = 1; i < parts.size(); ++i) {
        if (!m_cmdInfo.empty()) {
            m_cmdInfo += '_';
        }
        m_cmdInfo += parts[i];
    }
    return RESULT_OK;
}

std::string PacketContainer::getCommandText() const
{
    if (m_cmdInfo.empty()) {
        return std::string();
    }
    if (m_command.empty()) {
        return m_cmdInfo;
    }
    std::string text;
    text.reserve(m_command.size() + 1 + m_cmdInfo.size());
    text += m_command;
    text += '_';
    text += m_cmdInfo;
    return text;
}

i32 PacketContainer::setResult(i32 result, u32 progress, const std::string& message)
{
    m_hasResult = true;
    m_result = result;
    m_progress = progress > 100 ? 100 : progress;
    m_message = message;
    return RESULT_OK;
}

i32 PacketContainer::setType(const std::string& type)
{
    m_type = type;
    return RESULT_OK;
}

i32 PacketContainer::setFrom(const std::string& from)
{
    m_from = from;
    return RESULT_OK;
}

i32 PacketContainer::setTo(const std::string& to)
{
    m_to = to;
    return RESULT_OK;
}

i32 PacketContainer::setCmdInfo(const std::string& cmdInfo)
{
    m_cmdInfo = cmdInfo;
    return RESULT_OK;
}

std::string PacketContainer::getProgressText() const
{
    // Printed as "%d" prints it; the stored progress never exceeds 100 through setResult.
    return std::to_string(static_cast<i32>(m_progress));
}

std::string PacketContainer::getResultName() const
{
    return VDProtocol::getResultName(m_result);
}

} // namespace VDProtocol
