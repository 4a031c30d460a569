package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.*;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.UserDefinedFileAttributeView;
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

    static Path withRecord(Path p, byte[] record) throws IOException {
        view(p).write(FINDER_INFO, ByteBuffer.wrap(record));
        return p;
    }

    static byte[] finderInfo(Path p) throws IOException {
        if (!view(p).list().contains(FINDER_INFO)) return null;
        ByteBuffer b = ByteBuffer.allocate(view(p).size(FINDER_INFO));
        view(p).read(FINDER_INFO, b);
        return b.array();
    }

    @Test
    void setClearAndSetAgainOnABareFolderOrThroughALink() throws IOException {
        Path folder = Files.createDirectory(dir.resolve("Bare.app"));
        String link = Files.createSymbolicLink(dir.resolve("link"), folder).toString();
        assertFalse(Perivane.hasBundleBit(folder.toString()));
        Perivane.setBundleBit(link, true);
        assertTrue(Perivane.hasBundleBit(folder.toString()));
        byte[] bundle = new byte[32];
        bundle[8] = 0x20;  // flag 0x2000, big-endian at bytes 8-9
        assertArrayEquals(bundle, finderInfo(folder));
        Perivane.setBundleBit(folder.toString(), true);
        assertTrue(Perivane.hasBundleBit(link));
        Perivane.setBundleBit(folder.toString(), false);
        assertFalse(Perivane.hasBundleBit(folder.toString()));
        assertNull(finderInfo(folder), "an all-zero record is removed");
    }

    @Test
    void otherFinderBytesArePreservedByteForByte() throws Exception {
        byte[] original = new byte[32];
        for (int i = 0; i < 32; i++) original[i] = (byte) (0x91 + 7 * i);
        original[8] = (byte) 0x84;  // flags 0x84F9: bundle bit clear, neighbours set
        original[9] = (byte) 0xF9;
        Path folder = withRecord(Files.createDirectory(dir.resolve("Rich")), original);
        assertFalse(Perivane.hasBundleBit(folder.toString()));
        Perivane.setBundleBit(folder.toString(), true);
        byte[] set = original.clone();
        set[8] = (byte) 0xA4;
        assertArrayEquals(set, finderInfo(folder));
        Perivane.setBundleBit(folder.toString(), false);
        assertArrayEquals(original, finderInfo(folder));
    }

    @Test
    void regularFilesAreNeitherReadNorChanged() throws IOException {
        byte[] record = new byte[32];
        record[8] = 0x20;  // a file whose record happens to hold the bundle bit
        Path file = withRecord(Files.writeString(dir.resolve("file"), "x"), record);
        assertFalse(Perivane.hasBundleBit(file.toString()));
        Perivane.setBundleBit(file.toString(), false);
        assertArrayEquals(record, finderInfo(file));
        Path plain = Files.writeString(dir.resolve("plain"), "x");
        Perivane.setBundleBit(plain.toString(), true);
        assertNull(finderInfo(plain), "nothing written to a file");
    }

    @Test
    void pathsThatNameNothingAndForeignRecordsAreRefused() throws IOException {
        Files.createDirectory(dir.resolve("a"));
        Files.createSymbolicLink(dir.resolve("dangling"), dir.resolve("nowhere"));
        for (String p : new String[] {dir + "/missing", dir + "/a\u0000b", dir + "/a\ud800", "", dir + "/dangling"}) {
            IOException e = assertThrows(IOException.class, () -> Perivane.hasBundleBit(p));
            assertEquals("Failed to get the FSRef of the specified path.", e.getMessage());
            e = assertThrows(IOException.class, () -> Perivane.setBundleBit(p, true));
            assertEquals("Failed to get the FSRef of the specified path.", e.getMessage());
        }
        assertNull(finderInfo(dir.resolve("a")), "the folder at the prefix is untouched");

        Path odd = withRecord(Files.createDirectory(dir.resolve("Odd")), new byte[] {1, 2, 3});
        IOException e = assertThrows(IOException.class, () -> Perivane.setBundleBit(odd.toString(), true));
        assertEquals("Failed to get the finder info of the specified path.", e.getMessage());
        assertArrayEquals(new byte[] {1, 2, 3}, finderInfo(odd));
    }
}
