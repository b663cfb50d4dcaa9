#include "unlha32/codelengths.h"

#include <algorithm>

namespace unlha {
namespace {

void clear(CodeLengths &out, unsigned n)
{
    out.lone = -1;
    out.symbols = n;
    std::memset(out.length, 0, n);
    std::fill(out.count, out.count + kMaxWord + 1, 0u);
}

} // namespace

int readLength(BitReader &in)
{
    in.refill();
    unsigned len = in.get(3);
    if (len == 7) {
        while (in.get(1) == 1) {
            if (++len > kMaxWord)
                return -1;
            in.refill();
        }
    }
    return static_cast<int>(len);
}

bool readSmallLengths(BitReader &in, unsigned countBits, unsigned codes, bool gapAfterThird, CodeLengths &out)
{
    in.refill();
    const unsigned n = in.get(countBits);
    if (n == 0) {
        out.symbols = 0;
        out.lone = static_cast<int>(in.get(countBits));
        return true;
    }
    if (n > codes || n > CodeLengths::kCapacity)
        return false;
    clear(out, n);
    for (unsigned i = 0; i < n; ++i) {
        const int len = readLength(in);
        if (len < 0)
            return false;
        out.length[i] = static_cast<uint8_t>(len);
        ++out.count[len];
        if (gapAfterThird && i == 2) {
            in.refill();
            i += in.get(2);
        }
    }
    return true;
}

bool readLiteralLengths(BitReader &in, const PreCode &pre, unsigned codes, CodeLengths &out)
{
    in.refill();
    const unsigned n = in.get(9);
    if (n == 0) {
        out.symbols = 0;
        out.lone = static_cast<int>(in.get(9));
        return true;
    }
    if (n > codes || n > CodeLengths::kCapacity)
        return false;
    clear(out, n);
    unsigned i = 0;
    while (i < n) {
        in.refill();
        const unsigned c = pre.decode(in);
        if (c > 2) {
            // Past the lengths: a lone pre-code symbol out of range, or
            // bits that begin no word (PreCode::kNone).
            if (c - 2 > kMaxWord)
                return false;
            out.length[i++] = static_cast<uint8_t>(c - 2);
            ++out.count[c - 2];
            continue;
        }
        unsigned skip = 1;
        if (c == 1)
            skip = in.get(4) + 3;
        else if (c == 2)
            skip = in.get(9) + 20;
        i = std::min(n, i + skip);
    }
    return true;
}

} // namespace unlha
