package com.veltor.perivane.bench;

import com.veltor.perivane.Perivane;
import java.nio.file.FileStore;
import java.nio.file.FileSystems;
import java.text.Normalizer;

/** normalize against java.text.Normalizer, and the volume list against the JDK's file stores. */
public final class TextBench {
    private TextBench() {}

    public static void main(String[] args) throws Exception {
        String shortAscii = "/Users/someone/Applications/Example.app/x";
        String shortAccented = "/Users/Jose\u0301/Documents/Re\u0301sume\u0301.txt";
        StringBuilder sb = new StringBuilder();
        while (sb.length() < (1 << 20)) sb.append("Cafe\u0301 na\u0131\u0308ve \u1112\u1161\u11ab\u1100\u116e\u11a8 plain ascii text ");
        String mixed = sb.substring(0, 1 << 20);
        if (!Normalizer.normalize(mixed, Normalizer.Form.NFC).equals(Perivane.normalize(mixed))) {
            throw new AssertionError("normalize disagrees with the JDK");
        }
        System.out.println("normalize (native / java.text.Normalizer NFC)");
        Timing.compare("short ASCII (41 chars)", () -> Perivane.normalize(shortAscii),
                () -> Normalizer.normalize(shortAscii, Normalizer.Form.NFC), 20000, 15);
        Timing.compare("short accented, decomposed (44 chars)", () -> Perivane.normalize(shortAccented),
                () -> Normalizer.normalize(shortAccented, Normalizer.Form.NFC), 20000, 15);
        Timing.compare("1 MiB mixed, decomposed", () -> Perivane.normalize(mixed),
                () -> Normalizer.normalize(mixed, Normalizer.Form.NFC), 5, 11);

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
