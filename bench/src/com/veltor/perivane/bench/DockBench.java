package com.veltor.perivane.bench;

import com.veltor.perivane.Perivane;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.channels.FileChannel;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;

/**
 * One pin-and-unpin cycle against a real Dock domain grown to twice the fixture's size (two locked read-change-write rounds)
 * against the JDK doing only the file work of such a cycle: read the domain twice and replace
 * it twice durably and atomically (temporary file, force, atomic move, force the folder). Then
 * a domain with a 200,000-key dictionary, against libplist's own parse.
 */
public final class DockBench {
    private DockBench() {}

    public static void main(String[] args) throws Exception {
        Table table = new Table();
        Path domain = targets(table);
        largeDomain(domain);
        table.print();
    }

    /** The pin-and-unpin target; returns the domain file, holding the fixture. */
    static Path targets(Table table) throws Exception {
        Path domain = Path.of(System.getenv("HOME"), "Library", "Preferences", "com.apple.dock.plist");
        Files.createDirectories(domain.getParent());
        Path sample = Path.of(System.getProperty("perivane.fixtures", "fixtures"), "dock", "com.apple.dock.plist");
        Files.copy(sample, domain, StandardCopyOption.REPLACE_EXISTING);
        domain.toFile().setWritable(true, true);
        // Twice the fixture's size: more applications pinned the way the Dock pins them.
        for (int i = 0; Files.size(domain) < 2 * Files.size(sample); i++) {
            if (!Perivane.registerFileAsDockIcon("/Applications/Pinned " + i + ".app", "Pinned " + i)) {
                throw new IllegalStateException("pin failed");
            }
        }
        table.ratio("Dock pin + unpin, real domain twice the fixture's size", "2 reads + 2 durable atomic rewrites",
                Timing.compare("pin + unpin / 2 reads + 2 durable atomic rewrites", () -> {
                    boolean a = Perivane.registerFileAsDockIcon("/Applications/Bench.app", "Bench");
                    boolean b = Perivane.unregisterFileAsDockIcon("/Applications/Bench.app");
                    if (!a || !b) throw new IllegalStateException("pin/unpin failed");
                    return b;
                }, () -> {
                    rewrite(domain);
                    return rewrite(domain);
                }, 10, 31), 1.5);
        table.reference("Dock: refused pin (lock, read, parse, match), same domain", "`Files.readAllBytes`",
                Timing.compare("refused duplicate pin (read only) / Files.readAllBytes",
                        () -> Perivane.registerFileAsDockIcon("/Applications/iTerm.app", "iTerm"),
                        () -> Files.readAllBytes(domain), 200, 15));
        return domain;
    }

    /**
     * A domain with a dictionary of 200,000 keys (4.9 MB of XML): the library's parse against
     * libplist's own parse of the same file (bench/plist_floor.cpp, built as
     * build/bench/plist-floor, run as a child process that times both, batches alternating),
     * and a refused pin on it (lock, read, parse, match) against that floor.
     */
    private static void largeDomain(Path domain) throws Exception {
        StringBuilder xml = new StringBuilder("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                + "<dict><key>persistent-apps</key><array><dict><key>tile-data</key><dict><key>file-data</key><dict>"
                + "<key>_CFURLString</key><string>file:///Applications/iTerm.app/</string>"
                + "<key>_CFURLStringType</key><integer>15</integer></dict></dict></dict></array>"
                + "<key>recent</key><dict>");
        for (int i = 0; i < 200_000; i++) xml.append(String.format("<key>k%06d</key><true/>", i));
        Files.writeString(domain, xml.append("</dict></dict></plist>\n"));
        Path exe = Path.of(System.getProperty("java.library.path"), "bench", "plist-floor");
        Process p = new ProcessBuilder(exe.toString(), domain.toString(), "7", "1")
                .redirectError(ProcessBuilder.Redirect.INHERIT).start();
        String[] out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8).trim().split(" ");
        if (p.waitFor() != 0) throw new IllegalStateException("plist-floor failed");
        double libplist = Double.parseDouble(out[0]), ours = Double.parseDouble(out[1]);
        System.out.printf("%-58s ours %12s   libplist %10s   ratio %.2f%n", "parse, 200,000-key domain (C++)",
                Timing.format(ours), Timing.format(libplist), ours / libplist);
        double pin = Timing.medianNanos(() -> {
            if (Perivane.registerFileAsDockIcon("/Applications/iTerm.app", "iTerm")) {
                throw new IllegalStateException("pinned twice");
            }
            return false;
        }, 1, 7);
        System.out.printf("%-58s native %10s   libplist %10s   ratio %.2f%n", "refused pin, 200,000-key domain",
                Timing.format(pin), Timing.format(libplist), pin / libplist);
    }

    private static int rewrite(Path domain) throws Exception {
        byte[] bytes = Files.readAllBytes(domain);
        Path temp = Files.createTempFile(domain.getParent(), ".bench", ".tmp");
        try (FileChannel ch = FileChannel.open(temp, StandardOpenOption.WRITE)) {
            ch.write(ByteBuffer.wrap(bytes));
            ch.force(true);
        }
        Files.move(temp, domain, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
        try (FileChannel folder = FileChannel.open(domain.getParent(), StandardOpenOption.READ)) {
            folder.force(true);  // the rename itself made durable
        }
        return bytes.length;
    }
}
