// The pieces the library's own decoders share, each held against a plain
// bit-by-bit version written here: the bit reader, the prefix-code tables,
// the code-length reader of static-Huffman blocks. Then the method table's
// dispatch: ours first, lhasa decoding from the first byte what ours turns
// down.
#include "unlha32/bitreader.h"
#include "unlha32/codelengths.h"
#include "unlha32/decoder.h"
#include "unlha32/methods.h"
#include "unlha32/prefixcode.h"

#include <QTemporaryFile>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <vector>

Q_DECLARE_METATYPE(unlha::Unused)

namespace {

// Bits, most significant first.
struct BitWriter {
    QByteArray bytes;
    unsigned used = 0; // bits of the last byte

    BitWriter &put(uint32_t value, unsigned n)
    {
        for (unsigned i = n; i-- > 0;) {
            if (used % 8 == 0)
                bytes.append('\0');
            if (value >> i & 1)
                bytes[bytes.size() - 1] = char(bytes.back() | 1 << (7 - used % 8));
            ++used;
        }
        return *this;
    }
    // A pre-code or position length: 3 bits, from 7 on a 1 for each more.
    BitWriter &length(unsigned len)
    {
        put(std::min(len, 7u), 3);
        if (len >= 7) {
            for (unsigned i = 7; i < len; ++i)
                put(1, 1);
            put(0, 1);
        }
        return *this;
    }
};

// The bit at `i` of `data`, zero past its end.
unsigned bitAt(const QByteArray &data, uint64_t i)
{
    return i / 8 < uint64_t(data.size()) ? (uchar(data[int(i / 8)]) >> (7 - i % 8)) & 1 : 0;
}

QByteArray noise(int n, quint32 x)
{
    QByteArray b(n, '\0');
    for (auto &c : b)
        c = char((x = x * 1103515245u + 12345u) >> 16);
    return b;
}

// Serves `data` in reads of at most `piece` bytes (0: as asked).
struct Source {
    QByteArray data;
    int piece = 0;
    int at = 0;
    unlha::BitReader::Read read = [this](uint8_t *buf, size_t len) {
        size_t n = std::min(len, size_t(data.size() - at));
        if (piece > 0)
            n = std::min(n, size_t(piece));
        std::memcpy(buf, data.constData() + at, n);
        at += int(n);
        return n;
    };
    explicit Source(QByteArray d, int p = 0) : data(std::move(d)), piece(p) {}
    Source(const Source &) = delete;
};

// Canonical words as LHA assigns them, the plain way: by length, then by
// symbol, each the one after the last, widened to its length.
struct Word {
    int symbol;
    unsigned length;
    uint32_t bits;
};
std::vector<Word> canonicalWords(const QList<int> &lengths)
{
    std::vector<Word> words;
    for (int s = 0; s < lengths.size(); ++s)
        if (lengths[s] > 0)
            words.push_back({s, unsigned(lengths[s]), 0});
    std::stable_sort(words.begin(), words.end(), [](const Word &a, const Word &b) { return a.length < b.length; });
    uint32_t code = 0;
    unsigned last = 0;
    for (auto &w : words) {
        code <<= w.length - last;
        last = w.length;
        w.bits = code++;
    }
    return words;
}

// The symbol whose word begins the 16 bits `p`, or -1.
const Word *wordOf(const std::vector<Word> &words, uint32_t p)
{
    for (const auto &w : words)
        if (p >> (16 - w.length) == w.bits)
            return &w;
    return nullptr;
}

using TestCode = unlha::PrefixCode<40, 6>; // short first look-up: longer words take the second

// An -lh5- block whose every symbol is `literal`, taking no bits.
void loneLiteralBlock(BitWriter &w, unsigned count, unsigned literal)
{
    w.put(count, 16).put(0, 5).put(0, 5).put(0, 9).put(literal, 9).put(0, 4).put(0, 4);
}

// An -lh5- block of one literal whose position code leaves words over: LHA
// reads it, our static-Huffman decoder turns it down.
void incompleteBlock(BitWriter &w, unsigned literal)
{
    w.put(1, 16).put(0, 5).put(0, 5).put(0, 9).put(literal, 9).put(1, 4).length(1);
}

} // namespace

class DecodersTest : public QObject {
    Q_OBJECT

private slots:
    void bitReader_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("piece");
        QTest::newRow("empty") << 0 << 0;
        QTest::newRow("one byte") << 1 << 0;
        QTest::newRow("less than a word") << 7 << 0;
        QTest::newRow("read a byte at a time") << 1000 << 1;
        QTest::newRow("read in uneven pieces") << 5000 << 13;
        QTest::newRow("as large as the input buffer") << int(unlha::BitReader::kInputSize) << 0;
        QTest::newRow("one byte more than the input buffer") << int(unlha::BitReader::kInputSize) + 1 << 0;
        QTest::newRow("past the input buffer in pieces") << 70001 << 4099;
    }

    // Every width from 0 to 32, through both ways of reading, gives the
    // stream's bits; past its end zeros, and the stream is cut short from
    // the first of them taken on, for good.
    void bitReader()
    {
        QFETCH(int, size);
        QFETCH(int, piece);
        const QByteArray data = noise(size, quint32(size));
        Source src(data, piece);
        std::vector<uint8_t> buf;
        unlha::BitReader in(src.read, buf);
        const uint64_t end = uint64_t(size) * 8;
        uint64_t at = 0;
        for (unsigned step = 0; at + 40 < end + 200; ++step) {
            const unsigned n = (step * 7) % 33;
            uint32_t got;
            if (step % 2) {
                got = in.read(n);
            } else {
                in.refill();
                got = n ? in.get(n) : 0;
            }
            uint32_t want = 0;
            for (unsigned i = 0; i < n; ++i)
                want = want << 1 | bitAt(data, at + i);
            at += n;
            QCOMPARE(got, want);
            QCOMPARE(in.overrun(), at > end);
        }
        // Taken down to no bits, then refilled with zeros only, without
        // taking any of them: still cut short.
        in.skip(in.count_);
        in.refill();
        QVERIFY(in.overrun());
        QCOMPARE(in.read(32), 0u);
        QVERIFY(in.overrun());
    }

    void prefixCode_data()
    {
        QTest::addColumn<QList<int>>("lengths");
        QTest::addColumn<unlha::Unused>("unused");
        QTest::addColumn<bool>("accepted");
        const auto refused = unlha::Unused::Refused;
        const auto allowed = unlha::Unused::Allowed;
        QTest::newRow("short words only") << QList<int>{2, 1, 3, 3} << refused << true;
        QList<int> longest;
        for (int len = 1; len <= 16; ++len)
            longest << len;
        longest << 16;
        QTest::newRow("words up to 16 bits, second tables") << longest << refused << true;
        QTest::newRow("unused symbols between") << QList<int>{0, 2, 0, 0, 2, 2, 3, 0, 3} << refused << true;
        QTest::newRow("incomplete, short words") << QList<int>{2, 2, 3} << allowed << true;
        QTest::newRow("incomplete, words past the first look-up")
            << QList<int>{1, 0, 8, 8, 9, 12} << allowed << true;
        QTest::newRow("incomplete where refused") << QList<int>{2, 2, 3} << refused << false;
        QTest::newRow("no words") << QList<int>{0, 0, 0} << allowed << true;
        QTest::newRow("no words where refused") << QList<int>{0, 0, 0} << refused << false;
        QTest::newRow("more words than there are") << QList<int>{1, 1, 1} << allowed << false;
        QTest::newRow("a length one past 16") << QList<int>{1, 17} << allowed << false;
        QList<int> full(40, 0);
        for (int s = 0; s < 32; ++s)
            full[s + 8] = 5;
        QTest::newRow("every word of the first look-up, symbols up to the last") << full << refused << true;
        QTest::newRow("one symbol more than the code has") << (QList<int>(40, 0) << 1) << allowed << false;
    }

    // Every 16-bit pattern decodes to the symbol whose canonical word
    // begins it, taking that word's bits; where the code has no such word,
    // to -1, taking none.
    void prefixCode()
    {
        QFETCH(QList<int>, lengths);
        QFETCH(unlha::Unused, unused);
        QFETCH(bool, accepted);
        std::vector<uint8_t> l(lengths.begin(), lengths.end());
        TestCode code;
        QCOMPARE(code.assign(l.data(), unsigned(l.size()), unused), accepted);
        if (!accepted)
            return;
        const auto words = canonicalWords(lengths);
        std::vector<uint8_t> buf;
        for (uint32_t p = 0; p < 0x10000; ++p) {
            const uint32_t marker = 0xA5C3;
            const char bytes[] = {char(p >> 8), char(p), char(marker >> 8), char(marker)};
            Source src(QByteArray(bytes, 4));
            unlha::BitReader in(src.read, buf);
            const Word *w = wordOf(words, p);
            const int s = code.read(in);
            const unsigned taken = w ? w->length : 0;
            const uint32_t next = (p << taken | marker >> (16 - taken)) & 0xFFFF;
            if (s != (w ? w->symbol : -1) || in.read(16) != next)
                QFAIL(qPrintable(QString("pattern %1: symbol %2").arg(p, 4, 16).arg(s)));
        }
    }

    void codeLengths_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QString>("code"); // pre, positions (of -lh5-), literals (510) or lhark (289)
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QList<int>>("lengths"); // as read; a lone symbol as {-1, symbol}
        BitWriter w;
        w.put(7, 5).length(3).length(2).length(1).put(2, 2).length(16).length(7);
        QTest::newRow("pre: lengths 0 after the third, 7 and 16") << w.bytes << "pre" << true
                                                                  << QList<int>{3, 2, 1, 0, 0, 16, 7};
        QTest::newRow("pre: a length one past 16") << BitWriter().put(3, 5).length(1).length(17).bytes << "pre"
                                                   << false << QList<int>{};
        w = BitWriter();
        w.put(19, 5).length(5).length(5).length(5).put(0, 2);
        for (int i = 3; i < 19; ++i)
            w.length(5);
        QTest::newRow("pre: 19 of 19") << w.bytes << "pre" << true << QList<int>(19, 5);
        QTest::newRow("pre: 20 of 19") << BitWriter().put(20, 5).bytes << "pre" << false << QList<int>{};
        w = BitWriter();
        w.put(14, 4);
        for (int i = 0; i < 14; ++i)
            w.length(4);
        QTest::newRow("positions: 14 of 14") << w.bytes << "positions" << true << QList<int>(14, 4);
        QTest::newRow("positions: 15 of 14") << BitWriter().put(15, 4).bytes << "positions" << false
                                             << QList<int>{};
        QTest::newRow("positions: a lone symbol, unchecked") << BitWriter().put(0, 4).put(15, 4).bytes
                                                             << "positions" << true << QList<int>{-1, 15};
        // Literal lengths are symbols of the pre-code of the test below:
        // 0 = 00, 5 = 01, 18 = 10, 1 = 110, 2 = 111.
        w = BitWriter();
        w.put(29, 9).put(0b01, 2).put(0b00, 2);   // 0: length 3; 1: unused
        w.put(0b110, 3).put(2, 4);                 // 2 to 6: unused
        w.put(0b111, 3).put(0, 9);                 // 7 to 26: unused
        w.put(0b10, 2).put(0b01, 2);               // 27: length 16; 28: length 3
        QList<int> runs(29, 0);
        runs[0] = runs[28] = 3;
        runs[27] = 16;
        QTest::newRow("literals: runs of each kind") << w.bytes << "literals" << true << runs;
        QTest::newRow("literals: a run past the count ends it")
            << BitWriter().put(3, 9).put(0b01, 2).put(0b111, 3).put(100, 9).bytes << "literals" << true
            << QList<int>{3, 0, 0};
        QTest::newRow("literals: 510 of 510") << BitWriter().put(510, 9).put(0b111, 3).put(490, 9).bytes
                                              << "literals" << true << QList<int>(510, 0);
        QTest::newRow("literals: 511 of 510") << BitWriter().put(511, 9).bytes << "literals" << false
                                              << QList<int>{};
        QTest::newRow("lhark: 290 of 289") << BitWriter().put(290, 9).bytes << "lhark" << false << QList<int>{};
        QTest::newRow("lhark: a lone symbol, unchecked") << BitWriter().put(0, 9).put(511, 9).bytes << "lhark"
                                                         << true << QList<int>{-1, 511};
    }

    void codeLengths()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QString, code);
        QFETCH(bool, accepted);
        QFETCH(QList<int>, lengths);
        uint8_t preLengths[unlha::kPreCodes] = {2, 3, 3, 0, 0, 2};
        preLengths[18] = 2;
        unlha::PreCode pre;
        QVERIFY(pre.assign(preLengths, unlha::kPreCodes, unlha::Unused::Refused));
        Source src(stream);
        std::vector<uint8_t> buf;
        unlha::BitReader in(src.read, buf);
        unlha::CodeLengths out;
        const bool ok = code == "pre"         ? unlha::readSmallLengths(in, 5, 19, true, out)
                        : code == "positions" ? unlha::readSmallLengths(in, 4, 14, false, out)
                                              : unlha::readLiteralLengths(in, pre, code == "lhark" ? 289 : 510, out);
        QCOMPARE(ok, accepted);
        if (!accepted)
            return;
        QVERIFY(!in.overrun());
        if (!lengths.isEmpty() && lengths[0] < 0) {
            QCOMPARE(out.lone, lengths[1]);
            return;
        }
        QCOMPARE(out.lone, -1);
        QCOMPARE(int(out.symbols), lengths.size());
        unsigned count[unlha::kMaxWord + 1] = {};
        for (int s = 0; s < lengths.size(); ++s) {
            QCOMPARE(int(out.length[s]), lengths[s]);
            ++count[lengths[s]];
        }
        for (unsigned len = 1; len <= unlha::kMaxWord; ++len)
            QCOMPARE(out.count[len], count[len]);
    }

    // The literal code's lengths are symbols of the pre-code: one that
    // cannot be a length, and bits that begin no word of an incomplete
    // pre-code, end the block.
    void literalLengthsOfAPreCode_data()
    {
        QTest::addColumn<int>("lone"); // the pre-code's lone symbol, or -1 for an incomplete one
        QTest::addColumn<bool>("accepted");
        QTest::newRow("lone pre-code symbol 18, length 16") << 18 << true;
        QTest::newRow("lone pre-code symbol 19, one past") << 19 << false;
        QTest::newRow("bits that begin no word") << -1 << false;
    }

    void literalLengthsOfAPreCode()
    {
        QFETCH(int, lone);
        QFETCH(bool, accepted);
        unlha::PreCode pre;
        const uint8_t lengths[] = {1}; // the word 0 alone
        if (lone >= 0)
            pre.lone(unsigned(lone));
        else
            QVERIFY(pre.assign(lengths, 1, unlha::Unused::Allowed));
        Source src(BitWriter().put(1, 9).put(0xFF, 8).bytes);
        std::vector<uint8_t> buf;
        unlha::BitReader in(src.read, buf);
        unlha::CodeLengths out;
        QCOMPARE(unlha::readLiteralLengths(in, pre, 510, out), accepted);
    }

    void takeover_data()
    {
        QTest::addColumn<int>("blocksBefore"); // lone-literal blocks before the one ours turns down
        QTest::addColumn<int>("restart");      // 0: none given, 1: refused, 2: done
        QTest::addColumn<bool>("lhasasBytes"); // the result is lhasa's whole output
        QTest::addColumn<int>("restartsAsked");
        // Ours hands on its output in blocks of 256 KiB: four blocks of
        // 65535 are not yet one, five are.
        QTest::newRow("turned down before any byte was handed on") << 4 << 0 << true << 0;
        QTest::newRow("after bytes were handed on, starting over") << 5 << 2 << true << 1;
        QTest::newRow("after bytes were handed on, the sink cannot start over") << 5 << 1 << false << 1;
        QTest::newRow("after bytes were handed on, no way to start over") << 5 << 0 << false << 0;
    }

    // An entry of a method lhasa reads too, which ours turns down: lhasa
    // decodes it from its first byte, where what ours handed on can be
    // taken back; else ours ends it as damaged, its bytes standing. The
    // reference decoder is lhasa alone.
    void takeover()
    {
        QFETCH(int, blocksBefore);
        QFETCH(int, restart);
        QFETCH(bool, lhasasBytes);
        QFETCH(int, restartsAsked);
        BitWriter w;
        for (int i = 0; i < blocksBefore; ++i)
            loneLiteralBlock(w, 65535, 'a');
        incompleteBlock(w, 'b');
        const QByteArray expected = QByteArray(65535 * blocksBefore, 'a') + 'b';
        QTemporaryFile file;
        QVERIFY(file.open());
        QCOMPARE(file.write(w.bytes), qint64(w.bytes.size()));
        QVERIFY(file.flush());
        unlha::Entry e;
        std::memcpy(e.method, "-lh5-", 6);
        e.level = 2;
        e.packedSize = uint64_t(w.bytes.size());
        e.originalSize = uint64_t(expected.size());

        QByteArray lhasas;
        const auto reference = unlha::makeReferenceDecoder(file.handle());
        QCOMPARE(reference->decode(e, [&](const uint8_t *d, size_t n) {
            lhasas.append(reinterpret_cast<const char *>(d), qsizetype(n));
            return true;
        }),
                 unlha::DecodeStatus::Ok);
        QCOMPARE(lhasas, expected);

        QByteArray got;
        int asked = 0;
        const unlha::Restart startOver = [&] {
            ++asked;
            if (restart == 1)
                return false;
            got.clear();
            return true;
        };
        const auto ours = unlha::makeDecoder(file.handle());
        const auto st = ours->decode(
            e,
            [&](const uint8_t *d, size_t n) {
                got.append(reinterpret_cast<const char *>(d), qsizetype(n));
                return true;
            },
            restart ? startOver : unlha::Restart{});
        QCOMPARE(asked, restartsAsked);
        if (lhasasBytes) {
            QCOMPARE(st, unlha::DecodeStatus::Ok);
            QCOMPARE(got, expected);
        } else {
            QCOMPARE(st, unlha::DecodeStatus::Damaged);
            QCOMPARE(got, QByteArray(256 * 1024, 'a'));
        }
    }
};

QTEST_GUILESS_MAIN(DecodersTest)
#include "tst_unlha32_decoders.moc"
