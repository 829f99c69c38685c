// The meter datagrams of a device, and where they land: the meter sets of the audio components.
//
// A datagram is a 6-byte header and a payload of meter bytes:
//   byte 0     bit 0x20 marks a meter datagram; the low 5 bits are its meter kind (KMDP::getMeterType): kinds 0, 2
//              and 5 fill the component's first byte-valued meter set (set 2 of its meter pool), kind 1 its second
//              (set 3); other kinds carry nothing for this program
//   bytes 1-2  the component's uid, low byte first
//   byte 3     the meter array within the set
//   bytes 4-5  the byte offset of the payload in that array, high byte first
#pragma once

#include "klib_Types.h"

namespace DADOV {
class MeterPool;
}

namespace PYRITE {

constexpr u32 METER_DATAGRAM_HEADER_SIZE = 6;
constexpr u8 METER_DATAGRAM_FLAG = 0x20;

// The meter pool of a component, by uid; null when there is no such component.
class IMeterPoolFinder
{
public:
    virtual ~IMeterPoolFinder() = default;
    virtual DADOV::MeterPool* findMeterPool(u32 uid) = 0;
};

// Copies the payload of one datagram into its meter array, under the pool's lock. 0 when written, or when the kind
// carries nothing here; PYRITE_E_FAILED, nothing written, for a datagram shorter than its header, without the flag,
// for a component the finder does not know, or an array or range the component's set does not have.
[[nodiscard]] u32 writeMeterDatagram(IMeterPoolFinder& finder, const u8* data, u32 length);

} // namespace PYRITE
