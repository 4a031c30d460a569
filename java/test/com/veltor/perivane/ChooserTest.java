package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * getFolder with the real GTK dialog, on an X server of this test's own (Xvfb, on the first free
 * display number), driven by xdotool. GTK ignores synthetic key events, so keys go to the focused
 * window through XTEST; every wait on X is a --sync wait under a time limit.
 */
class ChooserTest {
    private static final String LIMIT = "30";  // seconds for any one X tool
    private static final String BUILD = System.getProperty("perivane.library.dir");
    private static Process xvfb;
    private static String display;
    @TempDir
    static Path scratch;

    @BeforeAll
    static void startX() throws Exception {
        xvfb = tool("Xvfb", "-displayfd", "1", "-screen", "0", "1600x1200x24", "-nolisten", "tcp",
                "-noreset").start();
        BufferedReader out = new BufferedReader(new InputStreamReader(xvfb.getInputStream(), StandardCharsets.UTF_8));
        display = ":" + CompletableFuture.supplyAsync(() -> out.lines().findFirst().orElseThrow())
                .get(30, TimeUnit.SECONDS);
        // xdotool types a character the keyboard lacks by remapping a key for that moment, and a
        // busy GTK can read the key before it sees the new map and drop the character. The
        // combining acute accent is typed below, so it gets a key of its own from the start
        // (-noreset keeps the map while no client is connected).
        x("xmodmap", "-e", "keycode 255 = U0301 U0301");
    }

    @AfterAll
    static void stopX() throws InterruptedException {
        if (xvfb == null) return;
        xvfb.destroy();
        if (!xvfb.waitFor(10, TimeUnit.SECONDS)) xvfb.destroyForcibly().waitFor();
    }

    private static ProcessBuilder tool(String... command) {
        ProcessBuilder pb = new ProcessBuilder(command).redirectError(ProcessBuilder.Redirect.DISCARD);
        pb.environment().remove("LD_PRELOAD");  // the sanitizer run preloads its runtimes for the JVM only
        pb.environment().put("LC_ALL", "C.UTF-8");
        if (display != null) pb.environment().put("DISPLAY", display);
        return pb;
    }

    /** Runs an X tool (bash for a command line of several) under the time limit; what it printed. */
    private static String x(String... command) throws Exception {
        List<String> limited = new ArrayList<>(List.of("timeout", LIMIT));
        limited.addAll(List.of(command));
        Process p = tool(limited.toArray(String[]::new)).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8).trim();
        assertEquals(0, p.waitFor(), () -> "failed: " + limited);
        return out;
    }

    /** The window titled exactly so, once it is on screen. */
    private static String window(String title) throws Exception {
        return x("xdotool", "search", "--sync", "--onlyvisible", "--name", "^" + title + "$");
    }

    /** Focuses the window, then sends the xdotool key or type command. */
    private static void keys(String window, String... command) throws Exception {
        x("xdotool", "windowfocus", "--sync", window);
        List<String> c = new ArrayList<>(List.of("xdotool"));
        c.addAll(List.of(command));
        x(c.toArray(String[]::new));
    }

    /** A child JVM on this display that calls getFolder as ChooserChild's arguments say. */
    private static ChildJvm.Started chooser(String... args) throws IOException {
        Map<String, String> env = new HashMap<>();
        env.put("DISPLAY", display);
        env.put("WAYLAND_DISPLAY", null);
        env.put("PERIVANE_CHOOSER_DEBUG", "1");  // the chooser program prints its view tree
        return ChildJvm.start(BUILD, env, scratch, ChooserChild.class.getName(), args);
    }

    private static long linesStarting(String text, String start) {
        return text.lines().filter(l -> l.strip().startsWith(start)).count();
    }

    @Test
    void twoCallersAtOnceEachGetTheirOwnDialogTextsAndAnswer() throws Exception {
        // A folder typed into the location field: a space, and é decomposed as some file systems store it;
        // it comes back so spelled, since the composed spelling names nothing here.
        x("bash", "-c", "mkdir \"$1/$(printf 'Cafe\\314\\201 folder')\"", "bash", scratch.toString());
        ChildJvm.Started child = chooser("Pick a folder", "Pick another");
        String first = window("Pick a folder"), second = window("Pick another");
        x("import", "-window", "root", Path.of(BUILD, "chooser-dialogs.png").toString());  // kept as an artifact
        keys(first, "key", "Escape");
        keys(second, "key", "ctrl+l");
        x("bash", "-c", "xdotool type \"$1/$(printf 'Cafe\\314\\201 folder')/\" && xdotool key Return", "bash",
                scratch.toString());

        ChildJvm.Result r = child.finish();
        assertEquals(List.of("Pick a folder -> null",
                "Pick another -> " + ChooserChild.escape(scratch + "/Cafe\u0301 folder"), "done"),
                r.stdout().lines().toList(), r.stderr());
        // Both dialogs showed the caller's texts: on the cancel button (the one Escape presses) and the confirming one.
        assertEquals(2, linesStarting(r.stderr(), "NSButton \"Not now\" [Escape] {"), r.stderr());
        assertEquals(2, linesStarting(r.stderr(), "NSButton \"Choose\" {"), r.stderr());
    }

    @Test
    void aKilledChooserGivesAnExceptionAndTheJvmGoesOn() throws Exception {
        ChildJvm.Started child = chooser("Pick then vanish");
        String pid = x("xdotool", "getwindowpid", window("Pick then vanish"));
        ProcessHandle program = ProcessHandle.of(Long.parseLong(pid)).orElseThrow();
        assertEquals(child.process().pid(), program.parent().orElseThrow().pid());  // ours to kill
        program.destroyForcibly();
        assertEquals(List.of("Pick then vanish -> RuntimeException: Non-Java exception raised, not handled! (Original "
                + "problem: The folder chooser ended without an answer: it was ended by signal 9.)", "done"),
                child.finish().stdout().lines().toList());
    }

    @Test
    void aJvmWhoseToolkitLoadedGtk2StillGetsTheDialog() throws Exception {
        ChildJvm.Started child = chooser("gtk2", "Pick beside GTK 2");
        keys(window("Pick beside GTK 2"), "key", "Escape");
        ChildJvm.Result r = child.finish();
        // Left out: the JVM's signal check (on with -Xcheck:jni) reporting that GTK 2 ignores SIGPIPE.
        assertEquals(List.of("GTK 2 in this JVM: true", "Pick beside GTK 2 -> null", "done"), r.stdout().lines()
                .filter(l -> l.startsWith("GTK 2") || l.startsWith("Pick") || l.equals("done")).toList(), r.stderr());
    }
}
