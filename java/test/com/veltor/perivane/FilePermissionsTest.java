package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.*;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.util.List;
import java.util.Map;
import java.util.regex.Pattern;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class FilePermissionsTest {
    static final boolean T = true, F = false;
    /** The NSLog banner in front of each logged line of a child JVM. */
    static final String BANNER = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} java\\[%s:\\d+\\] ";

    @TempDir
    Path dir;

    static int mode(Path p) throws IOException {
        return (Integer) Files.getAttribute(p, "unix:mode", LinkOption.NOFOLLOW_LINKS) & 07777;
    }

    static void run(String... command) throws Exception {
        assertEquals(0, new ProcessBuilder(command).inheritIO().start().waitFor(), String.join(" ", command));
    }

    static void chmod(Path p, int mode) throws Exception {
        run("chmod", Integer.toOctalString(mode), p.toString());
    }

    static boolean set(Path p, boolean... f) {
        return Perivane.setFileAttributes(p.toString(), f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8]);
    }

    /** The key=value lines a child printed. */
    static Map<String, String> lines(String stdout) {
        return stdout.lines().collect(Collectors.toMap(l -> l.substring(0, l.indexOf('=')), l -> l.substring(l.indexOf('=') + 1)));
    }

    @Test
    void permissionsCrossBothWays() throws Exception {
        Path file = Files.writeString(dir.resolve("f"), "x");
        assertTrue(set(file, T, T, T, T, F, T, T, F, F));
        assertEquals(0754, mode(file));
        assertArrayEquals(new boolean[] {T, T, T, T, F, T, T, F, F}, Perivane.getFileAttributes(file.toString()));
        chmod(file, 04755);
        assertArrayEquals(new boolean[] {T, T, T, T, F, T, T, F, T}, Perivane.getFileAttributes(file.toString()),
                "the set-user-ID bit is not reported");
        chmod(file, 07777);
        assertTrue(set(file, T, T, T, T, T, T, T, T, T));
        assertEquals(0777, mode(file), "special bits are cleared");
        assertTrue(set(file, F, F, F, F, F, F, F, F, F));
        assertEquals(0, mode(file));
        assertArrayEquals(new boolean[9], Perivane.getFileAttributes(file.toString()));
        // Whatever was read, written back, gives the same bits, also through a link, which has
        // no permissions of its own: the target's are read and written.
        Path link = Files.createSymbolicLink(dir.resolve("link"), file.getFileName());
        for (int m : new int[] {0600, 0751, 0007, 0500}) {
            chmod(file, m);
            boolean[] f = Perivane.getFileAttributes(link.toString());
            chmod(file, 0);
            assertTrue(set(link, f));
            assertEquals(m, mode(file), Integer.toOctalString(m));
        }
    }

    @Test
    void ownerIsTheAccountNameOrNull() throws Exception {
        Path file = Files.writeString(dir.resolve("mine"), "x");
        assertEquals(Files.getOwner(file).getName(), Perivane.getFileOwner(file.toString()));
        assertEquals("root", Perivane.getFileOwner("/"));
        Path link = Files.createSymbolicLink(dir.resolve("link"), file.getFileName());
        Path dangling = Files.createSymbolicLink(dir.resolve("dangling"), dir.resolve("nowhere"));
        run("chown", "4242424", file.toString());
        assertNull(Perivane.getFileOwner(file.toString()));
        // A link's owner is its own, also when nothing is at its end; its permissions are not.
        String me = Files.getOwner(link, LinkOption.NOFOLLOW_LINKS).getName();
        assertEquals(me, Perivane.getFileOwner(link.toString()));
        assertEquals(me, Perivane.getFileOwner(dangling.toString()));
        assertNull(Perivane.getFileAttributes(dangling.toString()));
        assertEquals(9, Perivane.getFileAttributes(file.toString()).length);
    }

    @Test
    void missingFilesLogOneLinePerNativeAndNullPathsStaySilent() throws Exception {
        ChildJvm.Result r = ChildJvm.run("com.veltor.perivane.FileChild", "missing", dir.resolve("gone").toString());
        assertEquals(0, r.exitCode(), r.stderr());
        String[] out = r.stdout().split("\n", 2);
        assertEquals("attributes=null\nowner=null\nset=false\n".repeat(3), out[1]);
        String b = BANNER.formatted(out[0].substring("pid=".length()));
        StringBuilder expected = new StringBuilder();
        for (String name : new String[] {"gone", "gone\ufffd"}) {  // a lone surrogate names no file either
            String opened = b + Pattern.quote("The file \u201C" + name + "\u201D couldn\u2019t be opened because there is no such file.\n");
            expected.append(opened).append(opened).append(b).append(Pattern.quote("The file \u201C" + name + "\u201D doesn\u2019t exist.\n"));
        }
        assertTrue(Pattern.matches(expected.toString(), r.stderr()), r.stderr());
    }

    @Test
    void anotherUsersFilesAreRefusedWithThePlatformsWords() throws Exception {
        // Root passes every permission check, so the refusals are seen from an unprivileged child.
        Path shared = Files.createDirectory(dir.resolve("shared"));
        Path closed = Files.createDirectory(dir.resolve("closed"));
        Path hidden = Files.writeString(closed.resolve("hidden"), "x");
        Path rootsFile = Files.writeString(shared.resolve("roots"), "x");
        run("chmod", "755", dir.toString(), shared.toString());
        run("chmod", "700", closed.toString());
        run("chmod", "644", rootsFile.toString());

        ChildJvm.Result r = ChildJvm.runAsNobody(Map.of(), "com.veltor.perivane.FileChild",
                "denied", hidden.toString(), rootsFile.toString());
        assertEquals(0, r.exitCode(), r.stderr());
        assertEquals(Map.of("attributes", "null", "owner", "null", "set", "false"), lines(r.stdout()));
        assertEquals(0644, mode(rootsFile));
        String view = "The file \u201Chidden\u201D couldn\u2019t be opened because you don\u2019t have permission to view it.";
        String save = "You don\u2019t have permission to save the file \u201Croots\u201D in the folder \u201Cshared\u201D.";
        List<String> logged = r.stderr().lines().map(l -> l.replaceFirst("^" + BANNER.formatted("\\d+"), "")).toList();
        assertEquals(List.of(view, view, save), logged, r.stderr());
    }
}
