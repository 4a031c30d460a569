package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.*;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.UserDefinedFileAttributeView;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.api.io.TempDir;

/** Symbolic links, and the bundle flag in the Finder record of a folder. */
class SymbolicLinkAndBundleBitTest {
    /** The Finder record as Java sees the "user.com.apple.FinderInfo" attribute. */
    static final String FINDER_INFO = "com.apple.FinderInfo";

    @TempDir
    Path dir;

    static void refused(String message, Executable call) {
        assertEquals(message, assertThrows(IOException.class, call).getMessage());
    }

    @Test
    void linksAreMadeReadAndRemovedLeavingTheirTargets() throws IOException {
        Path folder = Files.createDirectory(dir.resolve("folder"));
        Path file = Files.writeString(folder.resolve("file"), "keep");
        for (String target : new String[] {"no/such/target", folder.toString()}) {  // kept relative, or absolute
            Path link = dir.resolve("link");
            Perivane.createSymbolicLink(link.toString(), target);
            assertTrue(Files.isSymbolicLink(link));
            assertTrue(Perivane.isSymbolicLink(link.toString()));
            assertEquals(target, Perivane.getSymbolicLinkTarget(link.toString()));
            assertTrue(Perivane.removeSymbolicLink(link.toString()));
            assertFalse(Files.exists(link, LinkOption.NOFOLLOW_LINKS));
        }
        assertEquals("keep", Files.readString(file), "the target is left in place");
    }

    @Test
    void targetsAcrossTheBufferSizesComeBackWhole() throws IOException {
        // The read buffer starts at 256 bytes and doubles, and a name is kept inline up to 255
        // bytes: lengths on both sides of each size.
        for (int length : new int[] {1, 255, 256, 257, 511, 512, 513, 4000}) {
            String target = "abcdefg/".repeat(length / 8 + 1).substring(0, length - 1) + "z";  // java.nio drops a final slash
            Path link = dir.resolve("len" + length);
            Perivane.createSymbolicLink(link.toString(), target);
            assertEquals(target, Files.readSymbolicLink(link).toString(), "length " + length);
            assertEquals(target, Perivane.getSymbolicLinkTarget(link.toString()), "length " + length);
        }
    }

    @Test
    void nonAsciiNamesAndTargetsRoundTripThroughTheFileSystem() throws Exception {
        // Supplementary characters are six bytes in the JVM's modified UTF-8: the file system
        // must see standard UTF-8 for java.nio to find the same names.
        Path link = dir.resolve("link-\ud83d\ude00-caf\u00e9");
        String target = "t\u00e9l\u00e9-\ud83c\udf89/\u4e2d\u6587";
        Perivane.createSymbolicLink(link.toString(), target);
        assertEquals(target, Files.readSymbolicLink(link).toString());
        assertEquals(target, Perivane.getSymbolicLinkTarget(link.toString()));
        Path jdkMade = Files.createSymbolicLink(dir.resolve("\ud83d\udc4d-made-by-jdk"), Paths.get("x"));
        assertTrue(Perivane.isSymbolicLink(jdkMade.toString()));
        assertTrue(Perivane.removeSymbolicLink(jdkMade.toString()));
        assertFalse(Files.exists(jdkMade, LinkOption.NOFOLLOW_LINKS));
    }

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
    void danglingLinksAndForeignRecordsAreRefused() throws IOException {
        String dangling = Files.createSymbolicLink(dir.resolve("dangling"), dir.resolve("nowhere")).toString();
        refused("Failed to get the FSRef of the specified path.", () -> Perivane.hasBundleBit(dangling));
        refused("Failed to get the FSRef of the specified path.", () -> Perivane.setBundleBit(dangling, true));

        Path odd = withRecord(Files.createDirectory(dir.resolve("Odd")), new byte[] {1, 2, 3});
        refused("Failed to get the finder info of the specified path.", () -> Perivane.setBundleBit(odd.toString(), true));
        assertArrayEquals(new byte[] {1, 2, 3}, finderInfo(odd));
    }
}
