#include "vdp_TestSupport.h"

#include <gtest/gtest.h>

#include <mutex>

#include "dbgc_LowIO.h"
#include "dbgc_Print.h"
#include "os_Tasks.h"

namespace vdptest {

namespace {

class CaptureLowIO : public DBGC::IDebugConsoleLowIO
{
public:
    u32 open(DBGC::IDebugConsoleLowIOCallback*) override { return 0; }
    u32 close() override { return 0; }
    bool isSerial() const override { return false; }
    u32 read(u8*, u32, u32* got) override
    {
        *got = 0;
        return 0;
    }
    u32 write(const u8* data, u32 size, u32* written) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_text.append(reinterpret_cast<const char*>(data), size);
        *written = size;
        return 0;
    }
    u32 flush() override { return 0; }
    u32 poll() override { return 0; }

    std::string take()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        std::string text;
        text.swap(m_text);
        return text;
    }

private:
    std::mutex m_lock;
    std::string m_text;
};

CaptureLowIO& capture()
{
    // Never destroyed: the print keeps the pointer until the process ends.
    static CaptureLowIO* transport = new CaptureLowIO;
    static const bool registered = [] {
        if (!ossupport::isInitialized()) {
            ossupport::initialize();
        }
        return dbgc_addLowIO(transport) == 0;
    }();
    EXPECT_TRUE(registered);
    return *transport;
}

} // namespace

PrintCapture::PrintCapture()
{
    capture().take();
}

std::string PrintCapture::take()
{
    return capture().take();
}

} // namespace vdptest
