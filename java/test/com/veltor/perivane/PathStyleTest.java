package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.text.Normalizer;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class PathStyleTest {
    @TempDir
    Path tmp;

    @Test
    void realFoldersRoundTripThroughTheirVolume() throws Exception {
        Path dir = Files.createDirectories(tmp.toRealPath().resolve("a b").resolve("100%;x"));
        String hfs = Perivane.toHfsStylePath(dir.toString());
        assertEquals(Perivane.toHfsStylePath(dir.getParent().toString()) + ":100%;x", hfs);
        assertEquals(dir.toString(), Perivane.toUnxStylePath(hfs));

        String root = Perivane.listVolumes()[0];
        assertEquals(root, Perivane.toHfsStylePath("/"));
        assertEquals("/", Perivane.toUnxStylePath(root));
        assumeTrue(Files.getFileStore(Path.of("/usr")).equals(Files.getFileStore(Path.of("/"))),
                "/usr is a volume of its own here");
        assertEquals(root + ":usr:bin", Perivane.toHfsStylePath("/usr/bin"));
        assertEquals(root + ":usr:no such:x/y", Perivane.toHfsStylePath("/usr/no such/x:y/"));
    }

    @Test
    void decomposedNamesComeBackComposed() throws Exception {
        Path dir = Files.createDirectory(tmp.toRealPath().resolve("Cafe\u0301"));
        String hfs = Perivane.toHfsStylePath(dir.toString());
        assertEquals(Normalizer.normalize(hfs, Normalizer.Form.NFC), hfs);
        assertTrue(hfs.endsWith(":Caf\u00e9"), hfs);
        assertEquals("/NoSuchVolume/Caf\u00e9", Perivane.toUnxStylePath("NoSuchVolume:Cafe\u0301"));
    }

    @Test
    void rejectedPathsGiveNullWithNothingPending() {
        assertNull(Perivane.toHfsStylePath(""));
        assertNull(Perivane.toHfsStylePath("/tmp/a\u0000b"));
        assertNull(Perivane.toHfsStylePath("/tmp/\udc00"));
        assertNull(Perivane.toHfsStylePath("/" + "a".repeat(1023)));
        assertEquals(":" + "a".repeat(1022), Perivane.toHfsStylePath("a".repeat(1022)));
        assertNull(Perivane.toUnxStylePath(""));
        assertNull(Perivane.toUnxStylePath("Vol:\ud800"));
        // Never a shorter path than the one given, which would name another file.
        assertNull(Perivane.toUnxStylePath("Filesystem root:usr\u0000:etc"));
        assertNull(Perivane.toUnxStylePath("Vol:a\u0000b"));
        // Nothing pending: the next call works normally.
        assertEquals(":x", Perivane.toHfsStylePath("x"));
    }
}
