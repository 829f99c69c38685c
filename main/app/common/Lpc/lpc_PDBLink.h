// Parameter links of logical position control: a link set ties parameters of the component database together, so
// that a write of one is carried to the others. The device-control thread builds the set, initialises it (every
// link address resolved), registers it as the set told of every write made through setParameterValue, and updates
// all links after a restore or a recall.
//
// PDBLinkNq is the set of the position-control components. It holds no links yet: its operations succeed and
// change nothing.
//
// The registration is process-wide; the registered set must stay alive until it is unregistered (null).
#pragma once

#include "klib_Types.h"

namespace PDB {
class ParameterAddress;
}

namespace LPC {

class PDBLink
{
public:
    PDBLink() = default;
    virtual ~PDBLink() = default;
    PDBLink(const PDBLink&) = delete;
    PDBLink& operator=(const PDBLink&) = delete;

    // Resolves the address of every link: 0.
    virtual u32 initialize() { return 0; }
    // Carries the value of every link's source to its targets; factor 1 writes whatever the targets hold, 0 only
    // what differs: 0.
    virtual u32 updateAllLinks(u32 factor)
    {
        (void)factor;
        return 0;
    }
    // Told after element (x, y) of the parameter at address was written: carries it to the linked parameters. 0.
    virtual u32 onParameterWritten(const PDB::ParameterAddress& address, u32 x, u32 y)
    {
        (void)address, (void)x, (void)y;
        return 0;
    }
};

class PDBLinkNq final : public PDBLink
{
public:
    PDBLinkNq() = default;
    ~PDBLinkNq() override = default;
};

// Registers the set told of writes (null unregisters): 0.
u32 setPDBLink(PDBLink* link);
// The registered set, or null.
PDBLink* getPDBLink();

} // namespace LPC
