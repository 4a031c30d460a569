package com.veltor.perivane.bench;

import com.veltor.perivane.Perivane;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.text.Normalizer;
import java.util.ArrayList;
import java.util.List;

/**
 * isAppRunning for a path that no process has (every process gets named: the worst case),
 * against a floor, a bare scan that lists /proc and reads every /proc/PID/cmdline (Floor, in the
 * same JVM, timed alternately), and against the JDK's way of asking the same
 * (ProcessHandle.allProcesses() with each process's command and arguments). The benchmark starts
 * its own extra processes first (-Dprocesses=N, default 500) and kills them at the end. Last,
 * the same call with four hostile processes more, against the call without them.
 */
public final class ProcessBench {
    private ProcessBench() {}

    private static final String FAKE = "/opt/Example Apps/Fake%d.app/Contents/MacOS/Fake";
    private static final String MISSING = "/opt/Example Apps/NotRunning.app/Contents/MacOS/NotRunning";

    public static void main(String[] args) throws Exception {
        Table table = new Table();
        int extra = Integer.getInteger("processes", 500);
        List<Process> started = start(extra);
        try {
            double nativeNanos = againstFloor(table, extra);
            Timing.compare("isAppRunning / the JDK's search", () -> Perivane.isAppRunning(MISSING),
                    () -> jdkSearch(MISSING), 5, 15);

            // Hostile processes, which any user can start: argv[0] is a slash and 128 KiB of
            // alternating combining marks (U+0301, U+0316), whose normalization costs time in
            // the square of its length.
            for (int i = 0; i < HOSTILE; i++) {
                started.add(new ProcessBuilder("bash", "-c",
                        "exec -a \"/$(printf '\\xcc\\x81\\xcc\\x96%.0s' {1..32766})\" sleep 600")
                        .redirectOutput(ProcessBuilder.Redirect.DISCARD)
                        .redirectError(ProcessBuilder.Redirect.DISCARD)
                        .start());
            }
            for (Process p : started.subList(extra, started.size())) awaitArgv0Length(p, 1 + 4 * 32766);
            double hostileNanos = Timing.medianNanos(() -> Perivane.isAppRunning(MISSING), 1, 7);
            System.out.printf("%-58s native %10s   without them %10s   ratio %.2f%n",
                    "isAppRunning, " + HOSTILE + " hostile processes more", Timing.format(hostileNanos),
                    Timing.format(nativeNanos), hostileNanos / nativeNanos);
        } finally {
            stop(started);
        }
        table.print();
    }

    /** The target alone: isAppRunning against the floor, with {@code extra} processes more, in rounds. */
    static void targets(Table table, int extra, int rounds) throws Exception {
        List<Process> started = start(extra);
        try {
            for (int round = 0; round < rounds; round++) againstFloor(table, extra);
        } finally {
            stop(started);
        }
    }

    private static double againstFloor(Table table, int extra) throws Exception {
        String present = String.format(FAKE, extra / 2).toUpperCase();
        check(!Perivane.isAppRunning(MISSING), "isAppRunning found a process that is not running");
        check(extra == 0 || Perivane.isAppRunning(present), "isAppRunning missed a running process");
        check(!jdkSearch(MISSING), "the JDK search found a process that is not running");
        int count = Floor.scanProcesses();
        Timing.Result r = Timing.compare("isAppRunning / scan of every /proc/PID/cmdline",
                () -> Perivane.isAppRunning(MISSING), Floor::scanProcesses, 5, 21);
        System.out.printf("%d processes (%d started here); per process: native %.2f us, floor %.2f us%n", count,
                extra, r.nativeNanos() / count / 1e3, r.referenceNanos() / count / 1e3);
        table.ratio("`isAppRunning`, " + extra + " processes more", "scan of /proc/PID/cmdline", r, 1.5);
        return r.nativeNanos();
    }

    private static List<Process> start(int extra) throws Exception {
        List<Process> started = new ArrayList<>();
        try {
            for (int i = 0; i < extra; i++) {
                String argv0 = String.format(FAKE, i);
                started.add(new ProcessBuilder("bash", "-c", "exec -a \"" + argv0 + "\" sleep 600")
                        .redirectOutput(ProcessBuilder.Redirect.DISCARD)
                        .redirectError(ProcessBuilder.Redirect.DISCARD)
                        .start());
            }
            for (int i = 0; i < extra; i++) awaitArgv0(started.get(i), String.format(FAKE, i));
        } catch (Exception e) {
            stop(started);
            throw e;
        }
        return started;
    }

    private static void stop(List<Process> started) throws InterruptedException {
        for (Process p : started) p.destroyForcibly();
        for (Process p : started) p.waitFor();
    }

    /** The JDK's way: every process's command (its executable) and arguments, NFC, any case. */
    static boolean jdkSearch(String path) {
        String wanted = Normalizer.normalize(path, Normalizer.Form.NFC);
        return ProcessHandle.allProcesses().anyMatch(ph -> {
            ProcessHandle.Info info = ph.info();
            // The JDK offers the executable and the arguments after argv[0], not argv[0] itself:
            // the command is the nearest thing to compare; the arguments are taken as a
            // caller looking for argv[0] would take them.
            String command = info.command().orElse(null);
            Timing.sink = info.arguments().orElse(null);
            return command != null
                    && Normalizer.normalize(command, Normalizer.Form.NFC).equalsIgnoreCase(wanted);
        });
    }

    private static final int HOSTILE = 4;

    private static void awaitArgv0Length(Process p, int length) throws Exception {
        Path cmdline = Path.of("/proc/" + p.pid() + "/cmdline");
        for (int i = 0; i < 2000; i++, Thread.sleep(5)) {
            try {
                if (Files.readAllBytes(cmdline).length > length) return;
            } catch (IOException e) {
                // not yet
            }
        }
        throw new IllegalStateException("a hostile process never started");
    }

    private static void awaitArgv0(Process p, String argv0) throws Exception {
        byte[] expected = (argv0 + "\0").getBytes(StandardCharsets.UTF_8);
        Path cmdline = Path.of("/proc/" + p.pid() + "/cmdline");
        for (int i = 0; i < 2000; i++) {
            try {
                byte[] now = Files.readAllBytes(cmdline);
                if (now.length >= expected.length && java.util.Arrays.equals(now, 0, expected.length,
                        expected, 0, expected.length)) {
                    return;
                }
            } catch (IOException e) {
                // not yet
            }
            Thread.sleep(5);
        }
        throw new IllegalStateException("process never showed " + argv0);
    }

    private static void check(boolean ok, String message) {
        if (!ok) throw new IllegalStateException(message);
    }
}
