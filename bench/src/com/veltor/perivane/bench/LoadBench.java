package com.veltor.perivane.bench;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.jar.JarFile;
import java.util.stream.Stream;
import java.nio.file.LinkOption;

/**
 * The first load of Perivane, each in a fresh JVM: from perivane.jar with a cold cache (its copy
 * extracted and checked), with a warm cache (the copy checked again), and from java.library.path;
 * against System.loadLibrary of the same file from a folder, the way that needs no loader. The
 * ways take turns, round after round; printed are the medians of the time inside each JVM
 * (class initialization, or the loadLibrary call) and of the whole JVM run, with their ratios to
 * System.loadLibrary.
 */
public final class LoadBench {
    private LoadBench() {}

    /** The measured JVM: prints the nanoseconds its first load took. */
    public static final class Child {
        private Child() {}

        public static void main(String[] args) throws Exception {
            long start = System.nanoTime();
            if (args[0].equals("loadLibrary")) {
                System.loadLibrary("perivane");
            } else if (args[0].equals("floor")) {
                // The least a checked load from the jar does: read the jar's digests, look at the
                // cached copy (what identifies it), load it.
                try (JarFile jar = new JarFile(args[2])) {
                    jar.getInputStream(jar.getEntry("META-INF/native/linux-x86_64/SHA256SUMS")).readAllBytes();
                }
                Files.readAttributes(Path.of(args[1]), "unix:dev,ino,size,lastModifiedTime,ctime", LinkOption.NOFOLLOW_LINKS);
                System.load(args[1]);
            } else {
                Class.forName("com.veltor.perivane.Perivane");
            }
            System.out.println(System.nanoTime() - start);
        }
    }

    private static long[] run(Path cache, String libraryPath, String... how) throws Exception {
        long start = System.nanoTime();
        ProcessBuilder pb = new ProcessBuilder(Path.of(System.getProperty("java.home"), "bin", "java").toString(),
                "-Djava.library.path=" + libraryPath, "-cp", System.getProperty("java.class.path"),
                Child.class.getName());
        pb.command().addAll(List.of(how));
        pb.environment().put("XDG_CACHE_HOME", cache.toString());
        Process p = pb.redirectErrorStream(true).start();
        String out = new String(p.getInputStream().readAllBytes()).trim();
        if (p.waitFor() != 0) throw new IllegalStateException(how[0] + ": " + out);
        return new long[] {Long.parseLong(out), System.nanoTime() - start};
    }

    public static void main(String[] args) throws Exception {
        int rounds = args.length > 0 ? Integer.parseInt(args[0]) : 15;
        Path scratch = Files.createTempDirectory("perivane-loadbench");
        Path none = scratch.resolve("none");
        Path warm = scratch.resolve("warm");
        run(warm, none.toString(), "jar");
        Path folder;
        try (Stream<Path> s = Files.list(warm.resolve("perivane"))) {
            folder = s.findFirst().orElseThrow();  // the jar's copy, stripped and checked
        }

        Map<String, List<long[]>> times = new LinkedHashMap<>();
        String[] ways = {"System.loadLibrary from a folder", "Perivane from java.library.path",
            "Perivane from the jar, cold cache", "Perivane from the jar, warm cache"};
        for (String way : ways) times.put(way, new ArrayList<>());
        for (int round = -1; round < rounds; round++) {  // round -1 warms the disk cache and the JVM's files
            long[][] r = {
                run(warm, folder.toString(), "loadLibrary"),
                run(warm, folder.toString(), "class"),
                run(scratch.resolve("cold" + round), none.toString(), "class"),
                run(warm, none.toString(), "class"),
            };
            for (int i = 0; round >= 0 && i < ways.length; i++) times.get(ways[i]).add(r[i]);
        }

        System.out.printf("first load in a fresh JVM, median of %d rounds:%n", rounds);
        double[] base = {median(times.get(ways[0]), 0), median(times.get(ways[0]), 1)};
        for (String way : ways) {
            double inside = median(times.get(way), 0), whole = median(times.get(way), 1);
            System.out.printf("%-36s inside %10s (ratio %.2f)   whole JVM %10s (ratio %.2f)%n", way,
                    Timing.format(inside), inside / base[0], Timing.format(whole), whole / base[1]);
        }
        try (Stream<Path> s = Files.walk(scratch)) {
            s.sorted(Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
        }
    }

    /**
     * The target row: the first load from the jar with a warm cache against System.loadLibrary
     * of the same file, and against the floor (see Child), in fresh JVMs taking turns; the time
     * inside each JVM, medians of {@code rounds}.
     */
    static void targets(Table table, int rounds) throws Exception {
        Path scratch = Files.createTempDirectory("perivane-loadbench"), warm = scratch.resolve("warm");
        String none = scratch.resolve("none").toString(), jar = System.getProperty("java.class.path").split(":")[0];
        run(warm, none, "class");
        Path folder;
        try (Stream<Path> s = Files.list(warm.resolve("perivane"))) {
            folder = s.findFirst().orElseThrow();
        }
        String library = folder.resolve(System.mapLibraryName("perivane")).toString();
        List<long[]> base = new ArrayList<>(), fromJar = new ArrayList<>(), floor = new ArrayList<>();
        for (int round = -1; round < rounds; round++) {
            long[] b = run(warm, folder.toString(), "loadLibrary"), j = run(warm, none, "class"),
                    f = run(warm, none, "floor", library, jar);
            if (round < 0) continue;
            base.add(b);
            fromJar.add(j);
            floor.add(f);
        }
        double j = median(fromJar, 0);
        table.difference("first load from the jar, warm cache", "`System.loadLibrary`",
                new Timing.Result(j, median(base, 0)), 4e6);
        table.reference("first load from the jar, warm cache", "read the jar's digests, stat the copy, `System.load`",
                new Timing.Result(j, median(floor, 0)));
        try (Stream<Path> s = Files.walk(scratch)) {
            s.sorted(Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
        }
    }

    private static double median(List<long[]> runs, int which) {
        long[] t = runs.stream().mapToLong(r -> r[which]).toArray();
        Arrays.sort(t);
        return t[t.length / 2];
    }
}
