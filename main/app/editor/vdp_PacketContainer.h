// One editor-link packet in memory and its named arguments.
//
// ArgumentMap maps argument names (ordered by plain byte comparison) to KVariant values. Its setters only insert:
// a name already present keeps its value and the setter still answers 0. Setters answer 0x80000000 when they
// refuse, and store nothing then.
//
// PacketContainer holds what a received line decodes into and what the executor builds for a reply, a notify or
// the connected message. Its fields are public: the executor reads and writes them directly.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "klib_Types.h"
#include "klib_Variant.h"

namespace VDProtocol {

class ArgumentMap
{
public:
    using Entries = std::map<std::string, KVariant, std::less<>>;

    ArgumentMap() = default;
    ArgumentMap(const ArgumentMap&) = default;
    ArgumentMap(ArgumentMap&&) noexcept = default;
    ArgumentMap& operator=(const ArgumentMap&) = default;
    ArgumentMap& operator=(ArgumentMap&&) noexcept = default;
    virtual ~ArgumentMap() = default;

    // Refused for an empty name.
    [[nodiscard]] i32 setInt(std::string_view name, i32 value);
    [[nodiscard]] i32 setUInt(std::string_view name, u32 value);
    [[nodiscard]] i32 setFloat(std::string_view name, f32 value);
    // The whole text (an empty name is accepted). A text the value cannot hold (1024 characters or more) is
    // refused rather than stored as KVariant's "ERROR:" text.
    [[nodiscard]] i32 setString(std::string_view name, const std::string& text);
    // At most maxLength characters of a C text (null counts as empty); refused for an empty name and for a kept
    // length of 1024 characters or more.
    [[nodiscard]] i32 setString(std::string_view name, const char* text, u32 maxLength);
    // Refused for an empty name, null bytes, size 0 or a size KVariant cannot hold.
    [[nodiscard]] i32 setBinary(std::string_view name, const void* data, u32 size);
    // The decoded bytes of standard base64 text (decoding stops at the first "="); refused for an empty name,
    // null text, length 0, a character outside the alphabet or no decoded byte.
    [[nodiscard]] i32 setBinaryFromBase64(std::string_view name, const char* text, u32 length);
    // A copy of the value; refused for an empty name.
    [[nodiscard]] i32 setVariant(std::string_view name, const KVariant& value);

    // Getters: a missing name gives the neutral value with *ok false; otherwise *ok is what the KVariant getter
    // reports. ok may be null.
    i32 getInt(std::string_view name, bool* ok = nullptr) const;
    f32 getFloat(std::string_view name, bool* ok = nullptr) const;
    // The stored text, valid while the entry lives; null when missing or not a text.
    const char* getString(std::string_view name, bool* ok = nullptr) const;
    const void* getBinary(std::string_view name, bool* ok = nullptr) const;
    u32 getBinarySize(std::string_view name, bool* ok = nullptr) const;
    // Standard base64 with "=" padding of a binary value; an empty text with *ok false for anything else.
    std::string getBase64(std::string_view name, bool* ok = nullptr) const;
    // A copy of the value (an empty KVariant and *ok false when missing).
    KVariant getVariant(std::string_view name, bool* ok = nullptr) const;
    // Kind 0..5; 5 (empty) for a missing name.
    u32 getKind(std::string_view name) const;
    // Every name, in map order.
    std::vector<std::string> getNames() const;

    // The stored value, or null.
    const KVariant* find(std::string_view name) const;
    bool contains(std::string_view name) const { return find(name) != nullptr; }
    bool empty() const { return m_entries.empty(); }
    size_t size() const { return m_entries.size(); }
    void clear() { m_entries.clear(); }
    const Entries& getEntries() const { return m_entries; }

private:
    // Inserts under name when absent; a value whose store fails is taken out again.
    template <typename Store> i32 insertWith(std::string_view name, Store&& store);

    Entries m_entries;
};

// Standard base64 with "=" padding of a binary value; an empty text with *ok false for any other value.
std::string binaryToBase64(const KVariant& value, bool* ok = nullptr);

class PacketContainer
{
public:
    PacketContainer() = default;
    PacketContainer(const PacketContainer&) = default;
    PacketContainer(PacketContainer&&) noexcept = default;
    PacketContainer& operator=(const PacketContainer&) = default;
    PacketContainer& operator=(PacketContainer&&) noexcept = default;
    virtual ~PacketContainer() = default;

    // Every text empty, the result flag off, result and progress 0, info and list emptied. Returns 0.
    i32 clear();
    // Clears the packet and stores type, from, to and reqid (null texts count as empty). For the type "abort" it
    // answers 1 without looking at cmd; otherwise the result of parseCommand(cmd).
    i32 set(const char* type, const char* cmd, const char* from, const char* to, const char* reqId);
    // Splits cmd at every "_" (empty parts kept): the first part is the command and the others, joined with "_",
    // the cmdinfo. Fewer than two parts: 0x80000000, command and cmdinfo untouched.
    i32 parseCommand(const std::string& cmd);
    // command "_" cmdinfo when both are set; cmdinfo alone without a command; empty without a cmdinfo.
    std::string getCommandText() const;
    // Sets the result flag, the result, the progress (at most 100) and the message. Returns 0.
    i32 setResult(i32 result, u32 progress, const std::string& message);
    i32 setType(const std::string& type);
    i32 setFrom(const std::string& from);
    i32 setTo(const std::string& to);
    i32 setCmdInfo(const std::string& cmdInfo);
    // The progress in decimal.
    std::string getProgressText() const;
    // The result's name ("ok", "ng/not_found", ...).
    std::string getResultName() const;

    std::string m_type;       // "request", "abort", "reply", "notify", "connected"
    std::string m_from;       // sender identity
    std::string m_to;         // receiver identity
    std::string m_reqId;      // chosen by the editor, echoed in the answer
    std::string m_command;    // "add", "del", "set", "get", "setData", "getData"
    std::string m_cmdInfo;    // what the command works on ("cpt_info", ...)
    bool m_hasResult = false; // result, progress and message are present
    i32 m_result = 0;
    u32 m_progress = 0; // 0..100
    std::string m_message;
    ArgumentMap m_info;
    std::vector<ArgumentMap> m_list;
};

} // namespace VDProtocol
