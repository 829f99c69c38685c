#include "vdp_Address.h"

#include <vector>

#include "klib_Print.h"
#include "os_Text.h"
#include "pdb_ParameterInfo.h"
#include "vdp_Result.h"

namespace VDProtocol {

i32 readAddressNumber(const std::string& text, u32& value)
{
    u32 bits = 0;
    u32 form = 0;
    const u32 result = klib_strToNumber(&bits, &form, text.c_str(), static_cast<u32>(text.size()));
    if ((result & 0x80000000u) != 0) {
        return static_cast<i32>(result);
    }
    if (form == KLIB_NUMBER_FORM_FLOAT) {
        return RESULT_NG;
    }
    value = bits;
    return RESULT_OK;
}

i32 parseComponentAddress(const std::string& text, std::string& componentName, u32& uniqueId)
{
    // Without "/" the whole text is both the name and the "#" part.
    const size_t slash = text.find('/');
    const std::string name = slash == std::string::npos ? text : text.substr(0, slash);
    const std::string rest = slash == std::string::npos ? text : text.substr(slash + 1);
    if (rest.empty() || rest[0] != '#') {
        return RESULT_NG;
    }
    u32 id = 0;
    const i32 result = readAddressNumber(rest.substr(1), id);
    if (failed(result)) {
        return result;
    }
    componentName = name;
    uniqueId = id;
    return RESULT_OK;
}

i32 parseParameterAddress(const std::string& text, std::string& componentName, u32& uniqueId,
                          std::string& parameterPath, u32& x, u32& y)
{
    std::vector<std::string> parts;
    ossupport::splitString(&parts, text, ":", false);
    if (parts.size() != 3) {
        return RESULT_NG;
    }
    u32 column = 0;
    u32 row = 0;
    i32 result = readAddressNumber(parts[1], column);
    if (failed(result)) {
        return result;
    }
    result = readAddressNumber(parts[2], row);
    if (failed(result)) {
        return result;
    }
    const std::string& head = parts[0];
    const size_t first = head.find('/');
    if (first == std::string::npos) {
        return RESULT_NG;
    }
    const size_t second = head.find('/', first + 1);
    if (second == std::string::npos || head[first + 1] != '#') {
        return RESULT_NG;
    }
    u32 id = 0;
    result = readAddressNumber(head.substr(first + 2, second - first - 2), id);
    if (failed(result)) {
        return result;
    }
    componentName = head.substr(0, first);
    uniqueId = id;
    parameterPath = head.substr(second);
    x = column;
    y = row;
    return RESULT_OK;
}

i32 makeParameterAddress(const std::string& componentName, u32 uniqueId, const std::string& parameterPath, u32 x, u32 y,
                         std::string& text)
{
    if (componentName.empty() || parameterPath.empty()) {
        return RESULT_NG;
    }
    text = componentName + "/#" + std::to_string(uniqueId) + parameterPath + ":" + std::to_string(x) + ":" +
           std::to_string(y);
    return RESULT_OK;
}

u32 getProtocolType(u8 typeCode)
{
    switch (typeCode) {
    case PDB::TYPE_SINT8:
        return 1;
    case PDB::TYPE_SINT16:
        return 2;
    case PDB::TYPE_SINT32:
        return 3;
    case PDB::TYPE_UINT8:
        return 4;
    case PDB::TYPE_UINT16:
    case PDB::TYPE_BOOL:
        return 5;
    case PDB::TYPE_UINT32:
        return 6;
    case PDB::TYPE_FLOAT:
        return 10;
    case PDB::TYPE_STRING:
        return 11;
    default:
        return 0;
    }
}

i32 setParameterArguments(ArgumentMap& arguments, const PDB::ParameterInfo& info, const KVariant& value)
{
    const u32 type = getProtocolType(info.getTypeCode());
    if (type == 0) {
        return RESULT_NG;
    }
    // Setter results are not checked: a name already present keeps its value by design.
    (void)arguments.setUInt("prmType", type);
    if (info.getTypeCode() == PDB::TYPE_STRING) {
        const char* text = value.getString();
        (void)arguments.setVariant("prmMax", info.getMax());
        (void)arguments.setString("prmDefUI", info.getDefUI());
        (void)arguments.setString("prmKind", info.getKind());
        (void)arguments.setString("prmValue", std::string(text != nullptr ? text : ""));
        return RESULT_OK;
    }
    (void)arguments.setVariant("prmDef", info.getDefault());
    (void)arguments.setVariant("prmMax", info.getMax());
    (void)arguments.setVariant("prmMin", info.getMin());
    (void)arguments.setVariant("prmNominal", info.getNominal());
    (void)arguments.setVariant("prmStep", info.getStep());
    (void)arguments.setString("prmScale", std::to_string(info.getScaling()));
    (void)arguments.setString("prmUnit", info.getUnit());
    (void)arguments.setString("prmDefUI", info.getDefUI());
    (void)arguments.setString("prmKind", info.getKind());
    (void)arguments.setVariant("prmValue", value);
    return RESULT_OK;
}

} // namespace VDProtocol
