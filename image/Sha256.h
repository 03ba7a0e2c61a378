#pragma once

#include <cstddef>
#include <cstdint>

// SHA-256 (FIPS 180-4), so that a run record names the image file as `sha256sum` does. The bytes
// may come in pieces of any length; nothing is allocated.
//
//     CSha256 hash;
//     StartSha256(hash);
//     AddToSha256(hash, data, length);   (as often as needed)
//     FinishSha256(hash, digest);
const int Sha256DigestLength = 32;

struct CSha256
{
    uint32_t State[8];
    unsigned char Block[64];
    size_t Filled;      // bytes waiting in Block
    uint64_t TotalBits; // of the whole message so far
};

void StartSha256(CSha256& hash);
void AddToSha256(CSha256& hash, const unsigned char* data, size_t length);
void FinishSha256(CSha256& hash, unsigned char digest[Sha256DigestLength]);
// The digest as sha256sum writes it: 64 lower-case hexadecimal digits, then a terminating zero.
void Sha256Hex(const unsigned char digest[Sha256DigestLength],
               char text[2 * Sha256DigestLength + 1]);
