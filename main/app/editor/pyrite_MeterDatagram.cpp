#include "pyrite_MeterDatagram.h"

#include "dadov_MeterPool.h"
#include "kmdp_KMDPClient.h"
#include "pyrite_Result.h"

namespace PYRITE {

u32 writeMeterDatagram(IMeterPoolFinder& finder, const u8* data, u32 length)
{
    if (data == nullptr || length < METER_DATAGRAM_HEADER_SIZE || (data[0] & METER_DATAGRAM_FLAG) == 0) {
        return PYRITE_E_FAILED;
    }
    u32 setNo = 0;
    switch (KMDP::getMeterType(data, length)) {
    case 0:
    case 2:
    case 5:
        setNo = 2;
        break;
    case 1:
        setNo = 3;
        break;
    default:
        return PYRITE_OK;
    }
    DADOV::MeterPool* pool = finder.findMeterPool(static_cast<u32>(data[1]) | (static_cast<u32>(data[2]) << 8));
    if (pool == nullptr) {
        return PYRITE_E_FAILED;
    }
    const u32 offset = (static_cast<u32>(data[4]) << 8) | data[5];
    // The pool checks offset + count against the array in 64 bits.
    return pool->writeMeterBytes(setNo, data[3], offset, data + METER_DATAGRAM_HEADER_SIZE,
                                 length - METER_DATAGRAM_HEADER_SIZE) == DADOV::DADOV_OK
               ? PYRITE_OK
               : PYRITE_E_FAILED;
}

} // namespace PYRITE
