#pragma once
// MacLHA puts a 128-byte MacBinary header in front of each file's data, and
// the resource fork after it. Only the data fork is extracted, and only when
// the header is surely MacLHA's: a MacBinary file stored on purpose stays whole.
#include "unlha32/lzhheader.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace unlha {

constexpr std::size_t kMacBinaryHeader = 128;

// The data fork's length when `h` (the first 128 decoded bytes of `e`) is
// MacLHA's header for this very entry; nothing otherwise.
std::optional<uint64_t> macLhaDataFork(const uint8_t *h, const Entry &e);

// Keeps only the data fork of the finished file open on `fd` (readable and
// writable): the header goes, and whatever follows the fork. False with
// errno set when the file could not be rewritten.
bool keepDataFork(int fd, uint64_t dataLength);

} // namespace unlha
