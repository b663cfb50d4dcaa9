#pragma once
// Every compression method the library reads, in one table: which decoder
// reads it and the size of its history window.
#include "unlha32/lzhheader.h"

namespace unlha {

enum class Coder {
    Stored, // the data as is
    Folder, // -lhd-: a folder, no data
    Fast,   // LHA's static-Huffman methods, by our own decoder (fastlzh.h)
    Lh2,    // LHA 2.x's adaptive Huffman (lzdecode.h)
    Lh3,    // LHA 2.x's static Huffman (lzdecode.h)
    Lhark,  // LHARK's -lh7-, another coding under LHA's name (lzdecode.h)
    Lhasa,  // the rare methods, by lhasa
};

struct Method {
    const char *name;
    Coder coder;
    unsigned dictBits; // log2 of the history window; 0 for none
};

// The entry's method, LHARK's -lh7- told apart by its header; nullptr when
// nothing here reads it.
const Method *methodOf(const Entry &entry);

inline bool methodSupported(const Entry &entry) { return methodOf(entry) != nullptr; }
inline bool isStoredMethod(const Entry &entry)
{
    const Method *m = methodOf(entry);
    return m && m->coder == Coder::Stored;
}

} // namespace unlha
