package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.attribute.UserDefinedFileAttributeView;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class AliasTest {
    private static final Path HOME = Path.of(System.getenv("HOME"));
    private static final Path FIXTURES = Path.of(System.getProperty("perivane.fixtures"), "alias");
    private static final byte[] MAGIC = "book\0\0\0\0mark\0\0\0\0".getBytes(StandardCharsets.US_ASCII);

    @TempDir
    Path dir;

    private static boolean create(String name, Path target, Path folder) {
        return Perivane.createShortcutItem(name, target.toString(), folder.toString());
    }

    private static boolean remove(String name, Path folder) {
        return Perivane.removeShortcutItem(name, folder.toString());
    }

    private static String resolve(Path alias) {
        return Perivane.getShortcutPath(alias.toString());
    }

    /** Every path under {@code root} (links not followed) with its size: what "nothing touched" compares. */
    private static Map<Path, Long> snapshot(Path root) throws IOException {
        Map<Path, Long> all = new HashMap<>();
        try (Stream<Path> s = Files.walk(root)) {
            for (Path p : s.toList()) all.put(p, Files.isRegularFile(p, LinkOption.NOFOLLOW_LINKS) ? Files.size(p) : -1);
        }
        return all;
    }

    @Test
    void aliasFilesAreMadeUnderExactlyTheirNameMarkedResolvedAndRemoved() throws Exception {
        Path target = Files.writeString(dir.resolve("target.txt"), "x");
        Path folder = Files.createDirectory(dir.resolve("Folder"));
        for (String name : new String[] {"Link", "caf\u00e9 \u2615.alias", "~x"}) {  // a "~" in a name stays
            assertTrue(create(name, target, folder), name);
            Path alias = folder.resolve(name);
            try (Stream<Path> s = Files.list(folder)) {
                assertEquals(List.of(alias), s.toList(), "exactly the name given, no extension");
            }
            assertArrayEquals(MAGIC, Arrays.copyOf(Files.readAllBytes(alias), 16));
            ByteBuffer info = ByteBuffer.allocate(64);
            Files.getFileAttributeView(alias, UserDefinedFileAttributeView.class).read("com.apple.FinderInfo", info);
            assertArrayEquals(Arrays.copyOf("alisMACS\u0080".getBytes(StandardCharsets.ISO_8859_1), 32),
                    Arrays.copyOf(info.array(), info.position()), "type, creator, kIsAlias");
            assertEquals(target.toString(), resolve(alias));
            assertTrue(remove(name, folder));
            assertFalse(Files.exists(alias, LinkOption.NOFOLLOW_LINKS));
        }
    }

    @Test
    void tildeIsExpandedInPathsButNotInNames() throws Exception {
        Path target = Files.writeString(HOME.resolve("tilde-target"), "x");
        Path folder = Files.createDirectories(HOME.resolve("tilde folder"));
        assertTrue(Perivane.createShortcutItem("~name", "~/tilde-target", "~/tilde folder"));
        assertTrue(Files.isRegularFile(folder.resolve("~name")));
        assertEquals(target.toString(), Perivane.getShortcutPath("~/tilde folder/~name"));
        assertTrue(Perivane.removeShortcutItem("~name", "~/tilde folder"));
        assertFalse(Files.exists(folder.resolve("~name")));
    }

    @Test
    void removalTakesWhateverHasTheNameAndNeverFollowsALink() throws Exception {
        Path outside = Files.createDirectories(dir.resolve("outside/inner"));
        Files.writeString(outside.resolve("keep"), "x");
        Map<Path, Long> before = snapshot(outside);
        Path folder = Files.createDirectory(dir.resolve("folder"));
        Files.writeString(folder.resolve("file"), "not an alias");
        Path tree = Files.createDirectories(folder.resolve("tree/a/b"));
        Files.createSymbolicLink(tree.resolve("to-outside"), outside);
        Files.createSymbolicLink(folder.resolve("link-to-folder"), outside);
        Path dangling = Files.createSymbolicLink(folder.resolve("dangling"), dir.resolve("missing"));
        for (String name : new String[] {"file", "tree", "link-to-folder"}) {
            assertTrue(remove(name, folder), name);
            assertFalse(Files.exists(folder.resolve(name), LinkOption.NOFOLLOW_LINKS), name);
        }
        assertTrue(remove("dangling", folder), "a dangling link counts as nothing");
        assertTrue(Files.isSymbolicLink(dangling), "and is left in place");
        assertEquals(before, snapshot(outside), "nothing outside the folder touched");
    }

    @Test
    void aliasesResolveOneLevelAndAnythingElseToNull() throws Exception {
        Path target = Files.writeString(dir.resolve("target"), "x");
        assertTrue(create("first", target, dir));
        assertTrue(create("second", dir.resolve("first"), dir));
        assertEquals(dir.resolve("first").toString(), resolve(dir.resolve("second")), "one level only");
        assertNull(resolve(target), "an ordinary file");
        Files.delete(target);
        assertNull(resolve(dir.resolve("first")), "a deleted target");
        assertNull(resolve(FIXTURES.resolve("removable.alias")), "a volume that is not mounted");

        // A Finder alias of /System/Library/Perl: null while that path is missing, found once it exists.
        Path perl = Path.of("/System/Library/Perl"), made = null;
        for (Path p = perl; p != null && !Files.exists(p); p = p.getParent()) made = p;
        if (made != null) assertNull(resolve(FIXTURES.resolve("folder.alias")));
        try {
            if (made != null) {
                try {
                    Files.createDirectories(perl);
                } catch (IOException e) {
                    made = null;
                    assumeTrue(false, "cannot make " + perl + " here: " + e);
                }
            }
            assertEquals(perl.toString(), resolve(FIXTURES.resolve("folder.alias")));
        } finally {
            if (made != null) {
                try (Stream<Path> s = Files.walk(made)) {
                    for (Path p : s.sorted(Comparator.reverseOrder()).toList()) Files.delete(p);
                }
            }
        }
    }

    @Test
    void desktopItemsGoToTheXdgDesktopFolder() throws Exception {
        Path config = Files.createDirectories(Path.of(System.getenv("XDG_CONFIG_HOME")));
        Path dirs = Files.writeString(config.resolve("user-dirs.dirs"), "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
        try {
            Path desktop = HOME.resolve("Schreibtisch");
            assertEquals(desktop.toString(), Perivane.getDesktopFolder());
            Path target = Files.writeString(dir.resolve("target"), "x");
            Files.createDirectory(desktop);
            assertTrue(Perivane.createDesktopItem("item", target.toString()));
            assertEquals(target.toString(), resolve(desktop.resolve("item")));
            assertTrue(Perivane.removeDesktopItem("item"));
            assertFalse(Files.exists(desktop.resolve("item")));
        } finally {
            Files.delete(dirs);
        }
    }

    private record Call(String call, String result, String logLine) {}

    @Test
    void failuresLogOneLineAndSilentOutcomesNone() throws Exception {
        Path home = Files.createDirectory(dir.resolve("home"));
        Path target = Files.writeString(dir.resolve("target"), "x");
        List<Call> calls = List.of(
                new Call("remove|nothing|" + dir, "true", null),
                new Call("create|x|" + dir.resolve("missing") + "|" + dir, "false",
                        "The file \u201Cmissing\u201D couldn\u2019t be opened because there is no such file."),
                new Call("create|..|" + target + "|" + dir, "false", "createShortcutItem :: Couldn't create destination URL"),
                new Call("remove|a/b|" + dir, "false", "removeShortcutItem :: Couldn't create destination URL"),
                new Call("createDesktop|x|" + target, "false",
                        "The file \u201CDesktop\u201D couldn\u2019t be opened because there is no such file."),
                new Call("removeDesktop|x", "false",
                        "The file \u201CDesktop\u201D couldn\u2019t be opened because there is no such file."),
                new Call("resolve|" + target, "null", null));
        run(List.of(), Map.of("HOME", home.toString(), "XDG_CONFIG_HOME", home.resolve(".config").toString()), calls);
    }

    /**
     * A HOME that names no folder, or one whose path is not UTF-8, has no home or Desktop folder
     * (not another's); a decomposed one is handed back as it is spelled.
     */
    @Test
    void aHomeThatIsRelativeOrNotUtf8HasNoDesktopAndADecomposedOneKeepsItsSpelling() throws Exception {
        Path target = Files.writeString(dir.resolve("target"), "x");
        Path lookalike = Files.createDirectories(dir.resolve("B\ufffdro/Desktop"));  // U+FFFD in place of the byte
        List<Call> calls = List.of(new Call("home", "null", null), new Call("desktop", "null", null),
                new Call("createDesktop|x|" + target, "false", "createShortcutItem :: Couldn't create destination URL"),
                new Call("removeDesktop|x", "false", "removeShortcutItem :: Couldn't create destination URL"));
        run(List.of(), Map.of("HOME", "relative/home"), calls);
        run(List.of("sh", "-c", "HOME=\"$0/$(printf 'B\\374ro')\" exec \"$@\"", dir.toString()), Map.of(), calls);
        try (Stream<Path> s = Files.list(lookalike)) {
            assertEquals(List.of(), s.toList());
        }
        Path decomposed = Files.createDirectories(dir.resolve("Jose\u0301/Desktop"));  // and no composed twin
        run(List.of(), Map.of("HOME", decomposed.getParent().toString()), List.of(
                new Call("home", decomposed.getParent().toString(), null), new Call("desktop", decomposed.toString(), null)));
    }

    /** Runs the calls in one child JVM and checks each one's result and the lines it logged. */
    private static void run(List<String> prefix, Map<String, String> env, List<Call> calls) throws Exception {
        ChildJvm.Result r = ChildJvm.run(prefix, ChildJvm.testClassPath(), env, AliasChild.class.getName(),
                calls.stream().map(Call::call).toArray(String[]::new));
        assertEquals(0, r.exitCode(), r.stderr());
        List<String> lines = r.stderr().lines().toList();
        int at = 0;
        for (Call c : calls) {
            List<String> logged = new ArrayList<>();
            while (at < lines.size() && !lines.get(at).startsWith("=> ")) {
                logged.add(lines.get(at++).replaceFirst("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\S+\\[\\d+:\\d+\\] ", ""));
            }
            assertEquals(c.logLine() == null ? List.of() : List.of(c.logLine()), logged, c.call());
            assertEquals("=> " + c.result(), at < lines.size() ? lines.get(at++) : "(no result)", c.call());
        }
    }
}
