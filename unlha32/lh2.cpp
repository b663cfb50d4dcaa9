// -lh2-: LHA 2.x's experimental method. The codes (256 literals, copy
// lengths 3 to 31, and one for 32 on with eight bits more) and the top seven
// bits of each offset are adaptive Huffman codes, updated after every
// symbol; an offset's low six bits follow as they are.
#include "unlha32/lzdecode.h"
#include "unlha32/methods.h"

#include <utility>

namespace unlha {
namespace {

constexpr unsigned kCodes = 286;
constexpr unsigned kLongCopy = kCodes - 1; // eight more bits of length follow
constexpr unsigned kWindow = 8192;
constexpr unsigned kOffsetCodes = kWindow >> 6;
// Weights are halved when the count of symbols reaches this.
constexpr unsigned kRebuildAt = 0x8000;

// Nodes sit in order of weight, heaviest (the root) first, siblings side by
// side. A symbol's count grows by swapping each node on its path with the
// first node of its weight, so that the order holds, before adding one.
// child_[n] is ~symbol for a leaf; for an inner node, the child that bit 0
// leads to, bit 1 leading to the one before it.
class AdaptiveCode {
public:
    // At most `symbols`; the first `present` from the start, each weighing 1.
    AdaptiveCode(unsigned symbols, unsigned present)
        : weight_(2 * symbols - 1), child_(2 * symbols - 1), parent_(2 * symbols - 1), leaf_(symbols),
          size_(2 * present - 1),
          // A single leaf at the root is never weighed: LHA counts its uses from nothing.
          total_(present > 1 ? present : 0)
    {
        unsigned at = size_;
        for (unsigned s = 0; s < present; ++s) {
            --at;
            weight_[at] = 1;
            child_[at] = ~static_cast<int>(s);
            leaf_[s] = at;
        }
        for (unsigned below = size_ - 1; at-- > 0; below -= 2)
            join(at, below);
    }

    // The next symbol, counted.
    unsigned read(BitReader &in)
    {
        int c = child_[0];
        while (c >= 0)
            c = child_[static_cast<unsigned>(c) - in.read(1)];
        const auto s = static_cast<unsigned>(~c);
        count(s);
        return s;
    }

    // A symbol joins as the lightest leaf's sibling, and is counted once.
    void add(unsigned s)
    {
        if (size_ + 2 > weight_.size())
            return;
        const unsigned last = size_ - 1;
        move(last, size_);
        weight_[size_ + 1] = 0;
        child_[size_ + 1] = ~static_cast<int>(s);
        leaf_[s] = size_ + 1;
        child_[last] = static_cast<int>(size_ + 1);
        parent_[size_] = parent_[size_ + 1] = last;
        size_ += 2;
        count(s);
    }

private:
    void join(unsigned n, unsigned below)
    {
        weight_[n] = weight_[below] + weight_[below - 1];
        child_[n] = static_cast<int>(below);
        parent_[below] = parent_[below - 1] = n;
    }

    // The node now at `n` tells its children, or its symbol, where it is.
    void relink(unsigned n)
    {
        if (child_[n] < 0)
            leaf_[~child_[n]] = n;
        else
            parent_[child_[n]] = parent_[child_[n] - 1] = n;
    }

    // Moves the node at `from` to the free position `to`.
    void move(unsigned from, unsigned to)
    {
        weight_[to] = weight_[from];
        child_[to] = child_[from];
        relink(to);
    }

    // Positions keep their parents; the nodes trade places.
    void swap(unsigned a, unsigned b)
    {
        std::swap(weight_[a], weight_[b]);
        std::swap(child_[a], child_[b]);
        relink(a);
        relink(b);
    }

    void count(unsigned s)
    {
        if (total_ == kRebuildAt)
            rebuild();
        for (unsigned n = leaf_[s]; n != 0; n = parent_[n]) {
            // The nodes of n's weight are a run that ends at n: its first
            // is the first node below the root no heavier than n.
            unsigned first = 1;
            for (unsigned end = n; first < end;) {
                const unsigned mid = (first + end) / 2;
                if (weight_[mid] > weight_[n])
                    first = mid + 1;
                else
                    end = mid;
            }
            if (first != n) {
                swap(n, first);
                n = first;
            }
            ++weight_[n];
        }
        ++total_;
    }

    // Halves every leaf's weight and builds the tree again from the
    // lightest up, a new inner node going above the leaves it outweighs.
    void rebuild()
    {
        unsigned leaves = 0;
        for (unsigned n = 0; n < size_; ++n) {
            if (child_[n] < 0) {
                weight_[leaves] = (weight_[n] + 1) / 2;
                child_[leaves] = child_[n];
                ++leaves;
            }
        }
        if (leaves == 1) {
            relink(0);
            total_ = weight_[0];
            return;
        }
        unsigned next = leaves; // leaves not yet placed, the lightest last
        unsigned free = size_;  // positions not yet filled, from the end
        unsigned below = size_ - 1;
        auto placeLeaf = [&] { move(--next, --free); };
        while (free > 0) {
            // The two nodes below the next inner node must be in place first.
            while (below - 1 < free)
                placeLeaf();
            const unsigned w = weight_[below] + weight_[below - 1];
            while (next > 0 && weight_[next - 1] <= w)
                placeLeaf();
            join(--free, below);
            below -= 2;
        }
        total_ = weight_[0];
    }

    std::vector<unsigned> weight_;
    std::vector<int> child_;
    std::vector<unsigned> parent_;
    std::vector<unsigned> leaf_; // where each symbol's leaf is
    unsigned size_;
    unsigned total_;
};

bool run(BitReader &in, History &out)
{
    AdaptiveCode codes(kCodes, kCodes);
    // Offset codes join as the window fills: one for each 64 bytes written
    // before a copy.
    AdaptiveCode offsets(kOffsetCodes, 1);
    unsigned nextOffsetCode = 1;
    while (!out.done()) {
        const unsigned c = codes.read(in);
        if (in.overrun())
            return false;
        if (c < 256) {
            out.put(static_cast<uint8_t>(c));
            continue;
        }
        unsigned length = c - 256 + 3;
        if (c == kLongCopy)
            length += in.read(8);
        for (; nextOffsetCode < kOffsetCodes && nextOffsetCode * 64 < out.position(); ++nextOffsetCode)
            offsets.add(nextOffsetCode);
        const unsigned high = offsets.read(in);
        const unsigned distance = (high << 6 | in.read(6)) + 1;
        if (in.overrun())
            return false;
        out.copy(distance, length);
    }
    return true;
}

} // namespace

DecodeStatus decodeLh2(Decoding &d, const Entry &e, const Method &, const Sink &sink)
{
    return decodeLz(d, e, sink, run);
}

} // namespace unlha
