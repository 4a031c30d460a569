package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Objects;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * getFolder with the real GTK dialog, on a 1366x768 X server of this test's own (Xvfb, on the
 * first free display number), driven by xdotool, with no window manager but in the test that
 * starts one (PERIVANE_TEST_WM: openbox, xfwm4, metacity or mutter; openbox unless set). GTK
 * ignores synthetic key events, so keys go to the focused window through XTEST; every wait on X
 * is a --sync wait or a loop under a time limit. Screenshots go to the build folder.
 */
class ChooserTest {
    private static final String LIMIT = "30";  // seconds for any one X tool
    private static final String BUILD = System.getProperty("perivane.library.dir");
    private static final String WM = Objects.requireNonNullElse(System.getenv("PERIVANE_TEST_WM"), "openbox");
    private static final Map<String, String> WM_COMMANDS = Map.of("openbox", "openbox", "metacity", "metacity",
            "xfwm4", "dbus-run-session -- xfwm4 --compositor=off", "mutter", "mutter --x11 --replace");
    private static Process xvfb;
    private static String display;
    @TempDir
    static Path scratch;

    @BeforeAll
    static void startX() throws Exception {
        xvfb = tool("Xvfb", "-displayfd", "1", "-screen", "0", "1366x768x24", "-nolisten", "tcp",
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
        // Not --sync: xdotool fails when a window it looks at goes away meanwhile (a dialog closing).
        return x("bash", "-c", "until xdotool search --onlyvisible --name \"^$1$\" 2>/dev/null; do sleep 0.2; done",
                "bash", title);
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
        env.put("GSETTINGS_BACKEND", "memory");  // no settings of the machine's user
        return ChildJvm.start(BUILD, env, scratch, ChooserChild.class.getName(), args);
    }

    private static long linesStarting(String text, String start) {
        return text.lines().filter(l -> l.strip().startsWith(start)).count();
    }

    private static void shot(String name) throws Exception {
        x("import", "-window", "root", Path.of(BUILD, "chooser-" + name + ".png").toString());  // kept as an artifact
    }

    /** A window's client area on the screen: x, y, width, height. */
    private static int[] geometry(String window) throws Exception {
        Map<String, Integer> g = new HashMap<>();
        x("xwininfo", "-id", window).lines().map(l -> l.strip().split(":\\s*"))
                .filter(kv -> kv.length == 2 && kv[1].matches("-?\\d+")).forEach(kv -> g.put(kv[0], Integer.valueOf(kv[1])));
        return new int[] {g.get("Absolute upper-left X"), g.get("Absolute upper-left Y"), g.get("Width"), g.get("Height")};
    }

    @Test
    void callersAtOnceGetOneDialogAfterAnotherThatTakesTheKeyboardWithNoWindowManager() throws Exception {
        // A folder typed into the location field: a space, and é decomposed as some file systems store it;
        // it comes back so spelled, since the composed spelling names nothing here.
        x("bash", "-c", "mkdir \"$1/$(printf 'Cafe\\314\\201 folder')\"", "bash", scratch.toString());
        ChildJvm.Started child = chooser("Pick a folder", "Pick another");
        String first = window("(Pick a folder|Pick another)"), title = x("xdotool", "getwindowname", first);
        String otherTitle = title.equals("Pick a folder") ? "Pick another" : "Pick a folder";
        Thread.sleep(1000);
        shot("nowm-first");
        assertEquals(first, x("xdotool", "search", "--onlyvisible", "--name", "^Pick"));  // the other call waits
        int[] d = geometry(first);
        assertTrue(d[0] >= 0 && d[1] >= 0 && d[0] + d[2] <= 1366 && d[1] + d[3] <= 768, Arrays.toString(d));
        x("xdotool", "key", "Escape");  // focusing nothing: the dialog took the keyboard itself
        window(otherTitle);
        x("xdotool", "key", "ctrl+l");  // right as it appears
        x("bash", "-c", "xdotool type \"$1/$(printf 'Cafe\\314\\201 folder')/\" && xdotool key Return", "bash",
                scratch.toString());

        ChildJvm.Result r = child.finish();
        assertEquals(List.of(title + " -> null", otherTitle + " -> " + ChooserChild.escape(scratch + "/Cafe\u0301 folder"),
                "done"), r.stdout().lines().toList(), r.stderr());
        // Both dialogs showed the caller's texts: on the cancel button (the one Escape presses) and the confirming one.
        long cancels = linesStarting(r.stderr(), "NSButton \"Not now\" [Escape] {");
        assertTrue(cancels >= 2 && cancels == linesStarting(r.stderr(), "NSButton \"Choose\" {"), r.stderr());
    }

    @Test
    void underAWindowManagerTheDialogBelongsToItsSwingHost() throws Exception {
        Process wm = tool("bash", "-c", "exec " + WM_COMMANDS.get(WM)).start();
        try {
            x("bash", "-c", "until xprop -root _NET_SUPPORTING_WM_CHECK | grep -q '#'; do sleep 0.2; done");
            ChildJvm.Started child = chooser("host", "Host", "2");
            String host = window("Host");
            x("xdotool", "windowmove", host, "500", "250");
            Thread.sleep(500);
            x("xdotool", "mousemove", "--window", host, "300", "200", "click", "1");
            String dialog = window("Host 1"), hexHost = "0x" + Long.toHexString(Long.parseLong(host));
            x("bash", "-c", "until [ \"$(xdotool getactivewindow)\" = $1 ]; do sleep 0.2; done", "bash", dialog);
            Thread.sleep(1500);  // the second call, made 300 ms after the first, has been waiting since
            shot(WM + "-alone");
            assertEquals(dialog, x("xdotool", "search", "--onlyvisible", "--name", "^Host [0-9]$"));
            String hints = x("xprop", "-id", dialog, "WM_TRANSIENT_FOR", "WM_CLASS", "_NET_WM_STATE", "WM_HINTS");
            assertTrue(hints.contains("WM_TRANSIENT_FOR(WINDOW): window id # " + hexHost), hints);
            assertTrue(hints.contains(x("xprop", "-id", host, "WM_CLASS")) && hints.contains("SKIP_TASKBAR"), hints);
            String leader = x("xprop", "-id", host, "WM_CLIENT_LEADER").replaceAll(".*# ", "");
            assertTrue(hints.contains("group leader: " + leader), hints);
            String icon = x("xprop", "-id", host, "_NET_WM_ICON");
            assertTrue(icon.startsWith("_NET_WM_ICON(CARDINAL)") && icon.equals(x("xprop", "-id", dialog, "_NET_WM_ICON")));
            int[] d = geometry(dialog), h = geometry(host);
            String where = Arrays.toString(d) + " over " + Arrays.toString(h);
            assertTrue(Math.abs(d[0] + d[2] / 2 - h[0] - h[2] / 2) <= 60, where);
            assertTrue(Math.abs(d[1] + d[3] / 2 - h[1] - h[3] / 2) <= 60, where);
            assertTrue(d[0] >= 0 && d[1] >= 0 && d[0] + d[2] <= 1366 && d[1] + d[3] <= 768, where);
            String tree = Files.readString(child.stderr());  // the buttons, as last laid out, lie within it
            for (String button : List.of("NSButton \"Not now\" [Escape] {", "NSButton \"Choose\" {")) {
                String[] f = tree.lines().map(String::strip).filter(l -> l.startsWith(button)).reduce((a, b) -> b)
                        .orElseThrow().replaceAll(".*\\{|}", "").split(", ");
                assertTrue(Double.parseDouble(f[0]) + Double.parseDouble(f[2]) <= d[2]
                        && Double.parseDouble(f[1]) + Double.parseDouble(f[3]) <= d[3], button + " in " + where);
            }
            x("xdotool", "windowactivate", host);  // the window manager may refuse, or raise the dialog with it
            Thread.sleep(1000);
            shot(WM + "-host-activated");
            String stacking = x("xprop", "-root", "_NET_CLIENT_LIST_STACKING");
            assertTrue(stacking.indexOf("0x" + Long.toHexString(Long.parseLong(dialog))) > stacking.indexOf(hexHost),
                    stacking);
            keys(dialog, "key", "Escape");
            keys(window("Host 2"), "key", "Escape");
            assertEquals(List.of("Host 1 -> null", "Host 2 -> null", "done"), child.finish().stdout().lines().toList());
        } finally {
            wm.descendants().forEach(ProcessHandle::destroy);
            wm.destroy();
            wm.waitFor(10, TimeUnit.SECONDS);
        }
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
