package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.List;
import java.util.Map;
import java.util.regex.Pattern;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class FilePermissionsTest {
    @TempDir
    Path dir;

    static int mode(Path p) throws IOException {
        return (Integer) Files.getAttribute(p, "unix:mode", LinkOption.NOFOLLOW_LINKS) & 07777;
    }

    static void chmod(Path p, int mode) throws Exception {
        Process c = new ProcessBuilder("chmod", Integer.toOctalString(mode), p.toString()).start();
        assertEquals(0, c.waitFor());
    }

    static boolean set(Path p, boolean... f) {
        return Perivane.setFileAttributes(p.toString(), f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8]);
    }

    /** The key=value lines a child printed. */
    static Map<String, String> lines(String stdout) {
        return stdout.lines().filter(l -> l.contains("="))
                .collect(Collectors.toMap(l -> l.substring(0, l.indexOf('=')), l -> l.substring(l.indexOf('=') + 1)));
    }

    static final boolean T = true, F = false;

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

        // Whatever was read, written back, gives the same nine bits.
        for (int m : new int[] {0640, 0751, 0007, 0500}) {
            chmod(file, m);
            boolean[] f = Perivane.getFileAttributes(file.toString());
            chmod(file, 0);
            assertTrue(set(file, f));
            assertEquals(m, mode(file), Integer.toOctalString(m));
        }
        assertEquals(PosixFilePermissions.fromString("r-x------"), Files.getPosixFilePermissions(file));
    }

    @Test
    void aFinalLinkIsDescribedItselfButChangedThrough() throws Exception {
        Path target = Files.writeString(dir.resolve("target"), "x");
        chmod(target, 0600);
        Path link = Files.createSymbolicLink(dir.resolve("link"), target.getFileName());
        assertArrayEquals(new boolean[] {T, T, T, T, T, T, T, T, T}, Perivane.getFileAttributes(link.toString()),
                "a link's own mode");
        assertTrue(set(link, T, F, F, F, F, F, F, F, F));
        assertEquals(0400, mode(target));
    }

    @Test
    void ownerIsTheAccountName() throws IOException {
        Path file = Files.writeString(dir.resolve("mine"), "x");
        assertEquals(Files.getOwner(file).getName(), Perivane.getFileOwner(file.toString()));
        assertEquals("root", Perivane.getFileOwner("/"));
    }

    @Test
    void ownerWithoutAnAccountIsNull() throws Exception {
        Path file = Files.writeString(dir.resolve("orphan"), "x");
        Process c = new ProcessBuilder("chown", "4242424", file.toString()).start();
        assertEquals(0, c.waitFor());
        assertNull(Perivane.getFileOwner(file.toString()));
        assertEquals(9, Perivane.getFileAttributes(file.toString()).length);
    }

    @Test
    void emptyPathRaisesAsThePlatformDoes() {
        for (Runnable r : List.<Runnable>of(() -> Perivane.getFileAttributes(""), () -> Perivane.getFileOwner(""),
                () -> Perivane.setFileAttributes("", T, T, T, T, T, T, T, T, T))) {
            RuntimeException e = org.junit.jupiter.api.Assertions.assertThrows(RuntimeException.class, r::run);
            assertTrue(e.getMessage().startsWith("Non-Java exception raised, not handled!"), e.getMessage());
        }
    }

    /** The NSLog banner in front of each logged line of the child JVM. */
    static String banner(String pid) {
        return "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} java\\[" + pid + ":\\d+\\] ";
    }

    @Test
    void missingFileLogsOneLinePerNativeAndNullPathsStaySilent() throws Exception {
        String missing = dir.resolve("gone.txt").toString();
        ChildJvm.Result r = ChildJvm.run("com.veltor.perivane.FileChild", "missing", missing);
        assertEquals(0, r.exitCode(), r.stderr());
        Map<String, String> out = lines(r.stdout());
        assertEquals("null", out.get("attributes"));
        assertEquals("null", out.get("owner"));
        assertEquals("false", out.get("set"));
        assertEquals("null", out.get("nullAttributes"));
        assertEquals("null", out.get("nullOwner"));
        assertEquals("false", out.get("nullSet"));
        String b = banner(out.get("pid"));
        String opened = "The file \u201Cgone.txt\u201D couldn\u2019t be opened because there is no such file.\n";
        String changed = "The file \u201Cgone.txt\u201D doesn\u2019t exist.\n";
        Pattern expected = Pattern.compile(b + Pattern.quote(opened) + b + Pattern.quote(opened) + b + Pattern.quote(changed));
        assertTrue(expected.matcher(r.stderr()).matches(), r.stderr());
    }

    @Test
    void namesNoFileCanHaveAreLoggedAsMissing() throws Exception {
        ChildJvm.Result r = ChildJvm.run("com.veltor.perivane.FileChild", "missing", dir + "/bad", "lone");
        Map<String, String> out = lines(r.stdout());
        assertEquals("null", out.get("attributes"));
        assertEquals("false", out.get("set"));
        assertEquals(3, r.stderr().lines().count(), r.stderr());
        assertTrue(r.stderr().lines().allMatch(l -> l.contains("\u201Cbad\ufffd\u201D")), r.stderr());
    }

    @Test
    void anotherUsersFilesAreRefusedWithThePlatformsWords() throws Exception {
        // Root passes every permission check, so the refusals are seen from an unprivileged child.
        Path shared = Files.createDirectory(dir.resolve("shared"));
        chmod(dir, 0755);
        chmod(shared, 0755);
        Path closed = Files.createDirectory(dir.resolve("closed"));
        chmod(closed, 0700);
        Path hidden = Files.writeString(closed.resolve("hidden"), "x");
        Path rootsFile = Files.writeString(shared.resolve("roots"), "x");
        chmod(rootsFile, 0644);

        ChildJvm.Result r = ChildJvm.run(
                List.of("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"),
                ChildJvm.testClassPath(), Map.of(), "com.veltor.perivane.FileChild",
                "denied", hidden.toString(), rootsFile.toString(), shared.toString());
        assertEquals(0, r.exitCode(), r.stderr());
        Map<String, String> out = lines(r.stdout());
        assertEquals("null", out.get("attributes"));
        assertEquals("null", out.get("owner"));
        assertEquals("false", out.get("set"));
        assertEquals(0644, mode(rootsFile));
        assertEquals("IOException: Failed to get the FSRef of the specified path.", out.get("hasBundle"));
        assertEquals("IOException: Failed to set the bundle bit on the specified path.", out.get("setBundle"));
        assertEquals("IOException: Failed to create symbolic link.", out.get("link"));

        String view = "The file \u201Chidden\u201D couldn\u2019t be opened because you don\u2019t have permission to view it.";
        String save = "You don\u2019t have permission to save the file \u201Croots\u201D in the folder \u201Cshared\u201D.";
        List<String> logged = r.stderr().lines().map(l -> l.replaceFirst("^" + banner("\\d+"), "")).toList();
        assertEquals(List.of(view, view, save), logged, r.stderr());
    }
}
