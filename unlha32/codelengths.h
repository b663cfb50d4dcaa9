#pragma once
// The code-length reader of LHA's static-Huffman blocks, as -lh4- to -lh7-,
// -lhx- and LHARK's -lh7- write them: a code for code lengths, the code of
// literals and copy lengths whose lengths it codes, and the position code.
// What the lengths are then built into, and which lone symbols are
// accepted, is each decoder's (fastlzhcodes.cpp, lhark.cpp).
#include "unlha32/bitreader.h"
#include "unlha32/prefixcode.h"

#include <cstdint>

namespace unlha {

// The code for code lengths: 19 symbols, lengths 0 to 16 and three runs of
// unused codes, its lengths counted in 5 bits.
constexpr unsigned kPreCodes = 19;
constexpr unsigned kPreCountBits = 5;
using PreCode = PrefixCode<kPreCodes, 8>;

// One code of a block as the stream gives it: the lengths of its first
// `symbols` symbols (the rest unused), or a lone symbol whose word takes no
// bits, not checked against the size of the code.
struct CodeLengths {
    static constexpr unsigned kCapacity = 510; // LHA's literal/length codes, the most there are
    unsigned symbols = 0;
    int lone = -1;
    uint8_t length[kCapacity];
    unsigned count[kMaxWord + 1]; // how many of them have each length
};

// A length of the pre-code or of the position code: 3 bits, and from 7 on
// one more for each 1 bit before a 0; -1 past 16.
int readLength(BitReader &in);

// The pre-code (`gapAfterThird`: two bits after the third length say how
// many lengths of 0 follow) or the position code: their count in
// `countBits` bits, then the lengths; a count of 0 is followed by a lone
// symbol in as many bits. False for more than `codes` or a length past 16.
bool readSmallLengths(BitReader &in, unsigned countBits, unsigned codes, bool gapAfterThird, CodeLengths &out);

// The literal/length code: its count in 9 bits (0: a lone symbol in 9 bits
// follows), then symbols of `pre`, 0 to 2 for runs of unused codes (one, 3
// to 18, 20 to 531), the others a length plus 2. False for more than
// `codes`, a length past 16, or bits that begin no word of `pre`.
bool readLiteralLengths(BitReader &in, const PreCode &pre, unsigned codes, CodeLengths &out);

} // namespace unlha
