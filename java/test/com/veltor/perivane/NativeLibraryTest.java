package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.FileSystem;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.MessageDigest;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * How Perivane finds its library, seen from child JVMs that have none on java.library.path: the
 * jar's copy through the user's cache (reused, safe against concurrent first uses and changed
 * files), the override property first, and clear errors when nothing works, when the version
 * differs and when a second class loader asks.
 */
class NativeLibraryTest {
    private static final String BUILT = System.getProperty("perivane.library.dir") + "/libperivane.so";

    @TempDir
    Path tmp;

    /** LoadChild's lines as a map (loaded, inode or error), with the cache in {@code cache}. */
    private Map<String, String> load(Path cache, String... options) throws Exception {
        return loadWith(cache, System.getenv("XDG_RUNTIME_DIR"), options);
    }

    /** The same, with XDG_RUNTIME_DIR as {@code runtime} (unset when null). */
    private Map<String, String> loadWith(Path cache, String runtime, String... options) throws Exception {
        List<String> all = Stream.concat(Stream.of("-Djava.library.path=" + tmp.resolve("nothing-here")),
                Stream.of(options)).toList();
        Map<String, String> env = new java.util.HashMap<>(Map.of("XDG_CACHE_HOME", cache.toString()));
        env.put("XDG_RUNTIME_DIR", runtime);
        ChildJvm.Result r = ChildJvm.run(List.of(), all, ChildJvm.testClassPath(), env, LoadChild.class.getName());
        assertEquals(0, r.exitCode(), r.stderr());
        return r.stdout().lines().collect(Collectors.toMap(l -> l.substring(0, l.indexOf('=')), l -> l.substring(l.indexOf('=') + 1)));
    }

    /** The folder holds exactly the files the jar lists, each whole, owner-executable, 0700 folders. */
    private static void assertIntact(Path dir) throws Exception {
        List<String> sums;
        try (FileSystem jar = FileSystems.newFileSystem(Path.of(System.getProperty("perivane.jar")))) {
            sums = Files.readAllLines(jar.getPath("META-INF/native/linux-x86_64/SHA256SUMS"));
        }
        try (Stream<Path> files = Files.list(dir)) {
            assertEquals(sums.size() + 1, files.count(), "the files and their record, no temporary file left over");
        }
        for (String line : sums) {
            Path file = dir.resolve(line.substring(66));
            byte[] digest = MessageDigest.getInstance("SHA-256").digest(Files.readAllBytes(file));
            assertEquals(line.substring(0, 64), HexFormat.of().formatHex(digest), file.toString());
            assertTrue(Files.isExecutable(file) && !Files.isSymbolicLink(file), file.toString());
        }
        for (Path d : List.of(dir, dir.getParent())) assertEquals(0700, (Integer) Files.getAttribute(d, "unix:mode") & 07777);
    }

    @Test
    void theJarsCopyIsExtractedIntoAPrivateFolderOnceAndChangedCopiesAreReplacedUnused() throws Exception {
        Path cache = tmp.resolve("cache");
        Map<String, String> first = load(cache);
        Path library = Path.of(first.get("loaded"));
        assertEquals(cache.resolve("perivane"), library.getParent().getParent());
        assertTrue(library.getParent().getFileName().toString().startsWith(BuildInfo.VERSION + "-"));
        assertIntact(library.getParent());
        assertEquals(first, load(cache), "a later JVM maps the same file");

        // One byte changed (the changed file kept under a second name, so its inode stays taken).
        byte[] bytes = Files.readAllBytes(library);
        bytes[bytes.length / 2] ^= 1;
        Files.write(library, bytes);
        Files.createLink(tmp.resolve("changed"), library);
        Map<String, String> after = load(cache);
        assertNotEquals(first.get("inode"), after.get("inode"), "the changed file is not loaded");
        assertEquals(library.toString(), after.get("loaded"));
        assertIntact(library.getParent());

        // A symbolic link to a real library is replaced, not followed.
        Files.delete(library);
        Files.createSymbolicLink(library, Path.of(BUILT));
        assertEquals(library.toString(), load(cache).get("loaded"));
        assertIntact(library.getParent());
    }

    @Test
    void jvmsStartingTogetherOnAnEmptyCacheAllLoadAWholeFile() throws Exception {
        ExecutorService pool = Executors.newFixedThreadPool(6);
        List<Future<Map<String, String>>> runs = new ArrayList<>();
        for (int i = 0; i < 6; i++) runs.add(pool.submit(() -> load(tmp.resolve("cache"))));
        pool.shutdown();
        for (Future<Map<String, String>> run : runs) assertTrue(run.get().containsKey("loaded"), run.get().toString());
        assertIntact(Path.of(runs.get(0).get().get("loaded")).getParent());
    }

    @Test
    void theOverridePropertyComesFirst() throws Exception {
        Path cache = tmp.resolve("cache");
        // A folder, with the jar's copy at hand too: the folder's library, and no cache made.
        assertEquals(Path.of(BUILT).toRealPath().toString(),
                load(cache, "-Dperivane.library.path=" + Path.of(BUILT).getParent()).get("loaded"));
        assertFalse(Files.exists(cache));
        // A file, with the library on java.library.path too.
        Path copy = Files.copy(Path.of(BUILT), Files.createDirectory(tmp.resolve("copy")).resolve("libperivane.so"));
        assertEquals(copy.toRealPath().toString(), load(cache, "-Djava.library.path=" + Path.of(BUILT).getParent(),
                "-Dperivane.library.path=" + copy).get("loaded"));
    }

    @Test
    void unsafeCacheFoldersGiveWayToTheNextPlaceAndWhenNoneWillDoTheErrorSaysWhy() throws Exception {
        String none = tmp.resolve("none").toString();
        Path mine = Files.createDirectory(tmp.resolve("mine")), runtime = Path.of(System.getenv("XDG_RUNTIME_DIR"));
        Path open = Files.createDirectory(tmp.resolve("open"));  // for java.io.tmpdir: unsafe too
        assertEquals(0, new ProcessBuilder("chmod", "0777", open.toString()).start().waitFor());
        // cache folder, how it is made unsafe, the reason given
        Object[][] cases = {
            {"above/cache", "chmod 0777 %s/..", "%s/.. may be written by other users and is not sticky, so they could replace what is kept there"},
            {"theirs", "chown 65534 %s/perivane", "%s/perivane belongs to another user (uid 65534)"},
            {"linked", "ln -s " + mine + " %s/perivane", "%s/perivane is not a folder (a symbolic link or a file stands there)"},
            {"shared", "chmod 0777 %s", "%s may be written by other users and is not sticky, so they could replace what is kept there"},
        };
        for (Object[] c : cases) {
            Path cache = Files.createDirectories(tmp.resolve((String) c[0]));
            if (!c[0].equals("linked")) Files.createDirectory(cache.resolve("perivane"));
            assertEquals(0, new ProcessBuilder("sh", "-c", String.format((String) c[1], cache)).start().waitFor());
            String got = c[0] + ": " + load(cache);
            assertTrue(got.contains("loaded=" + runtime.toRealPath() + "/perivane/"), got);
            // No place at all: java.io.tmpdir unsafe too, no XDG_RUNTIME_DIR.
            String reason = String.format((String) c[2], cache).replace("/above/cache/..", "/above");
            assertEquals("libperivane.so (version " + BuildInfo.VERSION + ") could not be loaded. Tried, in this order:|"
                    + "  system property perivane.library.path=" + none + ": Can't load library: " + none + "|"
                    + "  System.loadLibrary(\"perivane\"): no libperivane.so in java.library.path: " + tmp.resolve("nothing-here")
                    + "|  the copy in the jar: no place is safe for it: " + reason + "; XDG_RUNTIME_DIR is not set; "
                    + String.format((String) cases[3][2], open),
                    loadWith(cache, null, "-Djava.io.tmpdir=" + open, "-Dperivane.library.path=" + none).get("error"));
        }
        try (Stream<Path> files = Files.list(mine)) {
            assertEquals(0, files.count(), "nothing written through the link");
        }
        // A sticky shared folder, as /tmp is, will do; so will a fresh folder in java.io.tmpdir, gone after.
        Path sticky = Files.createDirectory(tmp.resolve("sticky"));
        assertEquals(0, new ProcessBuilder("chmod", "1777", sticky.toString()).start().waitFor());
        assertTrue(load(sticky).get("loaded").startsWith(sticky + "/perivane/"));
        assertTrue(loadWith(tmp.resolve("shared"), null, "-Djava.io.tmpdir=" + sticky).get("loaded").startsWith(sticky + "/perivane-"));
        try (Stream<Path> files = Files.list(sticky)) {
            assertEquals(List.of(sticky.resolve("perivane")), files.toList(), "the fresh folder is removed at exit");
        }
    }

    @Test
    void aLibraryOfAnotherVersionIsRefused() throws Exception {
        String other = Path.of(System.getProperty("perivane.library.dir"), "tests", "other-version", "libperivane.so").toString();
        assertEquals("libperivane.so at " + other + " is version 0.0-other, but the classes of com.veltor.perivane are version "
                + BuildInfo.VERSION + ": remove that copy, or name the library of this version with -Dperivane.library.path=PATH",
                load(tmp, "-Dperivane.library.path=" + other).get("error"));
        assertEquals(" (libmount.so.1 is in the Debian package libmount1: apt-get install libmount1)",
                NativeLibrary.hint(other + ": libmount.so.1: cannot open shared object file: No such file or directory"));
    }

    @Test
    void aSecondClassLoaderIsToldWhyItCannotLoadTheLibrary() throws Exception {
        assertEquals("\u00e9", Perivane.normalize("e\u0301"));
        URL jar = Path.of(System.getProperty("perivane.jar")).toUri().toURL();
        try (URLClassLoader other = new URLClassLoader(new URL[] {jar}, ClassLoader.getPlatformClassLoader())) {
            UnsatisfiedLinkError e = assertThrows(UnsatisfiedLinkError.class,
                    () -> Class.forName(Perivane.class.getName(), true, other));
            assertTrue(e.getMessage().startsWith("libperivane.so is loaded by another class loader of this JVM"), e.getMessage());
        }
        assertEquals("\u00e9", Perivane.normalize("e\u0301"), "this class loader's natives still work");
    }
}
