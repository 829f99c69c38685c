// Stand-ins for the parameter-array suites: block descriptions, a recording strategy, a recording callback and
// an owner database that counts strategy suppressions, all writing into one event log.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "pdb_ParameterArray.h"
#include "pdb_ParameterDBNULL.h"

namespace pdbtest {

using namespace PDB;

constexpr i32 BAD_ARGUMENT = static_cast<i32>(0x80000001u);
constexpr i32 REFUSED = static_cast<i32>(0x80000004u);
constexpr i32 TYPE_MISMATCH = static_cast<i32>(0x80020000u);
constexpr i32 ALLOCATION = static_cast<i32>(0x80040000u);
constexpr i32 NOT_SUPPORTED = static_cast<i32>(0x80080000u);
constexpr u8 RECALLABLE = ParameterAttribute::FLAG_RECALLABLE;
constexpr u8 NONVOLATILE = ParameterAttribute::FLAG_NONVOLATILE;

// A block of x * y elements (plain size patterns, so the counts do not follow the component's dimensions).
inline ParameterInfo makeInfo(u8 typeCode, u32 elementSize, u32 x, u32 y, const KVariant& min, const KVariant& max,
                              const KVariant& def, u8 flags = RECALLABLE)
{
    ParameterInfo info;
    info.setAddress("/Test/Block");
    info.setTypeCode(typeCode);
    info.setElementSize(elementSize);
    info.setAttribute(ParameterAttribute(0, flags));
    info.setPatterns(x, y);
    info.setMin(min);
    info.setMax(max);
    info.setDefault(def);
    info.setDimensions(1, 1);
    return info;
}

inline ParameterInfo makeU16(u32 x, u32 y, u8 flags = RECALLABLE)
{
    return makeInfo(0x12, 2, x, y, KVariant(0u), KVariant(60000u), KVariant(0u), flags);
}

struct EventLog
{
    std::vector<std::string> events;
    void add(const std::string& e) { events.push_back(e); }
    size_t count(const std::string& e) const
    {
        size_t n = 0;
        for (const std::string& s : events) {
            n += s == e ? 1 : 0;
        }
        return n;
    }
};

// Records every hook; can narrow the limits, refuse writes and act after a write.
class RecordingStrategy : public ParameterStrategy
{
public:
    explicit RecordingStrategy(EventLog& log) : m_Log(log) {}

    bool refuse = false;
    bool narrow = false;
    KVariant narrowMin;
    KVariant narrowMax;
    u32 defaultBonus = 0;
    std::function<void(u32 x, u32 y)> afterWrite;

    const ParameterInfo& getEffectiveInfo(IParameterDB*, u32, u32, u32, u32, const ParameterInfo& info,
                                          ParameterInfo& scratch) override
    {
        m_Log.add("effective");
        if (!narrow) {
            return info;
        }
        scratch = info;
        scratch.setMin(narrowMin);
        scratch.setMax(narrowMax);
        return scratch;
    }
    i32 adjustDefault(IParameterDB*, u32, u32, u32, u32, const ParameterInfo&, KVariant& value) override
    {
        if (defaultBonus != 0) {
            value = value.getUInt() + defaultBonus;
        }
        return 0;
    }
    i32 checkWrite(IParameterDB*, u32, u32, u32, u32, const ParameterInfo&, const KVariant&, const KVariant&, u8,
                   u8) override
    {
        m_Log.add("check");
        return refuse ? static_cast<i32>(0x80000000u) : 0;
    }
    i32 onWritten(IParameterDB*, u32, u32, u32 x, u32 y, const ParameterInfo&, const KVariant&, const KVariant&,
                  u8) override
    {
        m_Log.add("written");
        if (afterWrite) {
            afterWrite(x, y);
        }
        return 0;
    }
    i32 onRead(IParameterDB*, u32, u32, u32, u32, const ParameterInfo&, const KVariant&) override
    {
        m_Log.add("read");
        return 0;
    }

private:
    EventLog& m_Log;
};

class RecordingCallback : public IParameterArrayCallback
{
public:
    explicit RecordingCallback(EventLog& log) : m_Log(log) {}
    i32 onChanged(u32 block, u32 index, bool recalling) override
    {
        m_Log.add("changed " + std::to_string(block) + " " + std::to_string(index) + (recalling ? " R" : ""));
        return 0;
    }
    i32 onRejected(u32 block, u32 x, u32 y, i32 code) override
    {
        m_Log.add("rejected " + std::to_string(block) + " " + std::to_string(x) + " " + std::to_string(y) + " " +
                  std::to_string(static_cast<u32>(code)));
        return 0;
    }

private:
    EventLog& m_Log;
};

// An owner whose strategy suppression is a counted pair, as the shared database keeps it.
class CountingOwner : public ParameterDBNULL
{
public:
    explicit CountingOwner(EventLog& log) : m_Log(log) {}
    i32 depth = 0;
    bool recalling = false;

    i32 suppressStrategy() override
    {
        m_Log.add("suppress");
        ++depth;
        return 0;
    }
    i32 resumeStrategy() override
    {
        m_Log.add("resume");
        --depth;
        return 0;
    }
    bool isStrategySuppressed() const override { return depth > 0; }
    bool isRecalling() const override { return recalling; }

private:
    EventLog& m_Log;
};

} // namespace pdbtest
