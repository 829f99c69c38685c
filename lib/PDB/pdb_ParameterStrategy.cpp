// The default parameter strategy: accepts every write and changes nothing.
#include "pdb_ParameterStrategy.h"

#include <new>

namespace PDB {

ParameterStrategy::~ParameterStrategy() = default;

i32 ParameterStrategy::bind(IParameterDB*)
{
    return 0;
}

i32 ParameterStrategy::onRead(IParameterDB*, u32, u32, u32, u32, const ParameterInfo&, const KVariant&)
{
    return 0;
}

const ParameterInfo& ParameterStrategy::getEffectiveInfo(IParameterDB*, u32, u32, u32, u32, const ParameterInfo& info,
                                                         ParameterInfo&)
{
    return info;
}

i32 ParameterStrategy::adjustDefault(IParameterDB*, u32, u32, u32, u32, const ParameterInfo&, KVariant&)
{
    return 0;
}

i32 ParameterStrategy::checkWrite(IParameterDB*, u32, u32, u32, u32, const ParameterInfo&, const KVariant&,
                                  const KVariant&, u8, u8)
{
    return 0;
}

i32 ParameterStrategy::onWritten(IParameterDB*, u32, u32, u32, u32, const ParameterInfo&, const KVariant&,
                                 const KVariant&, u8)
{
    return 0;
}

ParameterStrategy* getDefaultStrategy()
{
    // Built in place and never destroyed: descriptions and parameter arrays may point to it until exit.
    alignas(ParameterStrategy) static unsigned char storage[sizeof(ParameterStrategy)];
    static ParameterStrategy* const instance = new (storage) ParameterStrategy();
    return instance;
}

} // namespace PDB
