// Writes lh2.lzh and lh3.lzh here with Debian's libjlha-java: javac -cp /usr/share/java/jlha.jar MakeLh23.java && java -cp /usr/share/java/jlha.jar:. MakeLh23
import java.io.ByteArrayOutputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.util.Date;

import jp.gr.java_conf.dangan.util.lha.CRC16;
import jp.gr.java_conf.dangan.util.lha.LhaHeader;
import jp.gr.java_conf.dangan.util.lha.LhaOutputStream;
import jp.gr.java_conf.dangan.util.lha.LzssOutputStream;
import jp.gr.java_conf.dangan.util.lha.PostLh2Encoder;
import jp.gr.java_conf.dangan.util.lha.PostLh3Encoder;
import jp.gr.java_conf.dangan.util.lha.PostLzssEncoder;

// The contents are rebuilt by tst_unlha32_extract from the same recipes.
public class MakeLh23 {
    static int lcg(int x) { return x * 1103515245 + 12345; }

    static byte[] noise(int n, int seed) {
        byte[] b = new byte[n];
        int x = seed;
        for (int i = 0; i < n; ++i) {
            x = lcg(x);
            b[i] = (byte) (x >>> 16);
        }
        return b;
    }

    // 64 distinct characters and a line feed, then lines of words drawn from a list.
    static byte[] text() {
        String[] words = {"alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel",
                          "india", "juliet", "kilo", "lima", "mike", "november", "oscar", "papa"};
        StringBuilder s = new StringBuilder("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/\n");
        int x = 1;
        for (int line = 0; line < 120; ++line)
            for (int w = 0; w < 8; ++w) {
                x = lcg(x);
                s.append(words[(x >>> 16) & 15]).append(w == 7 ? '\n' : ' ');
            }
        return s.toString().getBytes();
    }

    // 1000 bytes of noise over and over: long matches, and a stream longer than the window.
    static byte[] period() {
        byte[] unit = noise(1000, 7);
        byte[] b = new byte[20000];
        for (int i = 0; i < b.length; ++i)
            b[i] = unit[i % unit.length];
        return b;
    }

    // The same 600 bytes of noise every 4000 bytes, blanks between: copies
    // from far back, where a block's own offset code beats the fixed one.
    static byte[] far() {
        byte[] unit = noise(600, 11);
        byte[] b = new byte[60000];
        for (int i = 0; i < b.length; ++i)
            b[i] = i % 4000 < unit.length ? unit[i % 4000] : (byte) ' ';
        return b;
    }

    // Mostly 'a', one 'b' in sixteen, for streams of literals only.
    static byte[] skew(int n) {
        byte[] b = noise(n, 3);
        for (int i = 0; i < n; ++i)
            b[i] = (byte) ((b[i] & 15) == 0 ? 'b' : 'a');
        return b;
    }

    static byte[] same(int n) {
        byte[] b = new byte[n];
        java.util.Arrays.fill(b, (byte) 'x');
        return b;
    }

    static PostLzssEncoder encoder(String method, OutputStream out) {
        return method.equals("-lh2-") ? new PostLh2Encoder(out) : new PostLh3Encoder(out);
    }

    // LHA's own decoder counts no use of the first offset code while it is
    // alone in the adaptive tree; the library's encoder does. Streams that
    // copy before byte 65 would read differently, so none is allowed.
    static class NoEarlyCopy implements PostLzssEncoder {
        final PostLzssEncoder inner;
        long position;
        int length;
        NoEarlyCopy(PostLzssEncoder inner) { this.inner = inner; }
        public void writeCode(int code) throws IOException {
            inner.writeCode(code);
            if (code < 0x100)
                ++position;
            else
                length = code - 0x100 + 3;
        }
        public void writeOffset(int offset) throws IOException {
            if (position <= 64)
                throw new IllegalStateException("copy at byte " + position);
            inner.writeOffset(offset);
            position += length;
        }
        public void flush() throws IOException { inner.flush(); }
        public void close() throws IOException { inner.close(); }
        public int getDictionarySize() { return inner.getDictionarySize(); }
        public int getMaxMatch() { return inner.getMaxMatch(); }
        public int getThreshold() { return inner.getThreshold(); }
    }

    static byte[] compress(String method, byte[] data, boolean literalsOnly) throws IOException {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        if (literalsOnly) {
            PostLzssEncoder e = encoder(method, out);
            for (byte b : data)
                e.writeCode(b & 0xFF);
            e.close();
        } else {
            LzssOutputStream lzss = new LzssOutputStream(new NoEarlyCopy(encoder(method, out)));
            lzss.write(data);
            lzss.close();
        }
        return out.toByteArray();
    }

    // Each entry keeps its method even where the stream is larger than the data.
    static void add(LhaOutputStream arc, String method, int level, String name, byte[] data,
                    boolean literalsOnly) throws IOException {
        byte[] packed = compress(method, data, literalsOnly);
        CRC16 crc = new CRC16();
        crc.update(data, 0, data.length);
        LhaHeader h = new LhaHeader(name, new Date(1262304000000L));
        h.setHeaderLevel(level);
        h.setCompressMethod(method);
        h.setOriginalSize(data.length);
        h.setCompressedSize(packed.length);
        h.setCRC((int) crc.getValue());
        arc.putNextEntryAlreadyCompressed(h);
        arc.write(packed);
        arc.closeEntry();
    }

    public static void main(String[] args) throws IOException {
        try (LhaOutputStream arc = new LhaOutputStream(new FileOutputStream("lh2.lzh"))) {
            add(arc, "-lh2-", 2, "text.txt", text(), false);
            add(arc, "-lh2-", 2, "noise.bin", noise(600, 5), false);
            add(arc, "-lh2-", 2, "empty", new byte[0], false);
            add(arc, "-lh2-", 2, "period.bin", period(), false);
            add(arc, "-lh2-", 2, "skew.bin", skew(34000), true);
        }
        try (LhaOutputStream arc = new LhaOutputStream(new FileOutputStream("lh3.lzh"))) {
            add(arc, "-lh3-", 1, "text.txt", text(), false);
            add(arc, "-lh3-", 1, "noise.bin", noise(600, 5), false);
            add(arc, "-lh3-", 1, "empty", new byte[0], false);
            add(arc, "-lh3-", 1, "period.bin", period(), false);
            add(arc, "-lh3-", 1, "far.bin", far(), false);
            add(arc, "-lh3-", 1, "same.bin", same(300), true);
            add(arc, "-lh3-", 1, "skew.bin", skew(15000), true);
        }
    }
}
