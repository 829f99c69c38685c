#include "lpc_NqParameterStrategy.h"

namespace LPC {

u32 LpcNqParameterStrategy::setDatabase(PDB::IParameterDB* database)
{
    m_database.store(database, std::memory_order_release);
    return 0;
}

LpcNqParameterStrategyCurrent& LpcNqParameterStrategyCurrent::getInstance()
{
    static LpcNqParameterStrategyCurrent instance;
    return instance;
}

LpcNqParameterStrategySetup& LpcNqParameterStrategySetup::getInstance()
{
    static LpcNqParameterStrategySetup instance;
    return instance;
}

} // namespace LPC
