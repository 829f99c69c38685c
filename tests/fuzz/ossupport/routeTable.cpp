// Route table text as the kernel would print it: every route handed on names a possible interface and a gateway.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "os_RouteTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    std::FILE* file = ::fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (file == nullptr) {
        return 0;
    }
    ossupport::detail::readRouteTable(file, [](const std::string& name, u32 gateway) {
        if (name.empty() || name.size() > 15 || gateway == 0 ||
            name.find_first_of(std::string(" \t\n\r\v\f\0", 7)) != std::string::npos) {
            std::abort();
        }
    });
    std::fclose(file);
    return 0;
}
