// The device-setting table: the editor link's item keys for settings of the virtual and the real device, each
// mapped to the parameter that holds it (database instance name, component unique id, parameter address, x, y).
// Row 0 is blank and stands for every key the table does not hold; its empty database name finds no database.
// The executor reads and writes these settings through VDProtocolExecutor::readDeviceSetting and its writers.
#pragma once

#include "klib_Types.h"

namespace VDevice {

struct DeviceSettingItem
{
    const char* m_itemKey;
    const char* m_databaseName;
    u32 m_componentId;
    const char* m_parameterAddress;
    u32 m_x;
    u32 m_y;
};

constexpr u32 DEVICE_SETTING_COUNT = 25;

inline constexpr DeviceSettingItem DeviceSettingTable[DEVICE_SETTING_COUNT] = {
    {"", "", 0, "", 0, 0},
    {"VirtualDeviceLabel", "VDeviceSetup", 0, "/Setup/DeviceName", 0, 0},
    {"VirtualUnitID", "VDeviceSetup", 0, "/Setup/UnitID", 0, 0},
    {"VirtualCapacity", "VDeviceSetup", 0, "/Specification/ProductVariationName", 0, 0},
    {"VirtualSyncVersion", "VDeviceSetup", 0, "/Specification/SyncVersion", 0, 0},
    {"VirtualAdminPin", "VDeviceSetup", 0, "/Setup/AdminPin", 0, 0},
    {"RealDeviceLabel", "DeviceSetup", 0, "/Setup/DeviceName", 0, 0},
    {"RealUnitID", "DeviceSetup", 0, "/Setup/UnitID", 0, 0},
    {"RealSyncVersion", "Profile", 0, "/Specification/SyncVersion", 0, 0},
    {"RealCapacity", "Profile", 0, "/Specification/ProductVariationName", 0, 0},
    {"RealAdminPin", "StaticSetup", 0, "/Setup/AdminPin", 0, 0},
    {"FirmwareVersion", "Profile", 0, "/Specification/FirmwareVersion", 0, 0},
    {"SerialNo", "Profile", 0, "/Specification/SerialNumber", 0, 0},
    {"IPMode", "DeviceSetup", 0, "/Network/VEXAControlPort/IPSetting", 0, 0},
    {"StaticIPAddress", "DeviceSetup", 0, "/Network/VEXAControlPort/StaticIPAddress", 0, 0},
    {"StaticSubnetMask", "DeviceSetup", 0, "/Network/VEXAControlPort/SubnetMask", 0, 0},
    {"StaticGateway", "DeviceSetup", 0, "/Network/VEXAControlPort/Gateway", 0, 0},
    {"CurrentIPAddress", "DeviceSetup", 0, "/Network/VEXAControlPort/CurrentIPAddress", 0, 0},
    {"CurrentSubnetMask", "DeviceSetup", 0, "/Network/VEXAControlPort/CurrentSubnetMask", 0, 0},
    {"CurrentGateway", "DeviceSetup", 0, "/Network/VEXAControlPort/CurrentGateway", 0, 0},
    {"Battery", "Status", 0, "/Status/Battery", 0, 0},
    {"FS", "CommonSetup", 0, "/Config/ExpectedFs", 0, 0},
    {"VEXACapacity", "Profile", 0, "/VEXA/Capacity", 0, 0},
    {"VDeviceCapacity", "VDeviceSetup", 0, "/VEXA/Capacity", 0, 0},
    {"MeterPeakHold", "CommonSetup", 0, "/Meter/PeakHold/On", 0, 0},
};

} // namespace VDevice
