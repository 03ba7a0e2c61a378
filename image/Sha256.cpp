#include "image/Sha256.h"

#include <cstdio>

namespace
{

// The first 32 bits of the fractional parts of the cube roots of the first 64 primes.
const uint32_t RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

// The first 32 bits of the fractional parts of the square roots of the first 8 primes.
const uint32_t InitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

uint32_t RotateRight(uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}

uint32_t BigEndianWord(const unsigned char* bytes)
{
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           uint32_t{bytes[3]};
}

void Compress(uint32_t state[8], const unsigned char block[64])
{
    uint32_t w[64];
    for (size_t t = 0; t < 16; ++t)
    {
        w[t] = BigEndianWord(block + 4 * t);
    }
    for (int t = 16; t < 64; ++t)
    {
        uint32_t s0 = RotateRight(w[t - 15], 7) ^ RotateRight(w[t - 15], 18) ^ (w[t - 15] >> 3);
        uint32_t s1 = RotateRight(w[t - 2], 17) ^ RotateRight(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t v[8];
    for (int i = 0; i < 8; ++i)
    {
        v[i] = state[i];
    }
    for (int t = 0; t < 64; ++t)
    {
        uint32_t e = v[4];
        uint32_t a = v[0];
        uint32_t choice = (e & v[5]) ^ (~e & v[6]);
        uint32_t majority = (a & v[1]) ^ (a & v[2]) ^ (v[1] & v[2]);
        uint32_t t1 = v[7] + (RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25)) +
                      choice + RoundConstants[t] + w[t];
        uint32_t t2 = (RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22)) + majority;
        for (int i = 7; i > 0; --i)
        {
            v[i] = v[i - 1];
        }
        v[4] += t1;
        v[0] = t1 + t2;
    }
    for (int i = 0; i < 8; ++i)
    {
        state[i] += v[i];
    }
}

} // namespace

void StartSha256(CSha256& hash)
{
    for (int i = 0; i < 8; ++i)
    {
        hash.State[i] = InitialState[i];
    }
    hash.Filled = 0;
    hash.TotalBits = 0;
}

void AddToSha256(CSha256& hash, const unsigned char* data, size_t length)
{
    hash.TotalBits += static_cast<uint64_t>(length) * 8;
    for (size_t i = 0; i < length; ++i)
    {
        hash.Block[hash.Filled++] = data[i];
        if (hash.Filled == sizeof hash.Block)
        {
            Compress(hash.State, hash.Block);
            hash.Filled = 0;
        }
    }
}

// The padding: one 1 bit, zeros up to 8 bytes short of a block's end, then the message length
// in bits, big-endian.
void FinishSha256(CSha256& hash, unsigned char digest[Sha256DigestLength])
{
    uint64_t totalBits = hash.TotalBits;
    const unsigned char one = 0x80;
    const unsigned char zero = 0;
    AddToSha256(hash, &one, 1);
    while (hash.Filled != 56)
    {
        AddToSha256(hash, &zero, 1);
    }
    unsigned char length[8];
    for (int i = 0; i < 8; ++i)
    {
        length[i] = static_cast<unsigned char>(totalBits >> (56 - 8 * i));
    }
    AddToSha256(hash, length, sizeof length);
    for (int i = 0; i < Sha256DigestLength; ++i)
    {
        digest[i] = static_cast<unsigned char>(hash.State[i / 4] >> (24 - 8 * (i % 4)));
    }
}

void Sha256Hex(const unsigned char digest[Sha256DigestLength],
               char text[2 * Sha256DigestLength + 1])
{
    for (size_t i = 0; i < Sha256DigestLength; ++i)
    {
        snprintf(text + 2 * i, 3, "%02x", digest[i]);
    }
}
