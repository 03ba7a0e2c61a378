#pragma once

// The image that the station and serial-number tests flash: 200 bytes, three whole blocks and a
// partial one, onto boards whose erase takes no time.
#include <cstdint>
#include <string>
#include <vector>

const int StationImageLength = 200;
inline const std::vector<std::string> Quick = {"--erase-ms", "0"};

inline std::vector<uint8_t> Plain()
{
    std::vector<uint8_t> image(StationImageLength);
    for (int i = 0; i < StationImageLength; ++i)
    {
        image[i] = static_cast<uint8_t>(i * 13 + 5);
    }
    return image;
}
