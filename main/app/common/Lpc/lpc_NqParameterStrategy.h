// The parameter strategies of the position-control components "nqCurrent" and "nqSetup". Each is one process-wide
// object that the device-control thread attaches to its component's description and then tells the database
// the component lives in. They keep that database and otherwise behave as the default strategy.
#pragma once

#include <atomic>

#include "klib_Types.h"
#include "pdb_ParameterStrategy.h"

namespace LPC {

class LpcNqParameterStrategy : public PDB::ParameterStrategy
{
public:
    // Keeps the database the component lives in (null forgets it): 0.
    u32 setDatabase(PDB::IParameterDB* database);
    PDB::IParameterDB* getDatabase() const { return m_database.load(std::memory_order_acquire); }

protected:
    LpcNqParameterStrategy() = default;
    ~LpcNqParameterStrategy() override = default;

private:
    std::atomic<PDB::IParameterDB*> m_database{nullptr};
};

class LpcNqParameterStrategyCurrent final : public LpcNqParameterStrategy
{
public:
    static LpcNqParameterStrategyCurrent& getInstance();

private:
    LpcNqParameterStrategyCurrent() = default;
    ~LpcNqParameterStrategyCurrent() override = default;
};

class LpcNqParameterStrategySetup final : public LpcNqParameterStrategy
{
public:
    static LpcNqParameterStrategySetup& getInstance();

private:
    LpcNqParameterStrategySetup() = default;
    ~LpcNqParameterStrategySetup() override = default;
};

} // namespace LPC
