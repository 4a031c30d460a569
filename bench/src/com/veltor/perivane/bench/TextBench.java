package com.veltor.perivane.bench;

import com.veltor.perivane.Perivane;
import java.nio.file.FileStore;
import java.nio.file.FileSystems;
import java.text.Normalizer;

/**
 * normalize against java.text.Normalizer, against ICU's own compose of the same text and
 * against an empty JNI call; the volume list against the JDK's file stores.
 */
public final class TextBench {
    private TextBench() {}

    public static void main(String[] args) throws Exception {
        Table table = new Table();
        targets(table);
        volumes();
        table.print();
    }

    static void targets(Table table) throws Exception {
        String shortAscii = "/Users/someone/Applications/Example.app";
        String shortDecomposed = "/Users/Jose\u0301/Documents/Re\u0301sume\u0301 2024.txt";
        StringBuilder sb = new StringBuilder();
        while (sb.length() < (1 << 20)) sb.append("Cafe\u0301 na\u0131\u0308ve \u1112\u1161\u11ab\u1100\u116e\u11a8 plain ascii text ");
        String mixed = sb.substring(0, 1 << 20);
        String composed = Normalizer.normalize(mixed, Normalizer.Form.NFC);
        Floor.holdText(mixed);
        if (!composed.equals(Perivane.normalize(mixed)) || Floor.compose() != composed.length()) {
            throw new AssertionError("normalize, the JDK and ICU disagree");
        }

        System.out.println("normalize (native / java.text.Normalizer NFC, ICU's compose, an empty JNI call)");
        String a = "a";
        table.difference("frame: `normalize(\"a\")`", "empty JNI call",
                Timing.compare("normalize(\"a\") / empty JNI call", () -> Perivane.normalize(a), () -> Floor.same(a),
                        20000, 41), 40);
        table.ratio("`normalize`, ASCII path (" + shortAscii.length() + " chars)", "`Normalizer.normalize`",
                Timing.compare("short ASCII path", () -> Perivane.normalize(shortAscii),
                        () -> Normalizer.normalize(shortAscii, Normalizer.Form.NFC), 20000, 41), 2.5);
        table.reference("`normalize`, ASCII path (" + shortAscii.length() + " chars)", "its units read, nothing more",
                Timing.compare("short ASCII path / its units read", () -> Perivane.normalize(shortAscii),
                        () -> Floor.read(shortAscii), 20000, 41));
        String decomposedCase = "`normalize`, decomposed path (" + shortDecomposed.length() + " chars)";
        table.ratio(decomposedCase, "`Normalizer.normalize`",
                Timing.compare("short decomposed path", () -> Perivane.normalize(shortDecomposed),
                        () -> Normalizer.normalize(shortDecomposed, Normalizer.Form.NFC), 5000, 41), 1.10);
        Floor.holdText(shortDecomposed);
        table.reference(decomposedCase, "ICU's compose + `NewString`",
                Timing.compare("short decomposed path / ICU's compose + NewString", () -> Perivane.normalize(shortDecomposed),
                        Floor::composeString, 5000, 41));

        Floor.holdText(mixed);
        String mixedCase = "`normalize`, 1 MiB mixed, decomposed";
        table.ratio(mixedCase, "ICU's compose", Timing.compare("1 MiB mixed, decomposed / ICU's compose",
                () -> Perivane.normalize(mixed), Floor::compose, 3, 21), 1.2);
        table.reference(mixedCase, "ICU's compose + `NewString`",
                Timing.compare("1 MiB mixed, decomposed / ICU's compose + NewString", () -> Perivane.normalize(mixed),
                        Floor::composeString, 3, 21));
        table.reference(mixedCase, "`Normalizer.normalize`",
                Timing.compare("1 MiB mixed, decomposed / java.text.Normalizer", () -> Perivane.normalize(mixed),
                        () -> Normalizer.normalize(mixed, Normalizer.Form.NFC), 3, 21));
    }

    private static void volumes() throws Exception {
        System.out.println("volumes (native / FileSystems.getDefault().getFileStores())");
        Timing.compare("names", Perivane::listVolumes, () -> {
            int n = 0;
            for (FileStore s : FileSystems.getDefault().getFileStores()) n += s.name().length();
            return n;
        }, 200, 15);
        Timing.compare("names with total and free sizes", Perivane::getAllVolumeInfos, () -> {
            long n = 0;
            for (FileStore s : FileSystems.getDefault().getFileStores()) n += s.getTotalSpace() + s.getUsableSpace();
            return n;
        }, 200, 15);
    }
}
