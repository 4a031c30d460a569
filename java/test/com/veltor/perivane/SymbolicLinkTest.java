package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.*;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.api.io.TempDir;

class SymbolicLinkTest {
    @TempDir
    Path dir;

    static void refused(String message, Executable call) {
        assertEquals(message, assertThrows(IOException.class, call).getMessage());
    }

    static void notALink(String path) {
        refused("The specified file is not a symbolic link.", () -> Perivane.removeSymbolicLink(path));
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
        for (Path p : new Path[] {folder, file, dir.resolve("link")}) {  // a folder, a file, a missing path
            assertFalse(Perivane.isSymbolicLink(p.toString()), p.toString());
            assertNull(Perivane.getSymbolicLinkTarget(p.toString()), p.toString());
            notALink(p.toString());
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
    void creationRefusedLeavesWhatIsThere() throws IOException {
        Path existing = Files.writeString(dir.resolve("existing"), "data");
        refused("Failed to create symbolic link.", () -> Perivane.createSymbolicLink(existing.toString(), "elsewhere"));
        assertEquals("data", Files.readString(existing));
        refused("Failed to create symbolic link.", () -> Perivane.createSymbolicLink(dir + "/no/folder/link", "t"));
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

        Path latin1 = dir.resolve("latin1");  // ln gets the raw Latin-1 byte of "é", not valid UTF-8
        assertEquals(0, new ProcessBuilder("bash", "-c", "ln -s $'caf\\xe9' \"$0\"", latin1.toString()).start().waitFor());
        assertEquals("caf\ufffd", Perivane.getSymbolicLinkTarget(latin1.toString()));
    }

    @Test
    void namesNoFileCanHaveNeverReachTheSystem() throws IOException {
        Files.createSymbolicLink(dir.resolve("a"), Paths.get("t"));  // what a cut at NUL would find
        for (String p : new String[] {dir + "/a\u0000b", dir + "/a\ud800b"}) {
            assertFalse(Perivane.isSymbolicLink(p));
            assertNull(Perivane.getSymbolicLinkTarget(p));
            refused("Failed to create symbolic link.", () -> Perivane.createSymbolicLink(p, "t"));
            notALink(p);
        }
        refused("Failed to create symbolic link.", () -> Perivane.createSymbolicLink(dir + "/x", "t\u0000u"));
        assertTrue(Files.isSymbolicLink(dir.resolve("a")), "the link at the prefix is untouched");
        assertFalse(Files.exists(dir.resolve("x"), LinkOption.NOFOLLOW_LINKS));
    }
}
