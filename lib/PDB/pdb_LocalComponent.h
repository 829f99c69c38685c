// LocalComponent: a component of a local database. It owns one LocalParameterArray per block and has no change
// tracking, skip marks, subscribers or notification: those operations answer 0x80080000 (not supported) or
// false.
//
// Changing its dimensions updates its description too (dimensions and block sizes, component number kept), so
// that its "#CI1" record always agrees with its "#PR1" records.
#pragma once

#include <memory>

#include "pdb_AbstractComponent.h"
#include "pdb_ParameterArray.h"

namespace PDB {

class LocalComponent final : public AbstractComponent
{
public:
    LocalComponent() = default;
    ~LocalComponent() override;

    // Builds one array per block of info: 0; 0x80000001 for a description without blocks; 0x80040000 out of
    // memory; an array's initialisation failure. On failure the component is left empty.
    i32 create(const ComponentInfo& info);
    // Becomes a copy of source (its description and every array's values). A source without blocks (the null
    // component) gives 0x80000001 and leaves this component empty.
    i32 copyFrom(const IComponent& source);

    i32 releaseArrays() override;
    i32 setDimensions(u32 x, u32 y, u8 keep, u8 status) override;
    i32 setSubscriberCount(u32) override { return RESULT_NOT_SUPPORTED; }
    i32 setSkipMark(u32, u32, u32, bool) override { return RESULT_NOT_SUPPORTED; }
    i32 setAllSkipMarks(bool) override { return RESULT_NOT_SUPPORTED; }
    i32 setElementStatus(u32, u32, u32, u8) override { return RESULT_NOT_SUPPORTED; }
    bool isSkipMarked(u32, u32, u32) const override { return false; }
    bool isChangedFor(u32, u32, u32, u32) const override { return false; }
    i32 clearChangesFor(u32) override { return RESULT_NOT_SUPPORTED; }
    i32 swapChangeBank(u32) override { return RESULT_NOT_SUPPORTED; }
    i32 findNextChange(u32, u32&, u32&, u32&) override { return RESULT_NOT_SUPPORTED; }

    IParameterArray& getParameterArray(u32 block) override;
    const IParameterArray& getParameterArray(u32 block) const override;
    const IFlagArray& getSkipMask(u32 block) const override;
    // The same as create(info); owner, index and copy byte are not used.
    i32 recreate(IParameterDB* owner, u32 index, const ComponentInfo& info, u8 copyByte) override;
    i32 notifyChange() override { return 0; }

protected:
    void prefetchBlock(u32 block) const override;

private:
    // One block of arrays (bulk imports and exports walk them in order).
    std::unique_ptr<LocalParameterArray[]> m_arrays;
    u32 m_count = 0;
};

} // namespace PDB
