#pragma once
// Every compression method the library reads, in one table (methods.cpp):
// the size of its history window and what decodes it. A method is added
// as its decoder's file and one row (docs/library.md).
#include "unlha32/decoder.h"
#include "unlha32/lzhheader.h"

namespace unlha {

struct Method;

// Decodes an entry's data to the sink. ReadError where the archive could
// not be read, Damaged where the data breaks the method's rules.
using DecodeFn = DecodeStatus (*)(Decoding &, const Entry &, const Method &, const Sink &);

struct Method {
    const char *name;
    unsigned dictBits; // log2 of the history window; 0 for none
    // Our own decoder; nullptr where lhasa alone reads the method, and for
    // folders, which have no data.
    DecodeFn decode;
    // lhasa reads the method too: it decodes from the first byte whatever
    // ours turns down, and is the yardstick that ours is held against
    // (makeReferenceDecoder).
    bool lhasa;
};

// The decoders the table names, each in a file of its own.
DecodeStatus decodeStored(Decoding &, const Entry &, const Method &, const Sink &);  // decoder.cpp
DecodeStatus decodeFastLzh(Decoding &, const Entry &, const Method &, const Sink &); // fastlzh.cpp
DecodeStatus decodeLh2(Decoding &, const Entry &, const Method &, const Sink &);     // lh2.cpp
DecodeStatus decodeLh3(Decoding &, const Entry &, const Method &, const Sink &);     // lh3.cpp
DecodeStatus decodeLhark(Decoding &, const Entry &, const Method &, const Sink &);   // lhark.cpp

// The entry's method, LHARK's -lh7- told apart by its header; nullptr when
// nothing here reads it.
const Method *methodOf(const Entry &entry);

inline bool methodSupported(const Entry &entry) { return methodOf(entry) != nullptr; }

} // namespace unlha
