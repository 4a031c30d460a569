package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.*;

import java.nio.file.Files;
import java.nio.file.Path;
import java.text.Normalizer;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** The process natives: groups, the file-creation mask, and isAppRunning against processes started here. */
class ProcessTest {
    // Names are made by the shell from UTF-8 bytes, whatever this JVM's locale.
    private static final String FOLDER_BYTES = "Test Apps/$(printf 'Caf\\303\\251 Folder')";
    private static final String FOLDER = "Test Apps/Caf\u00e9 Folder";

    private Path dir;
    private final List<Process> started = new ArrayList<>();

    /** Runs `script` in bash with $1 the test folder. */
    private Process start(String script) throws Exception {
        Process p = new ProcessBuilder("bash", "-c", script, "bash", dir.toString()).inheritIO().start();
        started.add(p);
        return p;
    }

    private static void awaitRunning(String name) throws InterruptedException {
        for (long end = System.nanoTime() + 10_000_000_000L; !Perivane.isAppRunning(name); Thread.sleep(5)) {
            if (System.nanoTime() > end) fail("never found running: " + name);
        }
    }

    @Test
    void matchesArgvZeroInAnyLetterCaseAndCanonicalFormUntilItStops() throws Exception {
        dir = Files.createTempDirectory("perivane-process");
        try {
            assertEquals(0, start("d=\"$1/" + FOLDER_BYTES + "\"; mkdir -p \"$d\" && cp /bin/sleep \"$d/Hidden\""
                    + " && cp /bin/sleep \"$d/$(printf 'Sl\\303\\251eper')\"").waitFor());
            Process p = start("exec \"$1/" + FOLDER_BYTES + "/$(printf 'Sl\\303\\251eper')\" 600");
            String argv0 = "/opt/Example Apps/Probe" + System.nanoTime() + ".app/Contents/MacOS/Probe";
            start("exec -a \"" + argv0 + "\" \"$1/" + FOLDER_BYTES + "/Hidden\" 600");
            String path = dir + "/" + FOLDER + "/Sl\u00e9eper", upper = path.toUpperCase(Locale.ROOT);
            awaitRunning(path);
            awaitRunning(argv0);
            for (String same : List.of(upper, Normalizer.normalize(path, Normalizer.Form.NFD),
                    Normalizer.normalize(upper, Normalizer.Form.NFD))) {
                assertTrue(Perivane.isAppRunning(same), same);
            }
            // Not with its arguments, nor a longer or shorter path, nor the executable behind argv0.
            String folder = dir + "/" + FOLDER;
            for (String other : List.of(path + " 600", path + "x", folder, folder + "/Hidden")) {
                assertFalse(Perivane.isAppRunning(other), other);
            }
            p.destroyForcibly().waitFor();
            assertFalse(Perivane.isAppRunning(path));
        } finally {
            for (Process p : started) p.destroyForcibly().waitFor();
            start("rm -rf \"$1\"").waitFor();
        }
    }

    /** A group ID that the group database has no entry for. */
    static final String NAMELESS = "4242424";

    static String groupName(String gid) throws Exception {
        Process p = new ProcessBuilder("getent", "group", gid).start();
        String out = new String(p.getInputStream().readAllBytes()).trim();
        return p.waitFor() == 0 ? out.substring(0, out.indexOf(':')) : null;
    }

    @Test
    void theEffectiveGroupComesFirstThenTheSupplementaryOnesEachOnceAndNamelessIdsSkipped() throws Exception {
        assertEquals(null, groupName(NAMELESS), "the test needs a group ID without a name");
        // setpriv option -> the kernel's sorted list of IDs and the names a child JVM reports
        String[][] cases = {
            {"--groups=100," + NAMELESS + ",0,0", "0 0 100 " + NAMELESS, "[root, " + groupName("100") + "]"},
            {"--groups=" + NAMELESS, NAMELESS, "[root]"},
            {"--clear-groups", "", "[root]"},
        };
        for (String[] c : cases) {
            ChildJvm.Result r = ChildJvm.run(List.of("setpriv", c[0], "--"), ChildJvm.testClassPath(), Map.of(),
                    "com.veltor.perivane.FileChild", "groups");
            assertEquals(0, r.exitCode(), r.stderr());
            assertEquals("", r.stderr(), "nothing pending, nothing logged");
            assertEquals(Map.of("kernel", c[1], "groups", c[2]), FilePermissionsTest.lines(r.stdout()), c[0]);
        }
    }

    @Test
    void umaskCallsReturnTheMaskTheyReplace(@TempDir Path tmp) throws Exception {
        int original = Perivane.setUMask(022);
        try {
            assertEquals(022, Perivane.setUMask(077));
            assertEquals(0600, FilePermissionsTest.mode(Files.createFile(tmp.resolve("private"))), "made under the new mask");
            // Only the low 16 bits are passed on; the system keeps the nine permission bits.
            assertEquals(077, Perivane.setUMask(0x7_0000 | 027));
            assertEquals(027, Perivane.setUMask(-1));
            assertEquals(0777, Perivane.setUMask(0));
        } finally {
            Perivane.setUMask(original);
        }
    }
}
