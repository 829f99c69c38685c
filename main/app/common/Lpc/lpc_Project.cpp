#include "lpc_Project.h"

#include "pyrite_Result.h"

namespace LPC {

u32 Project::initialize(const std::map<std::string, std::string>& contents, MMSFUNC::SelectedItemLoader* loader)
{
    return m_file.initialize(MODEL_TAG, VERSION, TABLE_HEADER_VALUE, contents, loader, 0) < 0 ? PYRITE::PYRITE_E_FAILED
                                                                                              : PYRITE::PYRITE_OK;
}

} // namespace LPC
