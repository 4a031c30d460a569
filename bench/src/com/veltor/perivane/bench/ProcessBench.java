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
 * against the JDK's way of asking the same (ProcessHandle.allProcesses() with each process's
 * command and arguments), and against a floor: a C++ loop (bench/proc_floor.cpp, built as
 * build/bench/proc-floor and run as a child process that times itself) that lists /proc and
 * reads every /proc/PID/cmdline. The benchmark starts its own extra processes first
 * (-Dprocesses=N, default 500) and kills them at the end. Last, the same call with four
 * hostile processes more, against the call without them.
 */
public final class ProcessBench {
    private ProcessBench() {}

    private static final String FAKE = "/opt/Example Apps/Fake%d.app/Contents/MacOS/Fake";

    public static void main(String[] args) throws Exception {
        int extra = Integer.getInteger("processes", 500);
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
            long count = ProcessHandle.allProcesses().count();

            String missing = "/opt/Example Apps/NotRunning.app/Contents/MacOS/NotRunning";
            String present = String.format(FAKE, extra / 2).toUpperCase();
            check(!Perivane.isAppRunning(missing), "isAppRunning found a process that is not running");
            check(Perivane.isAppRunning(present), "isAppRunning missed a running process");
            check(!jdkSearch(missing), "the JDK search found a process that is not running");

            System.out.printf("%d processes (%d started here)%n", count, extra);
            double nativeNanos = Timing.medianNanos(() -> Perivane.isAppRunning(missing), 5, 15);
            double jdkNanos = Timing.medianNanos(() -> jdkSearch(missing), 5, 15);
            double floorNanos = floor(15, 5);
            System.out.printf("%-44s native %12s   jdk %12s   ratio %.2f%n",
                    "isAppRunning, path not running", Timing.format(nativeNanos),
                    Timing.format(jdkNanos), nativeNanos / jdkNanos);
            System.out.printf("%-44s native %12s   floor %10s   ratio %.2f%n",
                    "isAppRunning vs /proc cmdline scan (C++)", Timing.format(nativeNanos),
                    Timing.format(floorNanos), nativeNanos / floorNanos);
            System.out.printf("per process: native %.2f us, jdk %.2f us, floor %.2f us%n",
                    nativeNanos / count / 1e3, jdkNanos / count / 1e3, floorNanos / count / 1e3);

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
            double hostileNanos = Timing.medianNanos(() -> Perivane.isAppRunning(missing), 1, 7);
            System.out.printf("%-44s native %12s   without them %10s   ratio %.2f%n",
                    "isAppRunning, " + HOSTILE + " hostile processes more", Timing.format(hostileNanos),
                    Timing.format(nativeNanos), hostileNanos / nativeNanos);
        } finally {
            for (Process p : started) p.destroyForcibly();
            for (Process p : started) p.waitFor();
        }
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

    private static double floor(int batches, int perBatch) throws IOException, InterruptedException {
        Path exe = Path.of(System.getProperty("java.library.path"), "bench", "proc-floor");
        Process p = new ProcessBuilder(exe.toString(), String.valueOf(batches), String.valueOf(perBatch))
                .redirectError(ProcessBuilder.Redirect.INHERIT).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8).trim();
        check(p.waitFor() == 0, "proc-floor failed");
        String[] parts = out.split(" ");
        System.out.printf("floor scan saw %s processes%n", parts[1]);
        return Double.parseDouble(parts[0]);
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
