package com.veltor.perivane;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.stream.Stream;

/**
 * The soak: one JVM runs a round of every native but the dialog (ConcurrencyTest.Round, from the
 * test jar) the given number of times, the running-application check every given round only (it
 * reads every process's argument area), each round's answers compared with the first round's.
 * After a tenth of the rounds (the warm-up: the JIT and the heap have settled) it takes the
 * resident memory and the number of open descriptors; at the end the memory may have grown by
 * less than 5 MiB and the descriptors not at all. Run by scripts/soak.sh, in a scratch HOME,
 * under -Xcheck:jni; exits with 1 when a limit or an answer is missed.
 */
public final class Soak {
    private static final long MAX_GROWTH_KIB = 5 * 1024;

    private Soak() {}

    public static void main(String[] args) throws Exception {
        int rounds = args.length > 0 ? Integer.parseInt(args[0]) : 200_000;
        int processEvery = args.length > 1 ? Integer.parseInt(args[1]) : 100;
        Path home = Path.of(System.getenv("HOME"));
        DockTest.freshDockDomain();
        ConcurrencyTest.Round natives = ConcurrencyTest.Round.in(home.resolve("soak/own"), home.resolve("soak/shared"), "soak");
        List<String> plain = natives.run(false), withProcesses = natives.run(true);
        System.out.println("answers of one round: " + withProcesses);

        int warmUp = Math.max(1, rounds / 10);
        long start = System.nanoTime(), warmRss = 0;
        int warmFds = 0, processChecks = 0;
        for (int n = 1; n <= rounds; n++) {
            boolean checkProcesses = n % processEvery == 0;
            processChecks += checkProcesses ? 1 : 0;
            List<String> answers = natives.run(checkProcesses);
            if (!answers.equals(checkProcesses ? withProcesses : plain)) {
                System.out.println("FAIL: round " + n + " answered " + answers);
                System.exit(1);
            }
            if (n == warmUp) {
                warmRss = rssKib();
                warmFds = openDescriptors();
            }
            if (n == warmUp || n % Math.max(1, rounds / 20) == 0 || n == rounds) {
                System.out.printf("round %d: %.0f s, VmRSS %d KiB, %d descriptors open%n", n,
                        (System.nanoTime() - start) / 1e9, rssKib(), openDescriptors());
            }
        }
        long growth = rssKib() - warmRss;
        int fdGrowth = openDescriptors() - warmFds;
        System.out.printf("%d rounds (%d with the running-application check) in %.0f s; after the warm-up of %d rounds:"
                + " VmRSS grew by %d KiB (limit %d), descriptors by %d%n", rounds, processChecks,
                (System.nanoTime() - start) / 1e9, warmUp, growth, MAX_GROWTH_KIB, fdGrowth);
        boolean passed = growth < MAX_GROWTH_KIB && fdGrowth <= 0;
        System.out.println(passed ? "PASS" : "FAIL");
        System.exit(passed ? 0 : 1);
    }

    private static long rssKib() throws Exception {
        try (Stream<String> lines = Files.lines(Path.of("/proc/self/status"))) {
            String line = lines.filter(l -> l.startsWith("VmRSS:")).findFirst().orElseThrow();
            return Long.parseLong(line.replaceAll("[^0-9]", ""));
        }
    }

    private static int openDescriptors() throws Exception {
        try (Stream<Path> fds = Files.list(Path.of("/proc/self/fd"))) {
            return (int) fds.count();
        }
    }
}
