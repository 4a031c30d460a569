package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.*;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.nio.file.FileStore;
import java.nio.file.Files;
import java.nio.file.Path;
import java.text.Normalizer;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** Paths and text: the volume lists, the path styles that name paths by their volume, Normalization Form C. */
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

    /** The kept volume table against mounts made and removed, and (watch off) without its descriptors. */
    @Test
    void aMountMadeOrRemovedIsSeenByTheNextCallFromEveryThread() throws Exception {
        assumeTrue(new ProcessBuilder("unshare", "-m", "true").start().waitFor() == 0, "no mount namespace allowed here");
        Path dir = Files.createDirectory(tmp.toRealPath().resolve("Stick")), image = tmp.resolve("image");
        assertEquals(0, new ProcessBuilder("mkfs.ext2", "-q", image.toString(), "1M").start().waitFor());
        for (String watch : new String[] {"on", "off"}) {
            ChildJvm.Result r = ChildJvm.run(List.of("unshare", "-m", "--propagation", "private"), ChildJvm.testClassPath(),
                    Map.of("PERIVANE_MOUNT_WATCH", watch), FileChild.class.getName(), "mounts", dir.toString(), image.toString());
            assertEquals("done\n", r.stdout(), "watch " + watch + ": " + r.stderr());
        }
    }

    /** Path results are in Form C where that spelling names the same item (or neither names one), else as on disk. */
    @Test
    void pathResultsNameTheItemTheyDescribe() throws Exception {
        Path base = tmp.toRealPath(), cafe = Files.createDirectory(base.resolve("Cafe\u0301"));  // no composed twin
        Path target = Files.writeString(cafe.resolve("e\u0301te\u0301.txt"), "x");
        String hfs = Perivane.toHfsStylePath(target.toString());
        assertTrue(hfs.endsWith(":Cafe\u0301:e\u0301te\u0301.txt"), hfs);
        assertEquals(target.toString(), Perivane.toUnxStylePath(hfs));
        assertEquals("/NoSuchVolume/Caf\u00e9", Perivane.toUnxStylePath("NoSuchVolume:Cafe\u0301"), "names nothing either way");
        assertTrue(Perivane.createShortcutItem("alias", target.toString(), base.toString()));
        assertEquals(target.toString(), Perivane.getShortcutPath(base.resolve("alias").toString()));
        Perivane.createSymbolicLink(base.resolve("link").toString(), "Cafe\u0301");  // from the link's folder
        Perivane.createSymbolicLink(base.resolve("dangling").toString(), "Gone\u0301");
        assertEquals("Cafe\u0301", Perivane.getSymbolicLinkTarget(base.resolve("link").toString()));
        assertEquals("Gon\u00e9", Perivane.getSymbolicLinkTarget(base.resolve("dangling").toString()));
        Path resume = Files.writeString(base.resolve("Re\u0301sume\u0301"), "x");
        Files.createLink(base.resolve("R\u00e9sum\u00e9"), resume);  // the composed spelling names the same file
        assertEquals(base + "/R\u00e9sum\u00e9", Perivane.toUnxStylePath(Perivane.toHfsStylePath(resume.toString())));
    }

    @Test
    void pathsOfTheLongestLengthAFileUrlTakesConvertAndLongerOnesGiveNull() {
        assertNull(Perivane.toHfsStylePath("/" + "a".repeat(1023)));
        assertEquals(":" + "a".repeat(1022), Perivane.toHfsStylePath("a".repeat(1022)));
    }

    @Test
    void composesCanonicallyButKeepsCompatibilityCharacters() {
        assertEquals("\u00e9", Perivane.normalize("e\u0301"));
        assertEquals("caf\u00e9", Perivane.normalize("caf\u00e9"));
        assertEquals("\ufb01", Perivane.normalize("\ufb01"), "a compatibility ligature is not decomposed");
        assertEquals("\u2460\u00b2", Perivane.normalize("\u2460\u00b2"));
        // Singleton decompositions never come back: Angstrom and Ohm signs become letters.
        assertEquals("\u00c5\u03a9", Perivane.normalize("\u212b\u2126"));
        // Conjoining jamo compose into a Hangul syllable.
        assertEquals("\ud55c", Perivane.normalize("\u1112\u1161\u11ab"));
        // Marks in non-canonical order are reordered, then composed where they can be.
        assertEquals("\u1ea1\u0301", Perivane.normalize("a\u0301\u0323"));
        assertEquals("", Perivane.normalize("\u0000abc"), "cut at the first NUL");
        assertEquals("\ud83d\ude00", Perivane.normalize("\ud83d\ude00"));
        // Form C twice as long as a long text: more than the room first given to the result.
        assertEquals("\u0915\u093c".repeat(300), Perivane.normalize("\u0958".repeat(300)));
    }

    @Test
    void bothListsAgreeAndTheBootVolumeComesFirstWithItsRealSizes() throws Exception {
        String[] names = Perivane.listVolumes();
        VolumeInfo[] infos = Perivane.getAllVolumeInfos();
        assertEquals(Arrays.toString(names), Arrays.toString(Arrays.stream(infos).map(VolumeInfo::getName).toArray()));
        assertTrue(Arrays.stream(infos).allMatch(v -> v.getFreeBytes() <= v.getTotalBytes()), Arrays.toString(infos));
        assertEquals(names[0], Perivane.toHfsStylePath("/"));
        FileStore store = Files.getFileStore(Path.of("/"));
        // Sizes cross as full 64-bit values: the root here is far larger than 4 GiB.
        assertEquals(store.getTotalSpace(), infos[0].getTotalBytes());
        assertTrue(infos[0].getTotalBytes() > (1L << 32), "expected a root volume over 4 GiB");
        // Free space moves while tests write; the usable space (not counting reserved blocks)
        // is what is reported.
        long usable = store.getUsableSpace();
        assertTrue(Math.abs(usable - infos[0].getFreeBytes()) < (256L << 20), infos[0] + " vs usable " + usable);
    }
}
