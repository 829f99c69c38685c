#include "pdb_ParameterDBNULL.h"

#include <new>

#include "pdb_ComponentNULL.h"
#include "pdb_IParameterArray.h"

namespace PDB {

namespace {

const ParameterInfo& defaultParameterInfo()
{
    // Built in place once and never destroyed: users may still hold it while statics are torn down.
    alignas(ParameterInfo) static unsigned char storage[sizeof(ParameterInfo)];
    static const ParameterInfo* const instance = new (storage) ParameterInfo();
    return *instance;
}

void setNoStatus(u8* status)
{
    if (status != nullptr) {
        *status = 0xFF;
    }
}

} // namespace

ParameterDBNULL& ParameterDBNULL::getInstance()
{
    alignas(ParameterDBNULL) static unsigned char storage[sizeof(ParameterDBNULL)];
    static ParameterDBNULL* const instance = new (storage) ParameterDBNULL();
    return *instance;
}

i32 ParameterDBNULL::clear()
{
    return 0;
}

i32 ParameterDBNULL::removeAllComponents()
{
    return 0;
}

bool ParameterDBNULL::hasOwnerThread() const
{
    return false;
}

u32 ParameterDBNULL::getDBId() const
{
    return 0;
}

const char* ParameterDBNULL::getName() const
{
    return "(dummy)";
}

i32 ParameterDBNULL::registerCallback(u32 /*key*/, IParameterDBCallback* /*callback*/, ParameterFilter /*filter*/)
{
    return 0;
}

u32 ParameterDBNULL::getCallbackIndex(u32 /*key*/) const
{
    return NONE;
}

i32 ParameterDBNULL::swapChangeFlags(u32 /*callbackIndex*/)
{
    return 0;
}

i32 ParameterDBNULL::findNextChange(u32 /*callbackIndex*/, u32& /*componentIndex*/, u32& /*blockIndex*/, u32& /*x*/,
                                    u32& /*y*/, bool /*stayInComponent*/)
{
    return NO_FURTHER_CHANGE;
}

i32 ParameterDBNULL::clearChangeFlags(u32 /*callbackIndex*/)
{
    return 0;
}

i32 ParameterDBNULL::refreshAllValues(u8 /*writeFlag*/)
{
    return 0;
}

ComponentUID ParameterDBNULL::generateComponentUID() const
{
    return INVALID_COMPONENT_UID;
}

i32 ParameterDBNULL::addComponent(const ComponentUID& /*uid*/, const ComponentInfo& /*info*/)
{
    return 0;
}

i32 ParameterDBNULL::addComponent(const ComponentUID& /*uid*/, const char* /*typeName*/, u32 /*typeVersion*/,
                                  u32 /*numX*/, u32 /*numY*/, i16 /*componentNumber*/)
{
    return 0;
}

i32 ParameterDBNULL::removeComponent(const ComponentUID& /*uid*/)
{
    return 0;
}

i32 ParameterDBNULL::reserveAllComponents()
{
    return 0;
}

i32 ParameterDBNULL::reserveComponent(const ComponentUID& /*uid*/)
{
    return 0;
}

i32 ParameterDBNULL::releaseAllOfThisThread()
{
    return 0;
}

i32 ParameterDBNULL::releaseComponent(const ComponentUID& /*uid*/)
{
    return 0;
}

bool ParameterDBNULL::hasReservedComponents() const
{
    return false;
}

bool ParameterDBNULL::isReserved(const ComponentUID& /*uid*/) const
{
    return false;
}

i32 ParameterDBNULL::getAddedComponents(ComponentUIDList& out) const
{
    out.clear();
    return 0;
}

i32 ParameterDBNULL::getRemovedComponents(ComponentUIDList& out) const
{
    out.clear();
    return 0;
}

ParameterAddress ParameterDBNULL::resolveAddress(u32 /*componentIndex*/, u32 /*blockIndex*/) const
{
    return ParameterAddress();
}

ParameterAddress ParameterDBNULL::resolveAddress(const ComponentUID& /*uid*/, const char* /*address*/) const
{
    return ParameterAddress();
}

u32 ParameterDBNULL::getComponentIndex(const ComponentUID& /*uid*/) const
{
    return NONE;
}

u32 ParameterDBNULL::getBlockIndex(const ComponentUID& /*uid*/, const char* /*address*/) const
{
    return NONE;
}

u32 ParameterDBNULL::getComponentCount() const
{
    return 0;
}

u32 ParameterDBNULL::getComponentSlotCount() const
{
    return 0;
}

i32 ParameterDBNULL::setComponentName(u32 /*componentIndex*/, const char* /*name*/)
{
    return 0;
}

i32 ParameterDBNULL::setComponentUserValue(u32 /*componentIndex*/, u32 /*value*/)
{
    return 0;
}

i32 ParameterDBNULL::setComponentDimensions(u32 /*componentIndex*/, u32 /*numX*/, u32 /*numY*/, u8 /*keepValues*/,
                                            u8 /*writeFlag*/)
{
    return 0;
}

const ComponentInfo* ParameterDBNULL::getComponentInfo(u32 /*componentIndex*/) const
{
    return &getEmptyComponentInfo();
}

const char* ParameterDBNULL::getComponentTypeName(u32 /*componentIndex*/) const
{
    return "(dummy component)";
}

u32 ParameterDBNULL::getComponentVersion(u32 /*componentIndex*/) const
{
    return 0;
}

u16 ParameterDBNULL::getComponentNumber(u32 /*componentIndex*/) const
{
    return 0;
}

ComponentUID ParameterDBNULL::getComponentUID(u32 /*componentIndex*/) const
{
    return INVALID_COMPONENT_UID;
}

const char* ParameterDBNULL::getComponentName(u32 /*componentIndex*/) const
{
    return "";
}

u32 ParameterDBNULL::getComponentUserValue(u32 /*componentIndex*/) const
{
    return 0;
}

u32 ParameterDBNULL::getBlockCount(u32 /*componentIndex*/) const
{
    return 0;
}

const ParameterInfo* ParameterDBNULL::getParameterInfo(ParameterAddress& /*address*/) const
{
    return &defaultParameterInfo();
}

const ParameterInfo* ParameterDBNULL::getParameterInfo(u32 /*componentIndex*/, u32 /*blockIndex*/) const
{
    return &defaultParameterInfo();
}

i32 ParameterDBNULL::setValue(ParameterAddress& /*address*/, u32 /*x*/, u32 /*y*/, const KVariant& /*value*/,
                              u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setValue(u32 /*componentIndex*/, u32 /*blockIndex*/, u32 /*x*/, u32 /*y*/,
                              const KVariant& /*value*/, u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setArray(ParameterAddress& /*address*/, const IParameterArray& /*source*/, u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setArray(u32 /*componentIndex*/, u32 /*blockIndex*/, const IParameterArray& /*source*/,
                              u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setValueUInt(ParameterAddress& /*address*/, u32 /*x*/, u32 /*y*/, u32 /*value*/, u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setValueUInt(u32 /*componentIndex*/, u32 /*blockIndex*/, u32 /*x*/, u32 /*y*/, u32 /*value*/,
                                  u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setValueInt(ParameterAddress& /*address*/, u32 /*x*/, u32 /*y*/, i32 /*value*/, u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setValueInt(u32 /*componentIndex*/, u32 /*blockIndex*/, u32 /*x*/, u32 /*y*/, i32 /*value*/,
                                 u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setValueFloat(ParameterAddress& /*address*/, u32 /*x*/, u32 /*y*/, f32 /*value*/, u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setValueFloat(u32 /*componentIndex*/, u32 /*blockIndex*/, u32 /*x*/, u32 /*y*/, f32 /*value*/,
                                   u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setValueBool(ParameterAddress& /*address*/, u32 /*x*/, u32 /*y*/, bool /*value*/, u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setValueBool(u32 /*componentIndex*/, u32 /*blockIndex*/, u32 /*x*/, u32 /*y*/, bool /*value*/,
                                  u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setValueString(ParameterAddress& /*address*/, u32 /*x*/, u32 /*y*/, const char* /*text*/,
                                    u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setValueString(u32 /*componentIndex*/, u32 /*blockIndex*/, u32 /*x*/, u32 /*y*/,
                                    const char* /*text*/, u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setValueBinary(ParameterAddress& /*address*/, u32 /*x*/, u32 /*y*/, const void* /*data*/,
                                    u32 /*length*/, u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setValueBinary(u32 /*componentIndex*/, u32 /*blockIndex*/, u32 /*x*/, u32 /*y*/,
                                    const void* /*data*/, u32 /*length*/, u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setBlockToDefault(ParameterAddress& /*address*/, u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setToDefault(ParameterAddress& /*address*/, u32 /*x*/, u32 /*y*/, u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setAllToDefault(u32 /*componentIndex*/, u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setBlockToDefault(u32 /*componentIndex*/, u32 /*blockIndex*/, u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::setToDefault(u32 /*componentIndex*/, u32 /*blockIndex*/, u32 /*x*/, u32 /*y*/, u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::getValue(KVariant& value, ParameterAddress& /*address*/, u32 /*x*/, u32 /*y*/, u8* status) const
{
    value.clear();
    setNoStatus(status);
    return 0;
}

i32 ParameterDBNULL::getValue(KVariant& value, u32 /*componentIndex*/, u32 /*blockIndex*/, u32 /*x*/, u32 /*y*/,
                              u8* status) const
{
    value.clear();
    setNoStatus(status);
    return 0;
}

i32 ParameterDBNULL::getArray(IParameterArray& /*destination*/, ParameterAddress& /*address*/) const
{
    return 0;
}

i32 ParameterDBNULL::getArray(IParameterArray& /*destination*/, u32 /*componentIndex*/, u32 /*blockIndex*/) const
{
    return 0;
}

u32 ParameterDBNULL::getValueUInt(ParameterAddress& /*address*/, u32 /*x*/, u32 /*y*/, u8* status) const
{
    setNoStatus(status);
    return 0;
}

u32 ParameterDBNULL::getValueUInt(u32 /*componentIndex*/, u32 /*blockIndex*/, u32 /*x*/, u32 /*y*/, u8* status) const
{
    setNoStatus(status);
    return 0;
}

i32 ParameterDBNULL::getValueInt(ParameterAddress& /*address*/, u32 /*x*/, u32 /*y*/, u8* status) const
{
    setNoStatus(status);
    return 0;
}

i32 ParameterDBNULL::getValueInt(u32 /*componentIndex*/, u32 /*blockIndex*/, u32 /*x*/, u32 /*y*/, u8* status) const
{
    setNoStatus(status);
    return 0;
}

f32 ParameterDBNULL::getValueFloat(ParameterAddress& /*address*/, u32 /*x*/, u32 /*y*/, u8* status) const
{
    setNoStatus(status);
    return 0.0f;
}

f32 ParameterDBNULL::getValueFloat(u32 /*componentIndex*/, u32 /*blockIndex*/, u32 /*x*/, u32 /*y*/, u8* status) const
{
    setNoStatus(status);
    return 0.0f;
}

bool ParameterDBNULL::getValueBool(ParameterAddress& /*address*/, u32 /*x*/, u32 /*y*/, u8* status) const
{
    setNoStatus(status);
    return false;
}

bool ParameterDBNULL::getValueBool(u32 /*componentIndex*/, u32 /*blockIndex*/, u32 /*x*/, u32 /*y*/, u8* status) const
{
    setNoStatus(status);
    return false;
}

i32 ParameterDBNULL::getValueString(KVariant& value, ParameterAddress& /*address*/, u32 /*x*/, u32 /*y*/) const
{
    value.clear();
    return 0;
}

i32 ParameterDBNULL::getValueString(KVariant& value, u32 /*componentIndex*/, u32 /*blockIndex*/, u32 /*x*/,
                                    u32 /*y*/) const
{
    value.clear();
    return 0;
}

i32 ParameterDBNULL::setElementStatus(ParameterAddress& /*address*/, u32 /*x*/, u32 /*y*/, u8 /*status*/)
{
    return 0;
}

i32 ParameterDBNULL::setElementStatus(u32 /*componentIndex*/, u32 /*blockIndex*/, u32 /*x*/, u32 /*y*/, u8 /*status*/)
{
    return 0;
}

bool ParameterDBNULL::isChanged(u32 /*callbackIndex*/, ParameterAddress& /*address*/, u32 /*x*/, u32 /*y*/) const
{
    return false;
}

bool ParameterDBNULL::isChanged(u32 /*callbackIndex*/, u32 /*componentIndex*/, u32 /*blockIndex*/, u32 /*x*/,
                                u32 /*y*/) const
{
    return false;
}

u8 ParameterDBNULL::getElementStatus(ParameterAddress& /*address*/, u32 /*x*/, u32 /*y*/) const
{
    return 0xFF;
}

u8 ParameterDBNULL::getElementStatus(u32 /*componentIndex*/, u32 /*blockIndex*/, u32 /*x*/, u32 /*y*/) const
{
    return 0xFF;
}

bool ParameterDBNULL::isValidIndex(ParameterAddress& /*address*/, u32 /*x*/, u32 /*y*/) const
{
    return false;
}

bool ParameterDBNULL::isValidIndex(u32 /*componentIndex*/, u32 /*blockIndex*/, u32 /*x*/, u32 /*y*/) const
{
    return false;
}

i32 ParameterDBNULL::copyBlockFrom(ParameterAddress& /*address*/, IParameterDB& /*source*/, ParameterFilter /*filter*/,
                                   u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::copyBlockFrom(u32 /*componentIndex*/, u32 /*blockIndex*/, IParameterDB& /*source*/,
                                   ParameterFilter /*filter*/, u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::copyComponentFrom(u32 /*componentIndex*/, IParameterDB& /*source*/, ParameterFilter /*filter*/,
                                       u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::copyAllFrom(IParameterDB& /*source*/, ParameterFilter /*filter*/, u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::exportComponentTable(void* /*buffer*/, u32 /*size*/, u32 /*headerValue*/,
                                          const std::vector<u32>& /*componentIndices*/) const
{
    return 0;
}

i32 ParameterDBNULL::exportComponentTable(void* /*buffer*/, u32 /*size*/, u32 /*headerValue*/,
                                          const ComponentUIDList& /*uids*/) const
{
    return 0;
}

i32 ParameterDBNULL::exportComponentTable(void* /*buffer*/, u32 /*size*/, u32 /*headerValue*/) const
{
    return 0;
}

u32 ParameterDBNULL::getComponentTableSize(const std::vector<u32>& /*componentIndices*/) const
{
    return 0;
}

u32 ParameterDBNULL::getComponentTableSize(const ComponentUIDList& /*uids*/) const
{
    return 0;
}

u32 ParameterDBNULL::getComponentTableSize() const
{
    return 0;
}

i32 ParameterDBNULL::importComponentTable(const void* /*record*/, u32 /*size*/, ParameterFilter /*options*/,
                                          u8 /*writeFlag*/)
{
    return 0;
}

i32 ParameterDBNULL::suppressStrategy()
{
    return 0;
}

i32 ParameterDBNULL::resumeStrategy()
{
    return 0;
}

bool ParameterDBNULL::isStrategySuppressed() const
{
    return false;
}

i32 ParameterDBNULL::beginRecall()
{
    return 0;
}

i32 ParameterDBNULL::endRecall()
{
    return 0;
}

bool ParameterDBNULL::isRecalling() const
{
    return false;
}

const IComponent& ParameterDBNULL::getComponent(u32 /*componentIndex*/) const
{
    return ComponentNULL::getInstance();
}

IComponent& ParameterDBNULL::getComponent(u32 /*componentIndex*/)
{
    return ComponentNULL::getInstance();
}
} // namespace PDB
