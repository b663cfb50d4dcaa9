#include "unlha32/methods.h"

#include <cstring>

namespace unlha {
namespace {

constexpr Method kMethods[] = {
    {"-lh0-", 0, decodeStored, false},
    {"-lz4-", 0, decodeStored, false}, // LArc
    {"-pm0-", 0, decodeStored, false}, // PMarc
    {"-lhd-", 0, nullptr, false},      // a folder
    {"-lh1-", 12, nullptr, true},
    {"-lh2-", 13, decodeLh2, false},
    {"-lh3-", 13, decodeLh3, false},
    {"-lh4-", 12, decodeFastLzh, true},
    {"-lh5-", 13, decodeFastLzh, true},
    {"-lh6-", 15, decodeFastLzh, true},
    {"-lh7-", 16, decodeFastLzh, true},
    {"-lhx-", 20, decodeFastLzh, true},
    {"-lzs-", 11, nullptr, true}, // LArc
    {"-lz5-", 12, nullptr, true}, // LArc
    {"-pm1-", 13, nullptr, true}, // PMarc
    {"-pm2-", 13, nullptr, true}, // PMarc
};

// LHARK alone writes level-1 headers with a blank for the system; its -lh7-
// cannot be told from LHA's by the data.
constexpr Method kLharkLh7 = {"-lh7-", 16, decodeLhark, false};

} // namespace

const Method *methodOf(const Entry &e)
{
    if (e.level == 1 && e.osId == 0x20 && std::memcmp(e.method, kLharkLh7.name, 5) == 0)
        return &kLharkLh7;
    for (const Method &m : kMethods) {
        if (std::memcmp(e.method, m.name, 5) == 0)
            return &m;
    }
    return nullptr;
}

} // namespace unlha
