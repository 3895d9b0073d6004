#pragma once

#include <string>

// An output endpoint as the engines see it. The id is stable text that can be stored
// and handed back to open the same endpoint; the name is what the user reads.
struct DeviceInfo
{
    std::wstring id;
    std::wstring name;
};
