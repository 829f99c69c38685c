// The executor's access to parameter databases: device settings through the device-setting table, and the
// "prm_val" notification of a changed parameter.
#include <string>
#include <utility>

#include "pdb_IParameterDB.h"
#include "pdb_NullMutex.h"
#include "pdb_ParameterDB.h"
#include "pdb_ParameterDBCollection.h"
#include "vdp_Address.h"
#include "vdp_Executor.h"
#include "vdp_Result.h"

namespace VDevice {

using VDProtocol::RESULT_NG;
using VDProtocol::RESULT_OK;

namespace {

constexpr u32 NO_INDEX = 0xFFFFFFFFu;
constexpr i32 DATABASE_POSITIONS = 11; // positions 0..10 hold the application's databases
constexpr i32 VERSION_REAL_SMALLER = static_cast<i32>(0x80000001u);
constexpr i32 VERSION_REAL_LARGER = static_cast<i32>(0x80000002u);

using Reading = PDB::ReadLock<PDB::IParameterDB>;
using Writing = PDB::WriteLock<PDB::IParameterDB>;

// Finds the database by name and, under its lock, the component of componentId and the block of parameterAddress,
// then runs use(database, component index, block index) still under the lock: its result; 0x80000000 for a
// missing database or component.
template <typename Lock, typename Use>
i32 withSetting(const std::string& databaseName, u32 componentId, const std::string& parameterAddress, Use&& use)
{
    PDB::IParameterDB* database = VDProtocolExecutor::findDatabase(databaseName);
    if (database == nullptr) {
        return RESULT_NG;
    }
    Lock lock(*database);
    const u32 component = database->getComponentIndex(componentId);
    if (component == NO_INDEX) {
        return RESULT_NG;
    }
    return use(*database, component, database->getBlockIndex(componentId, parameterAddress.c_str()));
}

} // namespace

const DeviceSettingItem& VDProtocolExecutor::findDeviceSetting(const std::string& itemKey)
{
    for (const DeviceSettingItem& row : DeviceSettingTable) {
        if (itemKey == row.m_itemKey) {
            return row;
        }
    }
    return DeviceSettingTable[0];
}

PDB::IParameterDB* VDProtocolExecutor::findDatabase(const std::string& name)
{
    if (name.empty()) {
        return nullptr;
    }
    const i32 position = PDB::ParameterDBCollection::findInstance(name.c_str());
    if (position < 0 || position >= DATABASE_POSITIONS) {
        return nullptr;
    }
    return &PDB::ParameterDBCollection::getInstance(static_cast<u32>(position));
}

i32 VDProtocolExecutor::readDeviceSetting(KVariant& out, const std::string& databaseName, u32 componentId,
                                          const std::string& parameterAddress, u32 x, u32 y)
{
    return withSetting<Reading>(databaseName, componentId, parameterAddress,
                                [&](PDB::IParameterDB& database, u32 component, u32 block) {
                                    if (block == NO_INDEX) {
                                        return RESULT_NG; // the database reads its null block as an empty success
                                    }
                                    KVariant value;
                                    const i32 result = database.getValue(value, component, block, x, y, nullptr);
                                    if (!VDProtocol::failed(result)) {
                                        out = value;
                                    }
                                    return result;
                                });
}

i32 VDProtocolExecutor::readDeviceSetting(KVariant& out, const DeviceSettingItem& row)
{
    return readDeviceSetting(out, row.m_databaseName, row.m_componentId, row.m_parameterAddress, row.m_x, row.m_y);
}

i32 VDProtocolExecutor::writeDeviceSetting(const std::string& databaseName, u32 componentId,
                                           const std::string& parameterAddress, u32 x, u32 y, const KVariant& value)
{
    // The threads that the write wakes are woken once the database lock is released (the notices end after the
    // lock that withSetting takes): woken earlier, they would only block on it.
    const PDB::DeferredChangeNotices notices;
    return withSetting<Writing>(
        databaseName, componentId, parameterAddress, [&](PDB::IParameterDB& database, u32 component, u32 block) {
            if (value.getKind() != KVariant::KIND_STRING) {
                return database.setValue(component, block, x, y, value, EDITOR_ORIGIN);
            }
            KVariant converted;
            const i32 conversion =
                m_expressions.textToValue(converted, *database.getParameterInfo(component, block), value);
            if (VDProtocol::failed(conversion)) {
                return conversion;
            }
            return database.setValue(component, block, x, y, converted, EDITOR_ORIGIN);
        });
}

i32 VDProtocolExecutor::writeDeviceSetting(const DeviceSettingItem& row, const KVariant& value)
{
    return writeDeviceSetting(row.m_databaseName, row.m_componentId, row.m_parameterAddress, row.m_x, row.m_y, value);
}

i32 VDProtocolExecutor::writeDeviceSettingArray(const std::string& databaseName, u32 componentId,
                                                const std::string& parameterAddress, const KVariant& value)
{
    const PDB::DeferredChangeNotices notices;
    return withSetting<Writing>(
        databaseName, componentId, parameterAddress, [&](PDB::IParameterDB& database, u32 component, u32 block) {
            const PDB::ParameterInfo& info = *database.getParameterInfo(component, block);
            if (info.getElementCount() == 0) {
                // No such block: the database's own answer to a write there.
                return database.setValue(component, block, 0, 0, value, EDITOR_ORIGIN);
            }
            for (u32 x = 0; x < info.getCountX(); ++x) {
                for (u32 y = 0; y < info.getCountY(); ++y) {
                    const i32 result = database.setValue(component, block, x, y, value, EDITOR_ORIGIN);
                    if (VDProtocol::failed(result)) {
                        return result;
                    }
                }
            }
            return RESULT_OK;
        });
}

i32 VDProtocolExecutor::compareSyncVersions()
{
    KVariant real;
    KVariant local;
    (void)readDeviceSetting(real, findDeviceSetting("RealSyncVersion"));
    (void)readDeviceSetting(local, findDeviceSetting("VirtualSyncVersion"));
    return compareVersions(real, local);
}

i32 VDProtocolExecutor::compareVersions(const KVariant& real, const KVariant& local)
{
    const u32 realVersion = real.getUInt();
    const u32 localVersion = local.getUInt();
    if (realVersion == localVersion) {
        return RESULT_OK;
    }
    return realVersion < localVersion ? VERSION_REAL_SMALLER : VERSION_REAL_LARGER;
}

std::string VDProtocolExecutor::makeComponentName(const PDB::IParameterDB& database, u32 componentIndex)
{
    const PDB::ComponentInfo* info = database.getComponentInfo(componentIndex);
    if (info == nullptr) {
        return "";
    }
    return info->getName() + ":" + std::to_string(info->getVersion()) + ":" + std::to_string(info->getCurrentX()) +
           "x" + std::to_string(info->getCurrentY());
}

i32 VDProtocolExecutor::onParameterChanged(PDB::IParameterDB& database, u32 componentIndex, u32 blockIndex, u32 x,
                                           u32 y)
{
    PDB::ParameterInfo info;
    u32 uniqueId = 0;
    KVariant value;
    std::string componentName;
    {
        Reading lock(database);
        info = *database.getParameterInfo(componentIndex, blockIndex);
        uniqueId = database.getComponentUID(componentIndex);
        const i32 read = database.getValue(value, componentIndex, blockIndex, x, y, nullptr);
        if (VDProtocol::failed(read)) {
            return read;
        }
        componentName = makeComponentName(database, componentIndex);
    }
    VDProtocol::ArgumentMap entry;
    i32 result = VDProtocol::setParameterArguments(entry, info, value);
    if (VDProtocol::failed(result)) {
        return result;
    }
    const KVariant text = m_expressions.valueToText(info, value);
    const char* display = text.getString();
    (void)entry.setString("prmStr", display != nullptr ? std::string(display) : std::string());
    std::string address;
    result = VDProtocol::makeParameterAddress(database.getName(), uniqueId, info.getAddress(), x, y, address);
    if (VDProtocol::failed(result)) {
        return result;
    }
    (void)entry.setString("prmAddr", address);
    (void)entry.setString("cptName", componentName);
    PacketContainer notify;
    notify.m_cmdInfo = "prm_val";
    notify.m_list.push_back(std::move(entry));
    return sendNotify(std::move(notify));
}

} // namespace VDevice
