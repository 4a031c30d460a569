package com.veltor.perivane.bench;

import com.veltor.perivane.Perivane;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;

/**
 * One pin-and-unpin cycle against a real Dock domain (two locked read-change-write rounds)
 * against the JDK doing only the file work of such a cycle: read the domain twice and replace
 * it twice atomically (temporary file, force, atomic move).
 */
public final class DockBench {
    private DockBench() {}

    public static void main(String[] args) throws Exception {
        Path domain = Path.of(System.getenv("HOME"), "Library", "Preferences", "com.apple.dock.plist");
        Files.createDirectories(domain.getParent());
        Path sample = Path.of(System.getProperty("perivane.fixtures", "fixtures"), "dock", "com.apple.dock.plist");
        Files.copy(sample, domain, StandardCopyOption.REPLACE_EXISTING);
        domain.toFile().setWritable(true, true);
        Timing.compare("pin + unpin (real Dock domain)", () -> {
            boolean a = Perivane.registerFileAsDockIcon("/Applications/Bench.app", "Bench");
            boolean b = Perivane.unregisterFileAsDockIcon("/Applications/Bench.app");
            if (!a || !b) throw new IllegalStateException("pin/unpin failed");
            return b;
        }, () -> {
            rewrite(domain);
            return rewrite(domain);
        }, 20, 15);
        Timing.compare("refused duplicate pin (read only)", () -> {
            return Perivane.registerFileAsDockIcon("/Applications/iTerm.app", "iTerm");
        }, () -> Files.readAllBytes(domain), 200, 15);
    }

    private static int rewrite(Path domain) throws Exception {
        byte[] bytes = Files.readAllBytes(domain);
        Path temp = Files.createTempFile(domain.getParent(), ".bench", ".tmp");
        try (FileChannel ch = FileChannel.open(temp, StandardOpenOption.WRITE)) {
            ch.write(ByteBuffer.wrap(bytes));
            ch.force(true);
        }
        Files.move(temp, domain, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
        return bytes.length;
    }
}
