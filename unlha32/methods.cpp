#include "unlha32/methods.h"

#include <cstring>

namespace unlha {
namespace {

constexpr Method kMethods[] = {
    {"-lh0-", Coder::Stored, 0},
    {"-lz4-", Coder::Stored, 0}, // LArc
    {"-pm0-", Coder::Stored, 0}, // PMarc
    {"-lhd-", Coder::Folder, 0},
    {"-lh1-", Coder::Lhasa, 12},
    {"-lh2-", Coder::Lh2, 13},
    {"-lh3-", Coder::Lh3, 13},
    {"-lh4-", Coder::Fast, 12},
    {"-lh5-", Coder::Fast, 13},
    {"-lh6-", Coder::Fast, 15},
    {"-lh7-", Coder::Fast, 16},
    {"-lhx-", Coder::Fast, 20},
    {"-lzs-", Coder::Lhasa, 11}, // LArc
    {"-lz5-", Coder::Lhasa, 12}, // LArc
    {"-pm1-", Coder::Lhasa, 13}, // PMarc
    {"-pm2-", Coder::Lhasa, 13}, // PMarc
};

// LHARK alone writes level-1 headers with a blank for the system; its -lh7-
// cannot be told from LHA's by the data.
constexpr Method kLharkLh7 = {"-lh7-", Coder::Lhark, 16};

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
