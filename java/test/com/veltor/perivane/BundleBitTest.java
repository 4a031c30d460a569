package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.UserDefinedFileAttributeView;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class BundleBitTest {
    /** The Finder record as Java sees the "user.com.apple.FinderInfo" attribute. */
    static final String FINDER_INFO = "com.apple.FinderInfo";

    @TempDir
    Path dir;

    static UserDefinedFileAttributeView view(Path p) {
        return Files.getFileAttributeView(p, UserDefinedFileAttributeView.class);
    }

    static byte[] finderInfo(Path p) throws IOException {
        UserDefinedFileAttributeView v = view(p);
        if (!v.list().contains(FINDER_INFO)) return null;
        ByteBuffer b = ByteBuffer.allocate(v.size(FINDER_INFO));
        v.read(FINDER_INFO, b);
        return b.array();
    }

    @BeforeEach
    void extendedAttributesAreKept() throws IOException {
        // The record lives in a user extended attribute: where the file system keeps none, the
        // cases below cannot say anything, and are reported as not run rather than failed.
        UserDefinedFileAttributeView v = view(dir);
        boolean supported;
        try {
            v.write("probe", ByteBuffer.wrap(new byte[] {1}));
            v.delete("probe");
            supported = true;
        } catch (IOException e) {
            supported = false;
        }
        Assumptions.assumeTrue(supported, "the file system of " + dir + " keeps no user.* extended attributes");
    }

    @Test
    void setClearAndSetAgainOnABareFolder() throws IOException {
        Path folder = Files.createDirectory(dir.resolve("Bare.app"));
        assertFalse(Perivane.hasBundleBit(folder.toString()));
        Perivane.setBundleBit(folder.toString(), true);
        assertTrue(Perivane.hasBundleBit(folder.toString()));
        byte[] expected = new byte[32];
        expected[8] = 0x20;
        assertArrayEquals(expected, finderInfo(folder), "flag 0x2000 big-endian at bytes 8-9");
        Perivane.setBundleBit(folder.toString(), true);  // already set: written again, no error
        assertTrue(Perivane.hasBundleBit(folder.toString()));
        Perivane.setBundleBit(folder.toString(), false);
        assertFalse(Perivane.hasBundleBit(folder.toString()));
        assertEquals(null, finderInfo(folder), "an all-zero record is removed");
        Perivane.setBundleBit(folder.toString(), true);
        assertTrue(Perivane.hasBundleBit(folder.toString()));
    }

    @Test
    void otherFinderBytesArePreservedByteForByte() throws Exception {
        Path folder = Files.createDirectory(dir.resolve("Rich"));
        byte[] original = new byte[32];
        for (int i = 0; i < 32; i++) original[i] = (byte) (0x91 + 7 * i);
        original[8] = (byte) 0x84;  // flags 0x84F9: bundle bit clear, neighbours set
        original[9] = (byte) 0xF9;
        view(folder).write(FINDER_INFO, ByteBuffer.wrap(original));

        assertFalse(Perivane.hasBundleBit(folder.toString()));
        Perivane.setBundleBit(folder.toString(), true);
        byte[] set = original.clone();
        set[8] = (byte) 0xA4;
        assertArrayEquals(set, finderInfo(folder));
        assertTrue(Perivane.hasBundleBit(folder.toString()));

        // What a copying tool sees, under the attribute's full name.
        Process p = new ProcessBuilder("getfattr", "--absolute-names", "-e", "hex", "-n",
                "user.com.apple.FinderInfo", folder.toString()).redirectErrorStream(true).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertEquals(0, p.waitFor(), out);
        StringBuilder hex = new StringBuilder("user.com.apple.FinderInfo=0x");
        for (byte b : set) hex.append(String.format("%02x", b));
        assertTrue(out.lines().anyMatch(hex.toString()::equals), out);

        Perivane.setBundleBit(folder.toString(), false);
        assertArrayEquals(original, finderInfo(folder));
    }

    @Test
    void regularFilesAreNeitherReadNorChanged() throws IOException {
        Path file = Files.writeString(dir.resolve("file"), "x");
        byte[] record = new byte[32];
        record[8] = 0x20;  // a file whose record happens to hold the bundle bit
        record[0] = 'T';
        view(file).write(FINDER_INFO, ByteBuffer.wrap(record));
        assertFalse(Perivane.hasBundleBit(file.toString()));
        Perivane.setBundleBit(file.toString(), false);
        assertArrayEquals(record, finderInfo(file));

        Path plain = Files.writeString(dir.resolve("plain"), "x");
        Perivane.setBundleBit(plain.toString(), true);
        assertEquals(null, finderInfo(plain), "nothing written to a file");
    }

    @Test
    void aLinkToAFolderReachesTheFolder() throws IOException {
        Path folder = Files.createDirectory(dir.resolve("Target.app"));
        Path link = Files.createSymbolicLink(dir.resolve("link"), folder);
        Perivane.setBundleBit(link.toString(), true);
        assertTrue(Perivane.hasBundleBit(folder.toString()));
        assertTrue(Perivane.hasBundleBit(link.toString()));
    }

    @Test
    void pathsThatNameNothingAreReportedAsSuch() throws IOException {
        Files.createDirectory(dir.resolve("a"));
        String[] paths = {dir.resolve("missing").toString(), dir + "/a\u0000b", dir + "/a\ud800", "",
                dir.resolve("dangling").toString()};
        Files.createSymbolicLink(dir.resolve("dangling"), dir.resolve("nowhere"));
        for (String p : paths) {
            IOException e = assertThrows(IOException.class, () -> Perivane.hasBundleBit(p));
            assertEquals("Failed to get the FSRef of the specified path.", e.getMessage());
            e = assertThrows(IOException.class, () -> Perivane.setBundleBit(p, true));
            assertEquals("Failed to get the FSRef of the specified path.", e.getMessage());
        }
        assertFalse(Perivane.hasBundleBit(dir.resolve("a").toString()), "the folder at the prefix is untouched");
    }

    @Test
    void aRecordThatIsNotFinderInformationIsLeftAlone() throws IOException {
        Path folder = Files.createDirectory(dir.resolve("Odd"));
        view(folder).write(FINDER_INFO, ByteBuffer.wrap(new byte[] {1, 2, 3}));
        IOException e = assertThrows(IOException.class, () -> Perivane.setBundleBit(folder.toString(), true));
        assertEquals("Failed to get the finder info of the specified path.", e.getMessage());
        assertArrayEquals(new byte[] {1, 2, 3}, finderInfo(folder));
    }

    @Test
    void nullPathIsRefusedByName() {
        assertEquals("path", assertThrows(NullPointerException.class, () -> Perivane.hasBundleBit(null)).getMessage());
        assertEquals("path", assertThrows(NullPointerException.class, () -> Perivane.setBundleBit(null, true)).getMessage());
    }
}
