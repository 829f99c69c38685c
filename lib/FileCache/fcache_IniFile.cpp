// Ini files: parser, load and save.
#include "fcache_IniFile.h"
#include "fcache_Result.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace FILECACHE {

namespace {

constexpr size_t kChunkSize = 256;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

bool isControl(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void trim(std::string& text)
{
    size_t end = text.size();
    while (end > 0 && isBlank(text[end - 1])) {
        --end;
    }
    size_t start = 0;
    while (start < end && isBlank(text[start])) {
        ++start;
    }
    if (start > 0 || end < text.size()) {
        text = text.substr(start, end - start);
    }
}

// Common rule of all three kinds of text: non-empty, no line break or comment start, no blank at either end
// (the reader trims those away).
bool survivesLine(const char* text)
{
    if (text == nullptr || text[0] == 0) {
        return false;
    }
    const size_t length = std::strlen(text);
    if (text[0] == ' ' || text[0] == '\t' || text[length - 1] == ' ' || text[length - 1] == '\t') {
        return false;
    }
    return std::strpbrk(text, "\r\n#;") == nullptr;
}

bool isWritableName(const char* text)
{
    if (!survivesLine(text)) {
        return false;
    }
    for (const char* p = text; *p != 0; ++p) {
        if (*p == '[' || *p == ']' || *p == '=' || *p == ':' || (isControl(*p) && *p != '\t')) {
            return false;
        }
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// IniParser
// ---------------------------------------------------------------------------------------------------------------
IniParser::IniParser(IniEntries& entries)
    : m_entries(entries), m_state(State::LineStart), m_failed(false), m_sectionOpen(false)
{
}

bool IniParser::isWritableSection(const char* text)
{
    return isWritableName(text);
}

bool IniParser::isWritableKey(const char* text)
{
    return isWritableName(text);
}

bool IniParser::isWritableValue(const char* text)
{
    return survivesLine(text);
}

void IniParser::endLine()
{
    if (m_sectionOpen) {
        trim(m_section); // an unterminated "[abc" header still names the section
        m_sectionOpen = false;
    }
    trim(m_key);
    trim(m_value);
    if (!m_section.empty() && !m_key.empty() && !m_value.empty()) {
        m_entries.insert_or_assign(std::make_pair(m_section, std::move(m_key)), std::move(m_value));
    }
    m_key.clear();
    m_value.clear();
    m_state = State::LineStart;
}

bool IniParser::step(char c)
{
    if (c == '\r' || c == '\n') {
        endLine();
        return true;
    }
    if (c == '#' || c == ';') {
        m_state = State::Comment;
        return true;
    }
    switch (m_state) {
    case State::LineStart:
        if (c == '[') {
            m_section.clear();
            m_sectionOpen = true;
            m_state = State::Section;
            return true;
        }
        if ((isControl(c) && c != '\t') || c == '=' || c == ':' || c == ']') {
            return true;
        }
        m_state = State::Key;
        [[fallthrough]];
    case State::Key:
        if (m_section.empty()) {
            return false; // an entry before the first section header
        }
        if (c == '=' || c == ':') {
            m_state = State::Value;
            return true;
        }
        if (c == '[' || c == ']' || (isControl(c) && c != '\t')) {
            return false;
        }
        m_key += c;
        return true;
    case State::Section:
        if (c == ']') {
            trim(m_section);
            m_sectionOpen = false;
            m_state = State::AfterSection;
            return true;
        }
        if (c == '[' || c == '=' || c == ':' || (isControl(c) && c != '\t')) {
            return false;
        }
        m_section += c;
        return true;
    case State::AfterSection:
        return c == ' ' || c == '\t';
    case State::Value:
        if (m_key.empty()) {
            return false;
        }
        m_value += c;
        return true;
    case State::Comment:
        return true;
    }
    return false;
}

i32 IniParser::feed(const char* data, size_t size, bool final)
{
    if (m_failed || (data == nullptr && size > 0)) {
        m_failed = true;
        return RESULT_FAILED;
    }
    for (size_t i = 0; i < size; ++i) {
        if (!step(data[i])) {
            m_failed = true;
            return RESULT_FAILED;
        }
    }
    if (final) {
        endLine();
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// IniFile
// ---------------------------------------------------------------------------------------------------------------
IniFile::IniFile() = default;

IniFile::~IniFile() = default;

VDirTreeItem* IniFile::createItem()
{
    return new (std::nothrow) IniFile();
}

i32 IniFile::open(const char* parentPath, u32 kind, const char* name)
{
    const i32 result = create(parentPath, kind, name, true);
    m_entries.clear();
    return result;
}

i32 IniFile::onChanged()
{
    return load();
}

i32 IniFile::load()
{
    if (m_kind != kKindFile) {
        return RESULT_FAILED;
    }
    VDirItemOpener opener(*this, FileAccessor::kModeRead);
    if (opener.result() < 0) {
        return RESULT_FAILED;
    }
    m_entries.clear();
    IniParser parser(m_entries);
    u64 remaining = 0;
    if (m_accessor.getSize(&remaining) < 0 || m_accessor.seek(0, 0) < 0) {
        return RESULT_FAILED;
    }
    bool first = true;
    char chunk[kChunkSize];
    while (remaining > 0) {
        const u32 want = static_cast<u32>(std::min<u64>(kChunkSize, remaining));
        u32 got = 0;
        if (m_accessor.read(chunk, want, &got) < 0 || got > want) {
            return RESULT_FAILED;
        }
        remaining -= got;
        // A read of nothing means the file shrank since its size was taken: that is its end.
        const bool final = got == 0 || remaining == 0;
        const char* data = chunk;
        size_t size = got;
        if (first) {
            first = false;
            if (size >= 3 && std::memcmp(data, kByteOrderMark, 3) == 0) {
                data += 3;
                size -= 3;
            }
        }
        if (parser.feed(data, size, final) < 0) {
            return RESULT_FAILED;
        }
        if (final) {
            break;
        }
    }
    return 0;
}

i32 IniFile::save(bool withByteOrderMark)
{
    if (m_kind != kKindFile) {
        return RESULT_FAILED;
    }
    std::string text;
    if (withByteOrderMark) {
        text.append(kByteOrderMark, 3);
    }
    const std::string* section = nullptr;
    for (const auto& [name, value] : m_entries) {
        if (section == nullptr || *section != name.first) {
            if (section != nullptr) {
                text += '\n';
            }
            section = &name.first;
            text += '[';
            text += name.first;
            text += "]\n";
        }
        text += name.second;
        text += " = ";
        text += value;
        text += '\n';
    }
    if (text.size() > 0xFFFFFFFFu) {
        return RESULT_FAILED;
    }
    // The new text goes to a temporary file that replaces the old one only when it is complete.
    FileAccessor file;
    if (file.beginReplace(getFullPath().c_str()) < 0) {
        return RESULT_FAILED;
    }
    const u32 size = static_cast<u32>(text.size());
    u32 put = 0;
    if (size > 0 && (file.write(text.data(), size, &put) < 0 || put != size)) {
        file.abortReplace();
        return RESULT_FAILED;
    }
    if (file.commitReplace() < 0) {
        return RESULT_FAILED;
    }
    // An accessor the caller holds open still reads the replaced file: move it to the new one.
    if (m_accessor.isOpen()) {
        m_accessor.close();
        const u32 mode = m_openMode == FileAccessor::kModeCreate ? FileAccessor::kModeExisting : m_openMode;
        // A failed reopen leaves the accessor closed, which its next use reports.
        (void)m_accessor.open(getFullPath().c_str(), mode);
    }
    return 0;
}

const char* IniFile::getValue(const char* section, const char* key, const char* defaultText) const
{
    if (section == nullptr || key == nullptr || section[0] == 0 || key[0] == 0) {
        return defaultText;
    }
    const auto it = m_entries.find(std::make_pair(std::string(section), std::string(key)));
    return it == m_entries.end() ? defaultText : it->second.c_str();
}

i32 IniFile::setValue(const char* section, const char* key, const char* value)
{
    if (!IniParser::isWritableSection(section) || !IniParser::isWritableKey(key) ||
        !IniParser::isWritableValue(value)) {
        return RESULT_FAILED;
    }
    m_entries.insert_or_assign(std::make_pair(std::string(section), std::string(key)), std::string(value));
    return 0;
}

} // namespace FILECACHE
