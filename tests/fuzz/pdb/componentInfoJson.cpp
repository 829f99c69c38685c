// Fuzz target: component-type JSON decoding. Any document must decode without a fault into either no blocks or
// blocks whose addresses are non-empty, unique and found again at their own index.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "pdb_ComponentInfoParserJSON.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const PDB::ComponentInfo info = PDB::ComponentInfoParserJSON::createFromJson(text.c_str());
    std::set<std::string> addresses;
    for (u32 i = 0; i < info.getParameterCount(); ++i) {
        const std::string& address = info.getParameterInfo(i).getAddress();
        if (address.empty() || !addresses.insert(address).second || info.findParameterIndex(address.c_str()) != i) {
            std::abort();
        }
        // A valid block always has a storage size that fits 32 bits.
        if (info.getParameterInfo(i).isValid() && info.getParameterInfo(i).getElementCount() == 0) {
            std::abort();
        }
    }
    return 0;
}
