#include "unlha32/lzdecode.h"

#include <cstring>

namespace unlha {

DecodeStatus decodeOwn(int fd, const Entry &e, const Sink &sink, std::vector<uint8_t> &input,
                       std::vector<uint8_t> &history)
{
    BitInput in(fd, e.dataOffset, e.dataOffset + e.packedSize, input);
    History out(history, e.originalSize, sink);
    bool intact = false;
    const Method *m = methodOf(e);
    switch (m ? m->coder : Coder::Lhasa) {
    case Coder::Lh2: intact = decodeLh2(in, out); break;
    case Coder::Lh3: intact = decodeLh3(in, out); break;
    case Coder::Lhark: intact = decodeLhark(in, out); break;
    default: return DecodeStatus::Method;
    }
    if (out.stopped())
        return DecodeStatus::Stopped;
    if (in.readError())
        return DecodeStatus::ReadError;
    if (!intact || in.failed())
        return DecodeStatus::Damaged;
    return out.finish() ? DecodeStatus::Ok : DecodeStatus::Stopped;
}

void BitInput::fill()
{
    while (count_ <= 56) {
        if (at_ == filled_) {
            filled_ = window_.read(buffer_.data(), buffer_.size());
            at_ = 0;
            if (filled_ == 0) {
                count_ += 8;
                padding_ += 8;
                continue;
            }
        }
        bits_ |= static_cast<uint64_t>(buffer_[at_++]) << (56 - count_);
        count_ += 8;
    }
}

History::History(std::vector<uint8_t> &ring, uint64_t size, const Sink &sink) : sink_(sink), left_(size)
{
    ring.resize(kSize);
    std::memset(ring.data(), ' ', kSize);
    ring_ = ring.data();
}

void History::deliver(size_t n)
{
    if (!sink_(ring_, n))
        stopped_ = true;
}

bool History::finish()
{
    const size_t n = pos_ & kMask;
    if (n > 0 && !stopped_)
        deliver(n);
    return !stopped_;
}

bool HuffmanCode::assign(const uint8_t *lengths, unsigned n)
{
    only_ = -1;
    count_.fill(0);
    for (unsigned s = 0; s < n; ++s) {
        if (lengths[s] > kMaxLength)
            return false;
        ++count_[lengths[s]];
    }
    count_[0] = 0;
    int room = 1;
    std::array<uint16_t, kMaxLength + 2> offset{};
    std::array<uint32_t, kMaxLength + 1> next{};
    uint32_t word = 0;
    for (unsigned len = 1; len <= kMaxLength; ++len) {
        room = room * 2 - count_[len];
        if (room < 0)
            return false;
        offset[len + 1] = static_cast<uint16_t>(offset[len] + count_[len]);
        word = (word + count_[len - 1]) << 1;
        next[len] = word;
    }
    fast_.fill(0);
    for (unsigned s = 0; s < n; ++s) {
        const unsigned len = lengths[s];
        if (len == 0)
            continue;
        symbols_[offset[len]++] = static_cast<uint16_t>(s);
        const uint32_t w = next[len]++;
        if (len <= kFastBits) {
            const unsigned first = w << (kFastBits - len);
            const uint16_t entry = static_cast<uint16_t>(s << 5 | len);
            for (unsigned i = 0; i < (1u << (kFastBits - len)); ++i)
                fast_[first + i] = entry;
        }
    }
    return true;
}

int HuffmanCode::read(BitInput &in) const
{
    if (only_ >= 0)
        return only_;
    const uint32_t bits = in.peek(kMaxLength);
    const uint16_t entry = fast_[bits >> (kMaxLength - kFastBits)];
    if (entry != 0) {
        in.skip(entry & 31);
        return entry >> 5;
    }
    // Longer words: the canonical walk, one length at a time.
    int word = 0;
    int first = 0;
    int index = 0;
    for (unsigned len = 1; len <= kMaxLength; ++len) {
        word |= static_cast<int>((bits >> (kMaxLength - len)) & 1);
        const int n = count_[len];
        if (word - first < n) {
            in.skip(len);
            return symbols_[static_cast<size_t>(index + word - first)];
        }
        index += n;
        first = (first + n) << 1;
        word <<= 1;
    }
    return -1;
}

} // namespace unlha
