package com.veltor.perivane.tour;

import static com.veltor.perivane.tour.Tour.section;
import static com.veltor.perivane.tour.Tour.show;

import com.veltor.perivane.Perivane;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;

/** The running-application check: a process is found by its argv[0], in any letter case. */
final class ProcessTour {
    private ProcessTour() {}

    static void run() throws Exception {
        section("Running applications");
        String argv0 = "/opt/Tour Apps/Caf\u00e9.app/Contents/MacOS/Caf\u00e9";
        Process p = new ProcessBuilder("bash", "-c", "exec -a \"$(printf '/opt/Tour Apps/Caf\\303\\251.app"
                + "/Contents/MacOS/Caf\\303\\251')\" sleep 60").start();
        try {
            waitForExec(p);
            show("isAppRunning(\"" + argv0 + "\") (argv[0] of a sleep we started)", Perivane.isAppRunning(argv0));
            show("isAppRunning(the same, upper case)", Perivane.isAppRunning(argv0.toUpperCase(java.util.Locale.ROOT)));
            show("isAppRunning(\"/usr/bin/sleep\") (its executable: not compared)",
                    Perivane.isAppRunning("/usr/bin/sleep"));
        } finally {
            p.destroyForcibly();
            p.waitFor();
        }
        show("isAppRunning(the same, after it ended)", Perivane.isAppRunning(argv0));
        show("isAppRunning(null)", Perivane.isAppRunning(null));
    }

    private static void waitForExec(Process p) throws Exception {
        Path cmdline = Path.of("/proc/" + p.pid() + "/cmdline");
        for (int i = 0; i < 1000; i++) {
            if (Files.exists(cmdline)
                    && new String(Files.readAllBytes(cmdline), StandardCharsets.UTF_8).startsWith("/opt/Tour")) {
                return;
            }
            Thread.sleep(5);
        }
    }
}
