package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.text.Normalizer;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** isAppRunning against processes started here. */
class ProcessTest {
    // Folder and file names are made by the shell from UTF-8 bytes, whatever this JVM's locale.
    private static final String FOLDER_BYTES = "Test Apps/$(printf 'Caf\\303\\251 Folder')";
    private static final String FOLDER = "Test Apps/Caf\u00e9 Folder";

    private Path dir;
    private final List<Process> started = new ArrayList<>();

    @BeforeEach
    void makeFolder() throws Exception {
        dir = Files.createTempDirectory("perivane-process");
        // Two copies of a small program under a folder with a space and an accented letter.
        run("d=\"$1/" + FOLDER_BYTES + "\"; mkdir -p \"$d\" && cp /bin/sleep \"$d/$(printf 'Sl\\303\\251eper')\""
                + " && cp /bin/sleep \"$d/Hidden\"");
    }

    @AfterEach
    void stopAll() throws Exception {
        for (Process p : started) {
            p.destroyForcibly();
            p.waitFor();
        }
        run("rm -rf \"$1\"");
    }

    private void run(String script) throws Exception {
        Process p = new ProcessBuilder("bash", "-c", script, "bash", dir.toString()).inheritIO().start();
        if (p.waitFor() != 0) fail("setup script failed: " + script);
    }

    /** Starts `script` (with $1 the test folder), waits until its argv[0] is `argv0`. */
    private Process start(String script, String argv0) throws Exception {
        Process p = new ProcessBuilder("bash", "-c", script, "bash", dir.toString())
                .redirectOutput(ProcessBuilder.Redirect.DISCARD)
                .redirectError(ProcessBuilder.Redirect.INHERIT)
                .start();
        started.add(p);
        byte[] expected = (argv0 + "\0").getBytes(StandardCharsets.UTF_8);
        Path cmdline = Path.of("/proc/" + p.pid() + "/cmdline");
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(10);
        while (System.nanoTime() < deadline) {
            try {
                byte[] now = Files.readAllBytes(cmdline);
                if (now.length >= expected.length
                        && Arrays.equals(now, 0, expected.length, expected, 0, expected.length)) {
                    return p;
                }
            } catch (IOException e) {
                // not there yet, or ended: the deadline decides
            }
            Thread.sleep(5);
        }
        throw new AssertionError("the process never showed argv[0] " + argv0);
    }

    private String accentedCopy() {
        return dir + "/" + FOLDER + "/Sl\u00e9eper";
    }

    private Process startAccentedCopy() throws Exception {
        return start("exec \"$1/" + FOLDER_BYTES + "/$(printf 'Sl\\303\\251eper')\" 600", accentedCopy());
    }

    @Test
    void matchesThePathInAnyLetterCaseAndCanonicalForm() throws Exception {
        startAccentedCopy();
        startAccentedCopy();  // two processes with one name still give one answer
        String path = accentedCopy();
        String upper = path.toUpperCase(Locale.ROOT);
        assertTrue(Perivane.isAppRunning(path));
        assertTrue(Perivane.isAppRunning(upper));
        assertTrue(Perivane.isAppRunning(Normalizer.normalize(path, Normalizer.Form.NFD)));
        assertTrue(Perivane.isAppRunning(Normalizer.normalize(upper, Normalizer.Form.NFD)));
        // Only argv[0] counts: not with its arguments, not a longer or shorter path.
        assertFalse(Perivane.isAppRunning(path + " 600"));
        assertFalse(Perivane.isAppRunning(path + "x"));
        assertFalse(Perivane.isAppRunning(dir + "/" + FOLDER));
    }

    @Test
    void matchesArgvZeroAndNotTheExecutable() throws Exception {
        String argv0 = "/opt/Example Apps/Probe" + System.nanoTime() + ".app/Contents/MacOS/Probe";
        start("exec -a \"" + argv0 + "\" \"$1/" + FOLDER_BYTES + "/Hidden\" 600", argv0);
        assertTrue(Perivane.isAppRunning(argv0));
        assertTrue(Perivane.isAppRunning(argv0.toLowerCase(Locale.ROOT)));
        assertFalse(Perivane.isAppRunning(dir + "/" + FOLDER + "/Hidden"));
    }

    @Test
    void aStoppedProcessIsNoLongerMatched() throws Exception {
        Process p = startAccentedCopy();
        assertTrue(Perivane.isAppRunning(accentedCopy()));
        p.destroyForcibly();
        p.waitFor();  // ended and reaped
        assertFalse(Perivane.isAppRunning(accentedCopy()));
    }

    @Test
    void findsThisJvmByItsArgvZero() throws Exception {
        byte[] cmdline = Files.readAllBytes(Path.of("/proc/self/cmdline"));
        int end = 0;
        while (cmdline[end] != 0) end++;
        String argv0 = new String(cmdline, 0, end, StandardCharsets.UTF_8);
        assertTrue(Perivane.isAppRunning(argv0), argv0);
    }

    @Test
    void nullIsFalseWithNothingThrown() {
        assertFalse(Perivane.isAppRunning(null));
        assertFalse(Perivane.isAppRunning("/no/such/Application.app/Contents/MacOS/None"));
    }
}
