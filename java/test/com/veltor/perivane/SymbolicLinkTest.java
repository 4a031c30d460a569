package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class SymbolicLinkTest {
    @TempDir
    Path dir;

    private void assertNotALink(String path) {
        IOException e = assertThrows(IOException.class, () -> Perivane.removeSymbolicLink(path));
        assertEquals("The specified file is not a symbolic link.", e.getMessage());
    }

    @Test
    void danglingLinkIsMadeTestedReadAndRemoved() throws IOException {
        Path link = dir.resolve("dangling");
        Perivane.createSymbolicLink(link.toString(), "no/such/target");
        assertTrue(Files.isSymbolicLink(link));
        assertFalse(Files.exists(link));
        assertTrue(Perivane.isSymbolicLink(link.toString()));
        assertEquals("no/such/target", Perivane.getSymbolicLinkTarget(link.toString()),
                "a relative target comes back as stored");
        assertTrue(Perivane.removeSymbolicLink(link.toString()));
        assertFalse(Files.exists(link, LinkOption.NOFOLLOW_LINKS));
    }

    @Test
    void filesFoldersAndMissingPathsAreNotLinks() throws IOException {
        Path file = Files.writeString(dir.resolve("file"), "keep");
        String missing = dir.resolve("missing").toString();
        for (String p : new String[] {file.toString(), dir.toString(), missing}) {
            assertFalse(Perivane.isSymbolicLink(p), p);
            assertNull(Perivane.getSymbolicLinkTarget(p), p);
        }
        assertNotALink(file.toString());
        assertEquals("keep", Files.readString(file), "the file is left in place");
        assertNotALink(missing);
    }

    @Test
    void targetsAcrossTheBufferSizesComeBackWhole() throws IOException {
        // 255 fits the first 256-byte buffer; 256 fills it and needs the second; 257, 511,
        // 512 and 513 straddle the next doubling, 4000 several.
        for (int length : new int[] {1, 255, 256, 257, 511, 512, 513, 4000}) {
            StringBuilder sb = new StringBuilder();
            while (sb.length() < length) sb.append("abcdefg/");
            String target = sb.substring(0, length - 1) + "z";  // java.nio drops a final slash
            Path link = dir.resolve("len" + length);
            Files.createSymbolicLink(link, Paths.get(target));
            assertEquals(target, Perivane.getSymbolicLinkTarget(link.toString()), "length " + length);
        }
    }

    @Test
    void existingLinkPathIsLeftIntact() throws IOException {
        Path existing = Files.writeString(dir.resolve("existing"), "data");
        IOException e = assertThrows(IOException.class,
                () -> Perivane.createSymbolicLink(existing.toString(), "elsewhere"));
        assertEquals("Failed to create symbolic link.", e.getMessage());
        assertFalse(Files.isSymbolicLink(existing));
        assertEquals("data", Files.readString(existing));
        IOException noFolder = assertThrows(IOException.class,
                () -> Perivane.createSymbolicLink(dir.resolve("no/folder/link").toString(), "t"));
        assertEquals("Failed to create symbolic link.", noFolder.getMessage());
    }

    @Test
    void removalLeavesTheTargetAndRefusesASecondTime() throws IOException {
        Path target = Files.createDirectory(dir.resolve("target"));
        Files.writeString(target.resolve("inside"), "x");
        Path link = dir.resolve("link");
        Perivane.createSymbolicLink(link.toString(), target.toString());
        assertEquals(target.toString(), Perivane.getSymbolicLinkTarget(link.toString()));
        assertTrue(Files.isSameFile(link, target));
        assertTrue(Perivane.removeSymbolicLink(link.toString()));
        assertTrue(Files.isRegularFile(target.resolve("inside")), "the target is not touched");
        assertNotALink(link.toString());
    }

    @Test
    void nonAsciiNamesAndTargetsRoundTripThroughTheFileSystem() throws IOException {
        // Supplementary characters would be six bytes in the JVM's modified UTF-8; the file
        // system must see standard UTF-8 so that java.nio finds the same names.
        String name = "link-\ud83d\ude00-caf\u00e9";
        String target = "t\u00e9l\u00e9-\ud83c\udf89/\u4e2d\u6587";
        Path link = dir.resolve(name);
        Perivane.createSymbolicLink(link.toString(), target);
        assertTrue(Files.isSymbolicLink(link), "java.nio finds the link under its name");
        assertEquals(target, Files.readSymbolicLink(link).toString());
        assertEquals(target, Perivane.getSymbolicLinkTarget(link.toString()));

        Path jdkMade = dir.resolve("\ud83d\udc4d-made-by-jdk");
        Files.createSymbolicLink(jdkMade, Paths.get("\u00fcber"));
        assertTrue(Perivane.isSymbolicLink(jdkMade.toString()));
        assertEquals("\u00fcber", Perivane.getSymbolicLinkTarget(jdkMade.toString()));
        assertTrue(Perivane.removeSymbolicLink(jdkMade.toString()));
        assertFalse(Files.exists(jdkMade, LinkOption.NOFOLLOW_LINKS));
    }

    @Test
    void targetBytesThatAreNotUtf8ReadAsReplacementCharacters() throws Exception {
        Path link = dir.resolve("latin1");
        // ln receives the raw bytes of a Latin-1 "é" (0xE9), which is not valid UTF-8.
        Process p = new ProcessBuilder("bash", "-c", "ln -s $'caf\\xe9' \"$0\"", link.toString()).start();
        assertEquals(0, p.waitFor());
        assertEquals("caf\ufffd", Perivane.getSymbolicLinkTarget(link.toString()));
    }

    @Test
    void namesNoFileCanHaveNeverReachTheSystem() throws IOException {
        String nul = dir + "/a\u0000b";
        String lone = dir + "/a\ud800b";
        Files.createSymbolicLink(dir.resolve("a"), Paths.get("t"));  // what a cut at NUL would find
        for (String p : new String[] {nul, lone}) {
            assertFalse(Perivane.isSymbolicLink(p));
            assertNull(Perivane.getSymbolicLinkTarget(p));
            IOException e = assertThrows(IOException.class, () -> Perivane.createSymbolicLink(p, "t"));
            assertEquals("Failed to create symbolic link.", e.getMessage());
            assertNotALink(p);
        }
        IOException e = assertThrows(IOException.class,
                () -> Perivane.createSymbolicLink(dir.resolve("x").toString(), "t\u0000u"));
        assertEquals("Failed to create symbolic link.", e.getMessage());
        assertTrue(Files.isSymbolicLink(dir.resolve("a")), "the link at the prefix is untouched");
        assertFalse(Files.exists(dir.resolve("x"), LinkOption.NOFOLLOW_LINKS));
    }

    @Test
    void nullArgumentsAreRefusedByName() {
        assertEquals("path", assertThrows(NullPointerException.class, () -> Perivane.isSymbolicLink(null)).getMessage());
        assertEquals("path", assertThrows(NullPointerException.class, () -> Perivane.getSymbolicLinkTarget(null)).getMessage());
        assertEquals("path", assertThrows(NullPointerException.class, () -> Perivane.removeSymbolicLink(null)).getMessage());
        assertEquals("linkPath", assertThrows(NullPointerException.class, () -> Perivane.createSymbolicLink(null, "t")).getMessage());
        assertEquals("targetPath", assertThrows(NullPointerException.class,
                () -> Perivane.createSymbolicLink(dir.resolve("l").toString(), null)).getMessage());
    }
}
