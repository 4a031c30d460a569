package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.stream.IntStream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class ConcurrencyTest {
    /**
     * Calls of every native but the dialog: on files of its own in {@code own}, and for the Dock
     * and alias natives also on what every round shares (HOME's Dock domain, which must exist, and
     * Desktop, the folder {@code shared} and an alias in it that all rounds rewrite). No other round
     * may change what a round answers: the test and the soak (stress/) compare each with one alone.
     */
    public record Round(String own, String shared, String name) {
        public static Round in(Path own, Path shared, String name) throws IOException {
            Files.writeString(Files.createDirectories(own.resolve("folder")).resolveSibling("file"), "x");
            Files.writeString(Files.createDirectories(shared).resolve("target"), "x");
            Files.createDirectories(Path.of(System.getenv("HOME"), "Desktop"));
            Perivane.setUMask(022);  // what every round sets again, and so finds
            return new Round(own.toString(), shared.toString(), name);
        }

        public List<String> run(boolean processCheck) throws IOException {
            String file = own + "/file", folder = own + "/folder", link = own + "/link";
            String app = "/Applications/Round " + name + ".app", hfs = Perivane.toHfsStylePath(own + "/Cafe\u0301:x");
            List<String> r = new ArrayList<>(List.of(hfs, Perivane.toUnxStylePath(hfs), Perivane.normalize("e\u0301" + name),
                    Arrays.toString(Perivane.listVolumes())));
            for (VolumeInfo v : Perivane.getAllVolumeInfos()) r.add(v.getName() + " " + v.getTotalBytes());
            Perivane.createSymbolicLink(link, "target " + name);
            r.add(Perivane.isSymbolicLink(link) + " " + Perivane.getSymbolicLinkTarget(link) + " "
                    + Perivane.removeSymbolicLink(link) + " " + Perivane.isSymbolicLink(link));
            for (boolean on : new boolean[] {true, false}) {
                Perivane.setBundleBit(folder, on);
                r.add(Perivane.hasBundleBit(folder) + " " + Perivane.hasBundleBit(file));
            }
            r.add(Arrays.toString(Perivane.getCurrentProcessGroups()) + " " + Perivane.setUMask(022));
            if (processCheck) r.add(Perivane.isAppRunning(Files.readString(Path.of("/proc/self/cmdline")).split("\0")[0])
                    + " " + Perivane.isAppRunning(own + "/Not running.app"));  // this JVM by its argv[0], and nothing
            r.add(Perivane.registerFileAsDockIcon(app, name) + " " + Perivane.registerFileAsDockIcon(app, "again") + " "
                    + Perivane.registerFileAsDockIcon("/Applications/iTerm.app", name) + " "
                    + Perivane.unregisterFileAsDockIcon(app) + " " + Perivane.unregisterFileAsDockIcon(app));
            for (String[] at : new String[][] {{"alias", file, own}, {name, file, shared}, {"everyone's", shared + "/target", shared}}) {
                boolean mine = !at[0].equals("everyone's");  // the shared alias stays: every round rewrites it
                r.add(Perivane.createShortcutItem(at[0], at[1], at[2]) + " " + Perivane.getShortcutPath(at[2] + "/" + at[0])
                        + " " + (mine && Perivane.removeShortcutItem(at[0], at[2])));
            }
            String desktop = Perivane.getDesktopFolder();
            r.add(desktop + " " + Perivane.getHomeFolder() + " " + Perivane.createDesktopItem(name, file) + " "
                    + Perivane.getShortcutPath(desktop + "/" + name) + " " + Perivane.removeDesktopItem(name));
            r.add(Perivane.setFileAttributes(file, true, true, false, true, false, false, false, false, false) + " "
                    + Arrays.toString(Perivane.getFileAttributes(file)) + " " + Perivane.getFileOwner(file));
            return r;
        }
    }

    @Test
    void sixteenThreadsAndFourPinningJvmsGetWhatEachGetsAlone(@TempDir Path dir) throws Exception {
        DockTest.freshDockDomain();
        List<Callable<Object>> tasks = new ArrayList<>();
        for (int t = 0; t < 16; t++) {
            Round round = Round.in(dir.resolve("own " + t), dir.resolve("shared"), "thread " + t);
            List<String> alone = round.run(true);
            tasks.add(() -> {
                long end = System.nanoTime() + TimeUnit.SECONDS.toNanos(30);
                do assertEquals(alone, round.run(true)); while (System.nanoTime() < end);
                return null;
            });
        }
        List<String> pins = IntStream.range(0, 100).mapToObj(i -> "/Applications/Child " + i + ".app").toList();
        for (int c = 0; c < 4; c++) {  // 25 pins each, while the threads run
            List<String> mine = pins.subList(c * 25, c * 25 + 25);
            tasks.add(() -> {
                String[] args = IntStream.range(-1, 25).mapToObj(i -> i < 0 ? "pin" : mine.get(i)).toArray(String[]::new);
                ChildJvm.Result r = ChildJvm.run(FileChild.class.getName(), args);
                assertEquals(mine.stream().map(p -> p + "=true").toList(), r.stdout().lines().toList(), r.stderr());
                return null;
            });
        }
        ExecutorService pool = Executors.newFixedThreadPool(tasks.size());
        for (Future<Object> f : pool.invokeAll(tasks, 300, TimeUnit.SECONDS)) f.get();  // rethrows a failure
        pool.shutdown();
        List<String> strings = DockTest.plistutil().lines().map(String::strip).filter(l -> l.startsWith("<string>")).toList();
        assertEquals(pins.stream().map(p -> "<string>" + p + "</string>").sorted().toList(),
                strings.stream().filter(l -> l.startsWith("<string>/")).sorted().toList(), "every child's pin once, no thread's");
        assertEquals(9, strings.stream().filter(l -> l.startsWith("<string>file://")).count(), "and the Dock's own kept");
    }
}
