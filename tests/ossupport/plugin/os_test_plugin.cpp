// A tiny plug-in loaded by the dynamic-library suite.

extern "C" __attribute__((visibility("default"))) int osTestPluginAnswer(int value)
{
    return value * 2 + 1;
}

extern "C" __attribute__((visibility("default"))) const char* osTestPluginName()
{
    return "os test plug-in";
}
