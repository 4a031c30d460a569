package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

class DockTest {
    private static final Path DOMAIN =
            Path.of(System.getenv("HOME"), "Library", "Preferences", "com.apple.dock.plist");
    private static final Path FIXTURE =
            Path.of(System.getProperty("perivane.fixtures"), "dock", "com.apple.dock.plist");

    @BeforeEach
    void freshDockDomain() throws IOException {
        Files.createDirectories(DOMAIN.getParent());
        Files.copy(FIXTURE, DOMAIN, StandardCopyOption.REPLACE_EXISTING);
        DOMAIN.toFile().setWritable(true, true);
    }

    /** The domain as the property-list tool reads it; fails the test when it cannot. */
    private static String plistutil(Path file) throws IOException, InterruptedException {
        Process p = new ProcessBuilder("plistutil", "-i", file.toString(), "-f", "xml", "-o", "-")
                .redirectErrorStream(true).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertEquals(0, p.waitFor(), () -> "plistutil could not read " + file + ":\n" + out);
        assertTrue(out.contains("<plist"), () -> "plistutil gave no property list:\n" + out);
        return out;
    }

    private static int occurrences(String text, String part) {
        int n = 0;
        for (int i = text.indexOf(part); i >= 0; i = text.indexOf(part, i + part.length())) n++;
        return n;
    }

    @Test
    void unpinsAnEntryTheDockWroteAndLeavesTheRestAsItWas() throws Exception {
        String before = plistutil(DOMAIN);
        assertTrue(before.contains("file:///Applications/Visual%20Studio%20Code.app/"));
        assertTrue(Perivane.unregisterFileAsDockIcon("/Applications/Visual Studio Code.app"));
        String after = plistutil(DOMAIN);
        assertFalse(after.contains("Visual%20Studio%20Code"));
        // The entry was one <dict> in the array: cut it out of the old text and nothing else differs.
        int url = before.indexOf("file:///Applications/Visual%20Studio%20Code.app/");
        int start = before.lastIndexOf("\t\t<dict>\n\t\t\t<key>GUID</key>", url);
        int end = before.indexOf("\n\t\t</dict>\n", url) + "\n\t\t</dict>\n".length();
        assertEquals(before.substring(0, start) + before.substring(end), after);
        assertFalse(Perivane.unregisterFileAsDockIcon("/Applications/Visual Studio Code.app"));
    }

    @Test
    void pinsANewPathAsTheExactRecordAndUnpinsItAgain() throws Exception {
        String before = plistutil(DOMAIN);
        assertTrue(Perivane.registerFileAsDockIcon("/Applications/Foo Bar.app", "Foo Bar"));
        String after = plistutil(DOMAIN);
        String record = String.join("\n",
                "\t\t<dict>",
                "\t\t\t<key>tile-data</key>",
                "\t\t\t<dict>",
                "\t\t\t\t<key>file-data</key>",
                "\t\t\t\t<dict>",
                "\t\t\t\t\t<key>_CFURLString</key>",
                "\t\t\t\t\t<string>/Applications/Foo Bar.app</string>",
                "\t\t\t\t\t<key>_CFURLStringType</key>",
                "\t\t\t\t\t<integer>0</integer>",
                "\t\t\t\t</dict>",
                "\t\t\t\t<key>file-label</key>",
                "\t\t\t\t<string>Foo Bar</string>",
                "\t\t\t\t<key>dock-extra</key>",
                "\t\t\t\t<false/>",
                "\t\t\t</dict>",
                "\t\t</dict>",
                "\t</array>");
        // The record is the last element of "persistent-apps", and the only change.
        int appsEnd = before.indexOf("\t</array>", before.indexOf("<key>persistent-apps</key>"));
        assertEquals(before.substring(0, appsEnd) + record + before.substring(appsEnd + "\t</array>".length()),
                after);

        // Our own record is found again: no second copy, and it can be unpinned.
        assertFalse(Perivane.registerFileAsDockIcon("/Applications/Foo Bar.app", "Foo Bar"));
        assertEquals(after, plistutil(DOMAIN));
        assertTrue(Perivane.unregisterFileAsDockIcon("/Applications/Foo Bar.app"));
        assertEquals(before, plistutil(DOMAIN));
    }

    @Test
    void refusesToPinWhatTheDockListsAlready() throws Exception {
        byte[] before = Files.readAllBytes(DOMAIN);
        assertFalse(Perivane.registerFileAsDockIcon("/Applications/iTerm.app", "iTerm"));
        assertFalse(Perivane.registerFileAsDockIcon("/System/Applications/Music.app", "Music"));
        assertTrue(java.util.Arrays.equals(before, Files.readAllBytes(DOMAIN)), "the domain was rewritten");
    }

    @Test
    void nullArgumentsAreFalseWithNothingPendingAndNothingWritten() throws Exception {
        byte[] before = Files.readAllBytes(DOMAIN);
        assertFalse(Perivane.registerFileAsDockIcon(null, "label"));
        assertFalse(Perivane.registerFileAsDockIcon("/Applications/Foo.app", null));
        assertFalse(Perivane.registerFileAsDockIcon(null, null));
        assertFalse(Perivane.unregisterFileAsDockIcon(null));
        // A path that cannot name a file is refused the same way.
        assertFalse(Perivane.registerFileAsDockIcon("/Applications/Foo\u0000.app", "label"));
        assertFalse(Perivane.registerFileAsDockIcon("/Applications/\ud800.app", "label"));
        // An empty path is refused by the path conversion itself, as a pending exception.
        RuntimeException e = assertThrows(RuntimeException.class, () -> Perivane.registerFileAsDockIcon("", "label"));
        assertTrue(e.getMessage().contains("nil or empty path argument"), e.getMessage());
        assertTrue(java.util.Arrays.equals(before, Files.readAllBytes(DOMAIN)), "the domain was rewritten");
    }

    @Test
    void noDomainOrADamagedOneIsNeverWritten() throws Exception {
        Files.delete(DOMAIN);
        assertFalse(Perivane.registerFileAsDockIcon("/Applications/Foo.app", "Foo"));
        assertFalse(Files.exists(DOMAIN));
        byte[] damaged = java.util.Arrays.copyOf(Files.readAllBytes(FIXTURE), 4000);
        Files.write(DOMAIN, damaged);
        assertFalse(Perivane.registerFileAsDockIcon("/Applications/Foo.app", "Foo"));
        assertFalse(Perivane.unregisterFileAsDockIcon("/Applications/iTerm.app"));
        assertTrue(java.util.Arrays.equals(damaged, Files.readAllBytes(DOMAIN)));
    }

    @Test
    void threadsAndProcessesPinningAtOnceLoseNothing() throws Exception {
        int total = 100, inThreads = 52, threads = 8, processes = 4;
        List<String> paths = new ArrayList<>();
        for (int i = 0; i < total; i++) paths.add("/Applications/Concurrent " + i + ".app");
        ExecutorService pool = Executors.newFixedThreadPool(threads + processes);
        List<Future<Boolean>> results = new ArrayList<>();
        for (int t = 0; t < threads; t++) {
            int first = t;
            results.add(pool.submit(() -> {
                boolean all = true;
                for (int i = first; i < inThreads; i += threads) {
                    all &= Perivane.registerFileAsDockIcon(paths.get(i), "thread " + i);
                }
                return all;
            }));
        }
        for (int c = 0; c < processes; c++) {
            List<String> args = new ArrayList<>(List.of("pin"));
            for (int i = inThreads + c; i < total; i += processes) args.add(paths.get(i));
            results.add(pool.submit(() -> {
                ChildJvm.Result r = ChildJvm.run(List.of(), ChildJvm.testClassPath(), Map.of(),
                        DockPinner.class.getName(), args.toArray(new String[0]));
                assertEquals(0, r.exitCode(), () -> r.stdout() + r.stderr());
                return true;
            }));
        }
        pool.shutdown();
        for (Future<Boolean> f : results) assertTrue(f.get(300, TimeUnit.SECONDS));
        String xml = plistutil(DOMAIN);
        for (String path : paths) {
            assertEquals(1, occurrences(xml, "<string>" + path + "</string>"), path);
        }
        assertEquals(8 + total, occurrences(xml, "<key>_CFURLString</key>") - 1, "the Dock's own entries are kept");
    }

    @Test
    void aProcessKilledWhileWritingLeavesAReadableDomain() throws Exception {
        List<String> command = List.of(ChildJvm.javaExecutable(), "-Xcheck:jni",
                "-Djava.library.path=" + System.getProperty("perivane.library.dir"),
                "-cp", ChildJvm.testClassPath(), DockPinner.class.getName(), "churn", "/Applications/Churn.app");
        for (int round = 0; round < 4; round++) {
            Process p = new ProcessBuilder(command).redirectErrorStream(true).start();
            BufferedReader out = new BufferedReader(new InputStreamReader(p.getInputStream(), StandardCharsets.UTF_8));
            assertEquals("ready", out.readLine());
            Thread.sleep(150 + 100 * round);  // let it get well into a later write
            p.destroyForcibly();  // SIGKILL: no chance to tidy up
            assertTrue(p.waitFor(30, TimeUnit.SECONDS));
            String xml = plistutil(DOMAIN);
            assertTrue(xml.contains("<key>persistent-apps</key>"));
            assertTrue(xml.contains("file:///Applications/iTerm.app/"));
        }
        try (var files = Files.list(DOMAIN.getParent())) {
            System.out.println("temporary files left by killed writers: "
                    + files.filter(f -> f.getFileName().toString().startsWith(".com.apple.dock.plist.")).count());
        }
        // Still a domain the library reads and changes.
        assertTrue(Perivane.registerFileAsDockIcon("/Applications/After.app", "After"));
        assertTrue(plistutil(DOMAIN).contains("<string>/Applications/After.app</string>"));
    }
}
