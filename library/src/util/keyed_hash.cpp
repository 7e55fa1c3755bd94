// SipHash-1-3 of texts under a key drawn once per process.
#include "util/keyed_hash.h"

#include <cstdint>
#include <cstring>
#include <random>

namespace quelbo {
namespace util {

namespace {

struct Key
{
    uint64_t k0, k1;
};

Key const& key()
{
    static Key const k = [] {
        std::random_device device;
        auto draw = [&] { return uint64_t(device()) << 32 | uint64_t(device()); };
        return Key{draw(), draw()};
    }();
    return k;
}

inline uint64_t rotl(uint64_t x, int b)
{
    return (x << b) | (x >> (64 - b));
}

struct State
{
    uint64_t v0, v1, v2, v3;

    void round()
    {
        v0 += v1;
        v1 = rotl(v1, 13);
        v1 ^= v0;
        v0 = rotl(v0, 32);
        v2 += v3;
        v3 = rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotl(v1, 17);
        v1 ^= v2;
        v2 = rotl(v2, 32);
    }
    void absorb(uint64_t m)
    {
        v3 ^= m;
        round();
        v0 ^= m;
    }
};

} // namespace

std::size_t KeyedHash::operator()(std::string_view text) const
{
    Key const& k = key();
    State s{k.k0 ^ 0x736f6d6570736575ULL, k.k1 ^ 0x646f72616e646f6dULL, k.k0 ^ 0x6c7967656e657261ULL,
            k.k1 ^ 0x7465646279746573ULL};
    std::size_t const n = text.size();
    char const* p = text.data();
    std::size_t const whole = n & ~std::size_t(7);
    for (std::size_t i = 0; i < whole; i += 8) {
        uint64_t m;
        std::memcpy(&m, p + i, 8); // little-endian, as the machine
        s.absorb(m);
    }
    uint64_t last = uint64_t(n) << 56;
    for (std::size_t i = whole; i < n; ++i)
        last |= uint64_t(uint8_t(p[i])) << (8 * (i - whole));
    s.absorb(last);
    s.v2 ^= 0xff;
    for (int i = 0; i < 3; ++i)
        s.round();
    return std::size_t(s.v0 ^ s.v1 ^ s.v2 ^ s.v3);
}

} // namespace util
} // namespace quelbo
