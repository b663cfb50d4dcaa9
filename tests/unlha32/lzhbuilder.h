#pragma once
// Builds small LHA archives (header levels 0 to 3) of stored (-lh0-) entries
// byte by byte, so that the tests can craft any name, mode or damage they need.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QtGlobal>

#include <algorithm>
#include <optional>

namespace testlzh {

// Bit by bit, independent of the library's table-driven version.
inline quint16 crc16(const QByteArray &data, quint16 crc = 0)
{
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

struct Item {
    QByteArray name;            // raw bytes; level 0/1 may hold a '\' path
    QByteArray dir;             // raw bytes of extended header 0x02 (level 1, 2)
    QByteArray data;
    QByteArray method = "-lh0-";
    std::optional<quint16> mode;// Unix st_mode (extension 'U' at level 0, 0x50 else)
    quint32 mtime = 1262304000; // 2010-01-01 UTC
    bool badCrc = false;
    bool directory = false;     // -lhd-
    char os = 'U';              // OS id (levels 1 to 3)
    std::optional<char> level0Os;           // level 0 without a mode: an extension of the OS id alone
    QList<QPair<char, QByteArray>> extra;   // more extended headers (levels 1 to 3), in order
    std::optional<QByteArray> packed;       // stored in place of `data`, which it decodes to
    bool packedLeavesOutExtensions = false; // level 1: the packed size counts the data only
    std::optional<quint32> claimedSize;     // original size in the header, when not the data's
    int pad = 0;                            // zero bytes after the extended headers (levels 2, 3)

    Item(QByteArray n, QByteArray d = {}, QByteArray content = {}, QByteArray m = "-lh0-",
         std::optional<quint16> unixMode = {}, quint32 time = 1262304000)
        : name(std::move(n)), dir(std::move(d)), data(std::move(content)), method(std::move(m)),
          mode(unixMode), mtime(time)
    {
    }
};

inline void put16(QByteArray &b, quint16 v) { b.append(char(v & 0xFF)).append(char(v >> 8)); }
inline void put32(QByteArray &b, quint32 v) { put16(b, quint16(v & 0xFFFF)); put16(b, quint16(v >> 16)); }

// What an entry stores after its header.
inline QByteArray stored(const Item &it) { return it.directory ? QByteArray() : it.packed.value_or(it.data); }

inline QByteArray header(const Item &it, int level)
{
    const QByteArray method = it.directory ? QByteArray("-lhd-") : it.method;
    const QByteArray data = it.directory ? QByteArray() : it.data;
    const int packedSize = int(stored(it).size());
    quint16 crc = crc16(data);
    if (it.badCrc)
        crc ^= 0x5A5A;
    // MS-DOS date 2010-01-01 00:00 (local), used where no Unix time is stored.
    const quint32 dosTime = (quint32(2010 - 1980) << 25) | (1u << 21) | (1u << 16);
    QByteArray h;
    if (level == 0 || level == 1) {
        h.append('\0').append('\0').append(method);
        put32(h, quint32(packedSize)); // level 1: patched below
        put32(h, it.claimedSize.value_or(quint32(data.size())));
        put32(h, dosTime);
        h.append(char(level == 1 ? 0x20 : 0x00)).append(char(level));
        h.append(char(it.name.size())).append(it.name);
        put16(h, crc);
        QByteArray chain;
        if (level == 0 && it.mode) {
            h.append('U').append('\0');
            put32(h, it.mtime);
            put16(h, *it.mode);
            put16(h, 1000);
            put16(h, 1000);
        } else if (level == 0 && it.level0Os) {
            h.append(*it.level0Os);
        }
        if (level == 1) {
            h.append(it.os);
            // Each size counts its whole extension; the base header holds
            // the first, each extension the next.
            QList<QByteArray> parts;
            if (!it.dir.isEmpty())
                parts.append(char(0x02) + it.dir);
            if (it.mode) {
                QByteArray m(1, char(0x50));
                put16(m, *it.mode);
                parts.append(m);
            }
            QByteArray t(1, char(0x54));
            put32(t, it.mtime);
            parts.append(t);
            for (const auto &[type, payload] : it.extra)
                parts.append(type + payload);
            put16(h, quint16(parts[0].size() + 2));
            for (int i = 0; i < parts.size(); ++i) {
                chain.append(parts[i]);
                put16(chain, quint16(i + 1 < parts.size() ? parts[i + 1].size() + 2 : 0));
            }
            // The packed size of a level-1 entry counts its extensions.
            QByteArray packed;
            put32(packed, quint32(packedSize + (it.packedLeavesOutExtensions ? 0 : chain.size())));
            h.replace(7, 4, packed);
        }
        h[0] = char(h.size() - 2);
        quint8 sum = 0;
        for (int i = 2; i < h.size(); ++i)
            sum = quint8(sum + quint8(h[i]));
        h[1] = char(sum);
        return h + chain;
    }

    // Levels 2 and 3: one size for the whole header, then extensions with a
    // header CRC over all of it. Level 3 uses four-byte sizes.
    const bool l3 = level == 3;
    auto putSize = [&](QByteArray &b, quint32 v) { l3 ? put32(b, v) : put16(b, quint16(v)); };
    const int sizeField = l3 ? 4 : 2;
    h.append('\0').append('\0').append(method);
    if (l3)
        h[0] = 4;
    put32(h, quint32(packedSize));
    put32(h, it.claimedSize.value_or(quint32(data.size())));
    put32(h, it.mtime);
    h.append(char(0x20)).append(char(level));
    put16(h, crc);
    h.append(it.os);
    if (l3)
        put32(h, 0); // total size, patched below
    QList<QByteArray> parts;
    auto part = [&](char type, const QByteArray &payload) {
        QByteArray e;
        e.append(type).append(payload);
        parts.append(e);
    };
    part(0x00, QByteArray(2, '\0'));
    if (!it.name.isEmpty())
        part(0x01, it.name);
    if (!it.dir.isEmpty())
        part(0x02, it.dir);
    if (it.mode) {
        QByteArray m;
        put16(m, *it.mode);
        part(0x50, m);
    }
    for (const auto &[type, payload] : it.extra)
        part(type, payload);
    putSize(h, quint32(parts[0].size() + sizeField));
    const int crcPos = h.size() + 1;
    for (int i = 0; i < parts.size(); ++i) {
        h.append(parts[i]);
        putSize(h, quint32(i + 1 < parts.size() ? parts[i + 1].size() + sizeField : 0));
    }
    h.append(QByteArray(it.pad, '\0'));
    QByteArray size;
    if (l3) {
        put32(size, quint32(h.size()));
        h.replace(24, 4, size);
    } else {
        put16(size, quint16(h.size()));
        h.replace(0, 2, size);
    }
    QByteArray hc;
    put16(hc, crc16(h));
    h.replace(crcPos, 2, hc);
    return h;
}

inline QByteArray archive(const QList<Item> &items, int level, bool terminator = true)
{
    QByteArray a;
    for (const auto &it : items)
        a += header(it, level) + stored(it);
    if (terminator)
        a.append('\0');
    return a;
}

// Unix file kinds, for Item::mode.
constexpr quint16 kFile = 0100000;
constexpr quint16 kFifo = 0010000;
constexpr quint16 kLink = 0120000;

// A -lh5- stream of `data` that codes every byte as a literal of 8 bits:
// the table of code lengths has one symbol, which gives each of the 256
// literals the length 8, so that their codes are the bytes themselves.
inline QByteArray lh5Literals(const QByteArray &data)
{
    QByteArray out;
    quint32 acc = 0;
    int bits = 0;
    auto put = [&](quint32 v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            acc = (acc << 1) | ((v >> i) & 1);
            if (++bits == 8) {
                out.append(char(acc));
                acc = 0;
                bits = 0;
            }
        }
    };
    for (int at = 0; at < data.size();) {
        const int block = std::min<int>(int(data.size()) - at, 0xFFFF);
        put(quint32(block), 16);
        put(0, 5), put(10, 5);  // code lengths: one symbol, 10 (a length of 8)
        put(256, 9);            // literals 0 to 255 have a code
        put(0, 4), put(0, 4);   // positions: one symbol, never used
        for (int i = 0; i < block; ++i)
            put(quint8(data[at + i]), 8);
        at += block;
    }
    if (bits > 0)
        put(0, 8 - bits);
    return out;
}

// A file compressed as -lh5-.
inline Item lh5Item(const QByteArray &name, const QByteArray &data)
{
    Item it{name, {}, data, "-lh5-"};
    it.packed = lh5Literals(data);
    return it;
}

// A symbolic link, written as archivers write one: "name|target".
inline Item linkItem(const QByteArray &name, const QByteArray &target)
{
    Item it{name + "|" + target};
    it.directory = true;
    it.mode = kLink | 0777;
    return it;
}

} // namespace testlzh
