#pragma once

#include <cstddef>
#include <cstdint>

// The CRC-32 of zip, PNG and Ethernet (reflected polynomial 0xEDB88320), so that a production
// log can be checked against any common tool.
uint32_t Crc32(const unsigned char* data, size_t length);
