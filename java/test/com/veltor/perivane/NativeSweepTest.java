package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.fail;

import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeSet;
import org.junit.jupiter.api.Test;

/**
 * Calls every native with null arguments and, where it takes a path, an empty one, and fails
 * when a native is declared but not swept here. Plain natives refuse null by name; bracketed
 * ones answer null or false in silence, and raise the platform's complaint for an empty path.
 */
class NativeSweepTest {
    private static final String EMPTY_PATH_MESSAGE = "Non-Java exception raised, not handled! (Original problem: "
            + "*** -[NSFileManager fileSystemRepresentationWithPath:]: nil or empty path argument)";

    interface Call {
        void run() throws Exception;
    }

    private static void refusesNull(String parameter, Call call) {
        NullPointerException e = assertThrows(NullPointerException.class, call::run);
        assertEquals(parameter, e.getMessage());
    }

    private static void raisesForEmptyPath(Call call) {
        RuntimeException e = assertThrows(RuntimeException.class, call::run);
        assertEquals(RuntimeException.class, e.getClass());
        assertEquals(EMPTY_PATH_MESSAGE, e.getMessage());
    }

    private static final boolean F = false;

    private final Map<String, Call> sweep = new LinkedHashMap<>();

    NativeSweepTest() {
        sweep.put("toHfsStylePath", () -> refusesNull("path", () -> Perivane.toHfsStylePath(null)));
        sweep.put("toUnxStylePath", () -> refusesNull("path", () -> Perivane.toUnxStylePath(null)));
        sweep.put("normalize", () -> refusesNull("text", () -> Perivane.normalize(null)));
        sweep.put("listVolumes", () -> assertFalse(Perivane.listVolumes().length == 0));
        sweep.put("getAllVolumeInfos", () -> assertFalse(Perivane.getAllVolumeInfos().length == 0));
        sweep.put("isSymbolicLink", () -> {
            refusesNull("path", () -> Perivane.isSymbolicLink(null));
            assertFalse(Perivane.isSymbolicLink(""));
        });
        sweep.put("getSymbolicLinkTarget", () -> {
            refusesNull("path", () -> Perivane.getSymbolicLinkTarget(null));
            assertNull(Perivane.getSymbolicLinkTarget(""));
        });
        sweep.put("createSymbolicLink", () -> {
            refusesNull("linkPath", () -> Perivane.createSymbolicLink(null, "/tmp"));
            refusesNull("targetPath", () -> Perivane.createSymbolicLink("/tmp/never-made-by-the-sweep", null));
        });
        sweep.put("removeSymbolicLink", () -> refusesNull("path", () -> Perivane.removeSymbolicLink(null)));
        sweep.put("hasBundleBit", () -> refusesNull("path", () -> Perivane.hasBundleBit(null)));
        sweep.put("setBundleBit", () -> refusesNull("path", () -> Perivane.setBundleBit(null, true)));
        sweep.put("getCurrentProcessGroups", Perivane::getCurrentProcessGroups);
        sweep.put("setUMask", () -> {
            int old = Perivane.setUMask(022);
            assertEquals(022, Perivane.setUMask(old));
        });
        sweep.put("isAppRunning", () -> {
            assertFalse(Perivane.isAppRunning(null));
            raisesForEmptyPath(() -> Perivane.isAppRunning(""));
        });
        sweep.put("registerFileAsDockIcon", () -> {
            assertFalse(Perivane.registerFileAsDockIcon(null, "name"));
            assertFalse(Perivane.registerFileAsDockIcon("/Applications/X.app", null));
            raisesForEmptyPath(() -> Perivane.registerFileAsDockIcon("", "name"));
        });
        sweep.put("unregisterFileAsDockIcon", () -> {
            assertFalse(Perivane.unregisterFileAsDockIcon(null));
            raisesForEmptyPath(() -> Perivane.unregisterFileAsDockIcon(""));
        });
        sweep.put("getFileAttributes", () -> {
            assertNull(Perivane.getFileAttributes(null));
            raisesForEmptyPath(() -> Perivane.getFileAttributes(""));
        });
        sweep.put("setFileAttributes", () -> {
            assertFalse(Perivane.setFileAttributes(null, F, F, F, F, F, F, F, F, F));
            raisesForEmptyPath(() -> Perivane.setFileAttributes("", F, F, F, F, F, F, F, F, F));
        });
        sweep.put("getFolder", () -> {
            // In a JVM without a display, so that no dialog can open: the exception and null.
            Map<String, String> noDisplay = new HashMap<>();
            noDisplay.put("DISPLAY", null);
            noDisplay.put("WAYLAND_DISPLAY", null);
            ChildJvm.Result r = ChildJvm.run(List.of(), ChildJvm.testClassPath(), noDisplay,
                    ChooserChild.class.getName(), "nulls");
            assertEquals(List.of("nulls -> RuntimeException: Non-Java exception raised, not handled! (Original problem: "
                    + "The folder chooser cannot open a display.)", "done"), r.stdout().lines().toList(), r.stderr());
            assertEquals("", r.stderr());
        });
        sweep.put("createShortcutItem", () -> {
            assertFalse(Perivane.createShortcutItem(null, "/tmp", "/tmp"));
            assertFalse(Perivane.createShortcutItem("never-made-by-the-sweep", null, "/tmp"));
            assertFalse(Perivane.createShortcutItem("never-made-by-the-sweep", "/tmp", null));
            raisesForEmptyPath(() -> Perivane.createShortcutItem("never-made-by-the-sweep", "", "/tmp"));
        });
        sweep.put("removeShortcutItem", () -> {
            assertFalse(Perivane.removeShortcutItem(null, "/tmp"));
            assertFalse(Perivane.removeShortcutItem("never-made-by-the-sweep", null));
            raisesForEmptyPath(() -> Perivane.removeShortcutItem("never-made-by-the-sweep", ""));
        });
        sweep.put("createDesktopItem", () -> {
            assertFalse(Perivane.createDesktopItem(null, "/tmp"));
            assertFalse(Perivane.createDesktopItem("never-made-by-the-sweep", null));
            raisesForEmptyPath(() -> Perivane.createDesktopItem("never-made-by-the-sweep", ""));
        });
        sweep.put("removeDesktopItem", () -> assertFalse(Perivane.removeDesktopItem(null)));
        sweep.put("getShortcutPath", () -> {
            assertNull(Perivane.getShortcutPath(null));
            raisesForEmptyPath(() -> Perivane.getShortcutPath(""));
        });
        sweep.put("getHomeFolder", () -> assertEquals(System.getenv("HOME"), Perivane.getHomeFolder()));
        sweep.put("getDesktopFolder", () -> assertEquals(System.getenv("HOME") + "/Desktop", Perivane.getDesktopFolder()));
        sweep.put("getFileOwner", () -> {
            assertNull(Perivane.getFileOwner(null));
            raisesForEmptyPath(() -> Perivane.getFileOwner(""));
        });
    }

    @Test
    void everyNativeIsSweptAndBehavesAtItsEdges() throws Exception {
        Set<String> declared = new TreeSet<>();
        for (Method m : Perivane.class.getDeclaredMethods()) {
            if (Modifier.isNative(m.getModifiers())) declared.add(m.getName());
        }
        assertEquals(27, declared.size(), declared.toString());
        Set<String> unswept = new TreeSet<>(declared);
        unswept.removeAll(sweep.keySet());
        if (!unswept.isEmpty()) fail("natives not swept: " + unswept);

        for (Map.Entry<String, Call> e : sweep.entrySet()) {
            try {
                e.getValue().run();
            } catch (UnsatisfiedLinkError err) {
                fail(e.getKey() + " is not exported by the library", err);
            }
        }
    }
}
