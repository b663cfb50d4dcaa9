// Our -lh4-..-lh7-/-lhx- decoder against lhasa's on the same stream.
// Input: one byte picking the method, three bytes of original size (little
// endian, up to 16 MiB), then the compressed stream.
//
// Where ours finishes, lhasa must deliver exactly the same bytes, all of
// them. Where ours declines (damage), the library lets lhasa decode the
// entry instead, so the extracted result is lhasa's by construction; what
// is checked then is that ours delivered no more than the size and stayed
// within its buffers (the sanitizers).
#include "tests/fuzz/fuzz_support.h"
#include "unlha32/fastlzh.h"

#include <lha_decoder.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Memory {
    const uint8_t *p;
    size_t left;
    size_t piece = 0; // when set, reads end at such steps, uneven ones
    size_t read(uint8_t *buf, size_t len)
    {
        if (piece != 0) {
            len = len < piece ? len : piece;
            piece = piece * 7 % 251 + 1;
        }
        const size_t n = len < left ? len : left;
        std::memcpy(buf, p, n);
        p += n;
        left -= n;
        return n;
    }
};

const char *const kMethods[] = {"-lh4-", "-lh5-", "-lh6-", "-lh7-", "-lhx-"};
const unsigned kDictBits[] = {12, 13, 15, 16, 20};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const unsigned m = data[0] % 5;
    const uint64_t original = data[1] | data[2] << 8 | (data[3] & 0xFF) << 16;
    const uint8_t *stream = data + 4;
    const size_t streamSize = size - 4;

    static unlha::FastLzh ours;
    std::vector<uint8_t> mine;
    // Ours is also fed in short pieces, when the size's low byte is odd:
    // the decoder then often runs short of input within a block.
    Memory a{stream, streamSize, data[1] & 1 ? size_t{data[1]} : 0};
    const unlha::DecodeStatus st = ours.decode(
        kDictBits[m], [&a](uint8_t *buf, size_t len) { return a.read(buf, len); }, original,
        [&mine](const uint8_t *d, size_t n) {
            mine.insert(mine.end(), d, d + n);
            return true;
        });
    fuzz::check(st == unlha::DecodeStatus::Ok || st == unlha::DecodeStatus::Damaged, "status");
    fuzz::check(mine.size() <= original, "more than the original size");
    if (st != unlha::DecodeStatus::Ok)
        return 0;
    fuzz::check(mine.size() == original, "finished short of the original size");

    char name[6];
    std::memcpy(name, kMethods[m], 6);
    LHADecoderType *type = lha_decoder_for_name(name);
    fuzz::check(type != nullptr, "lhasa lacks the method", kMethods[m]);
    Memory b{stream, streamSize};
    auto feed = [](void *buf, size_t len, void *user) -> size_t {
        return static_cast<Memory *>(user)->read(static_cast<uint8_t *>(buf), len);
    };
    LHADecoder *d = lha_decoder_new(type, feed, &b, static_cast<size_t>(original));
    fuzz::check(d != nullptr, "lhasa decoder");
    std::vector<uint8_t> theirs;
    std::vector<uint8_t> buf(64 * 1024);
    while (theirs.size() < original) {
        const size_t n = lha_decoder_read(d, buf.data(), buf.size());
        if (n == 0)
            break;
        theirs.insert(theirs.end(), buf.data(), buf.data() + n);
    }
    lha_decoder_free(d);
    fuzz::check(theirs.size() == original, "ours finished, lhasa did not", kMethods[m]);
    size_t at = 0;
    while (at < original && mine[at] == theirs[at])
        ++at;
    fuzz::check(at == original, "bytes differ from lhasa's", kMethods[m] + (" at " + std::to_string(at)));
    return 0;
}
