// The meter container: counted subscriptions, the interval and the two lists.
#include <gtest/gtest.h>

#include "vdp_MeterContainer.h"

using VDevice::VDMeterContainer;

TEST(MeterContainer, CountsSubscriptionsAndListsThem)
{
    VDMeterContainer& meters = VDMeterContainer::getInstance();
    EXPECT_EQ(&meters, &VDMeterContainer::getInstance());
    meters.clear();

    EXPECT_TRUE(meters.addMeter("meter", "AudioCompo/#7"));
    EXPECT_TRUE(meters.addMeter("meter", "AudioCompo/#7"));
    EXPECT_TRUE(meters.addMeter("peak", "Other/#0x10"));
    EXPECT_TRUE(meters.addMeter("peak", "NotAnAddress"));
    EXPECT_FALSE(meters.addMeter("", "AudioCompo/#8"));
    EXPECT_FALSE(meters.addMeter("meter", ""));
    EXPECT_EQ(meters.getMeterKeys(), (std::vector<std::string>{"AudioCompo/#7", "NotAnAddress", "Other/#0x10"}));
    EXPECT_EQ(meters.getMeterList(), (std::vector<u32>{7, 16}));

    EXPECT_TRUE(meters.removeMeter("meter", "AudioCompo/#7"));
    EXPECT_EQ(meters.getMeterList(), (std::vector<u32>{7, 16}));
    EXPECT_TRUE(meters.removeMeter("meter", "AudioCompo/#7"));
    EXPECT_FALSE(meters.removeMeter("meter", "AudioCompo/#7"));
    EXPECT_FALSE(meters.removeMeter("", "Other/#0x10"));
    EXPECT_EQ(meters.getMeterList(), (std::vector<u32>{16}));
    EXPECT_TRUE(meters.clear());
    EXPECT_TRUE(meters.getMeterKeys().empty());

    EXPECT_EQ(meters.getInterval(), 60u);
    EXPECT_FALSE(meters.setInterval(59));
    EXPECT_FALSE(meters.setInterval(-1000));
    EXPECT_EQ(meters.getInterval(), 60u);
    EXPECT_TRUE(meters.setInterval(1000));
    EXPECT_EQ(meters.getInterval(), 1000u);
    EXPECT_TRUE(meters.setInterval(60));
    EXPECT_EQ(meters.getInterval(), 60u);
}
