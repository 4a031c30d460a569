package com.veltor.perivane.bench;

import com.veltor.perivane.Perivane;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.Set;

/**
 * The file-system natives against the JDK's own equivalents, in one JVM: each line prints the
 * native's median time per call, the JDK's, and their ratio (below 1: the native is faster).
 */
public final class FileBench {
    private FileBench() {}

    public static void main(String[] args) throws Exception {
        Table table = new Table();
        targets(table);
        table.print();
    }

    static void targets(Table table) throws Exception {
        Path dir = Files.createTempDirectory("filebench");
        Path file = Files.writeString(dir.resolve("file.txt"), "x");
        Path link = dir.resolve("link");
        Files.createSymbolicLink(link, Paths.get("file.txt"));
        String f = file.toString(), l = link.toString();
        Set<PosixFilePermission> rwxrxr = PosixFilePermissions.fromString("rwxr-xr--");
        int perBatch = 2_000, batches = 41;

        table.ratio("`isSymbolicLink`", "`Files.isSymbolicLink`", Timing.compare("isSymbolicLink / Files.isSymbolicLink",
                () -> Perivane.isSymbolicLink(l), () -> Files.isSymbolicLink(link), perBatch, batches), 1.05);
        table.ratio("`getSymbolicLinkTarget`", "`Files.readSymbolicLink`",
                Timing.compare("getSymbolicLinkTarget / Files.readSymbolicLink", () -> Perivane.getSymbolicLinkTarget(l),
                        () -> Files.readSymbolicLink(link), perBatch, batches), 1.05);
        table.ratio("`getFileAttributes`", "`Files.getPosixFilePermissions`",
                Timing.compare("getFileAttributes / getPosixFilePermissions", () -> Perivane.getFileAttributes(f),
                        () -> Files.getPosixFilePermissions(file), perBatch, batches), 1.05);
        table.ratio("`setFileAttributes`", "`Files.setPosixFilePermissions`",
                Timing.compare("setFileAttributes / setPosixFilePermissions",
                        () -> Perivane.setFileAttributes(f, true, true, true, true, false, true, true, false, false),
                        () -> Files.setPosixFilePermissions(file, rwxrxr), perBatch, batches), 1.05);
        table.ratio("`getFileOwner`", "`Files.getOwner`", Timing.compare("getFileOwner / Files.getOwner",
                () -> Perivane.getFileOwner(f), () -> Files.getOwner(file), perBatch / 4, batches), 1.05);

        Path made = dir.resolve("made");
        String m = made.toString();
        Timing.compare("create+removeSymbolicLink / create+delete", () -> {
            Perivane.createSymbolicLink(m, "file.txt");
            return Perivane.removeSymbolicLink(m);
        }, () -> {
            Files.createSymbolicLink(made, Paths.get("file.txt"));
            Files.delete(made);
            return made;
        }, perBatch / 10, batches);
        // The natives take a String path and give String results; the JDK's Path keeps its
        // bytes encoded and makes its String lazily. The same work from a caller holding a
        // String and wanting a String:
        table.reference("`getSymbolicLinkTarget`", "`Files.readSymbolicLink(Path.of(s)).toString()`",
                Timing.compare("getSymbolicLinkTarget / readSymbolicLink(of(s)).toString()",
                        () -> Perivane.getSymbolicLinkTarget(l), () -> Files.readSymbolicLink(Path.of(l)).toString(),
                        perBatch, batches));
        table.reference("`getFileAttributes`", "`Files.getPosixFilePermissions(Path.of(s))`",
                Timing.compare("getFileAttributes / getPosixFilePermissions(of(s))", () -> Perivane.getFileAttributes(f),
                        () -> Files.getPosixFilePermissions(Path.of(f)), perBatch, batches));
        table.reference("`setFileAttributes`", "`Files.setPosixFilePermissions(Path.of(s), …)`",
                Timing.compare("setFileAttributes / setPosixFilePermissions(of(s))",
                        () -> Perivane.setFileAttributes(f, true, true, true, true, false, true, true, false, false),
                        () -> Files.setPosixFilePermissions(Path.of(f), rwxrxr), perBatch, batches));

        Files.delete(link);
        Files.delete(file);
        Files.delete(dir);
    }
}
