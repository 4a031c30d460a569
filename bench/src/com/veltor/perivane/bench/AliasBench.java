package com.veltor.perivane.bench;

import com.veltor.perivane.Perivane;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;

/**
 * Alias files against the JDK doing the nearest file work: writing a file of the same size
 * beside the name and moving it over the name atomically, reading it back, deleting it. The
 * native side also gathers the target's facts (its path's file IDs, its volume), marks the
 * file as an alias, syncs it, and parses what it reads; each line names what it compares.
 */
public final class AliasBench {
    private AliasBench() {}

    public static void main(String[] args) throws Exception {
        Path dir = Files.createTempDirectory("aliasbench");
        Path target = Files.writeString(dir.resolve("target.txt"), "x");
        String t = target.toString(), d = dir.toString();
        Path alias = dir.resolve("alias"), copy = dir.resolve("copy");
        if (!Perivane.createShortcutItem("alias", t, d)) throw new IllegalStateException("no alias made");
        byte[] bytes = Files.readAllBytes(alias);
        System.out.println("alias file: " + bytes.length + " bytes");
        int perBatch = 200, batches = 31;

        Timing.compare("createShortcutItem / write temp + force + atomic move", () -> {
            if (!Perivane.createShortcutItem("alias", t, d)) throw new IllegalStateException("create failed");
            return alias;
        }, () -> writeAtomically(dir, copy, bytes, true), perBatch, batches);
        Timing.compare("createShortcutItem / write temp + atomic move (no force)", () -> {
            if (!Perivane.createShortcutItem("alias", t, d)) throw new IllegalStateException("create failed");
            return alias;
        }, () -> writeAtomically(dir, copy, bytes, false), perBatch, batches);
        Timing.compare("getShortcutPath / Files.readAllBytes", () -> Perivane.getShortcutPath(alias.toString()),
                () -> Files.readAllBytes(copy), perBatch * 10, batches);
        Timing.compare("create+resolve+remove / Files.write+move+read+delete", () -> {
            Perivane.createShortcutItem("cycle", t, d);
            String p = Perivane.getShortcutPath(d + "/cycle");
            if (!Perivane.removeShortcutItem("cycle", d) || p == null) throw new IllegalStateException("cycle failed");
            return p;
        }, () -> {
            Path c = dir.resolve("cycle-copy");
            writeAtomically(dir, c, bytes, false);
            byte[] back = Files.readAllBytes(c);
            Files.delete(c);
            return back;
        }, perBatch, batches);

        try (var s = Files.list(dir)) {
            for (Path p : s.toList()) Files.delete(p);
        }
        Files.delete(dir);
    }

    private static Path writeAtomically(Path dir, Path name, byte[] bytes, boolean force) throws Exception {
        Path temp = Files.createTempFile(dir, ".bench", ".tmp");
        if (force) {
            try (var ch = java.nio.channels.FileChannel.open(temp, StandardOpenOption.WRITE)) {
                ch.write(java.nio.ByteBuffer.wrap(bytes));
                ch.force(true);
            }
        } else {
            Files.write(temp, bytes);
        }
        return Files.move(temp, name, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
    }
}
