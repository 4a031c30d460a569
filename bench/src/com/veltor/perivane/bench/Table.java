package com.veltor.perivane.bench;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * The speed targets, one row each: the native's time, the reference it is held to (the JDK's
 * equivalent in the same JVM, or a floor), their ratio (or, for the frame, the difference), the
 * target and whether it was met. Printed as a Markdown table under the machine it ran on.
 */
final class Table {
    private final String machine = machine();
    private final List<String> rows = new ArrayList<>();

    /** A target on the ratio native / reference: at most {@code most}. */
    void ratio(String what, String reference, Timing.Result r, double most) {
        rows.add(row(what, r, reference, String.format("%.2f", r.ratio()), String.format("at most %.2f", most),
                r.ratio() <= most));
    }

    /** A target on the difference native - reference: at most {@code mostNanos}. */
    void difference(String what, String reference, Timing.Result r, double mostNanos) {
        double over = r.nativeNanos() - r.referenceNanos();
        rows.add(row(what, r, reference, String.format("+%.0f ns", over), String.format("at most +%.0f ns", mostNanos),
                over <= mostNanos));
    }

    /** A row with no target of its own: a second reference that shows what the first leaves out. */
    void reference(String what, String reference, Timing.Result r) {
        rows.add(row(what, r, reference, String.format("%.2f", r.ratio()), "(for reference)", null));
    }

    private static String row(String what, Timing.Result r, String reference, String ratio, String target, Boolean met) {
        return String.format("| %s | %s | %s: %s | %s | %s | %s |", what, Timing.format(r.nativeNanos()), reference,
                Timing.format(r.referenceNanos()), ratio, target, met == null ? "" : met ? "met" : "MISSED");
    }

    void print() {
        System.out.println();
        System.out.println(machine);
        System.out.println();
        System.out.println("| case | native | JDK or floor | ratio | target | |");
        System.out.println("|---|---|---|---|---|---|");
        rows.forEach(System.out::println);
    }

    /** The machine, with its load when the table was begun (before any benchmark ran). */
    private static String machine() {
        String cpu = "unknown CPU", load = "unknown";
        try {
            cpu = Files.readAllLines(Path.of("/proc/cpuinfo")).stream().filter(l -> l.startsWith("model name"))
                    .map(l -> l.substring(l.indexOf(':') + 1).trim()).findFirst().orElse(cpu);
            String[] avg = Files.readString(Path.of("/proc/loadavg")).split(" ");
            load = avg[0] + " " + avg[1] + " " + avg[2];
        } catch (IOException e) {
            // left as unknown
        }
        return String.format("Machine: %s, %d cores; kernel %s %s; %s %s; load average at start %s (1, 5, 15 min)",
                cpu, Runtime.getRuntime().availableProcessors(), System.getProperty("os.name"),
                System.getProperty("os.version"), System.getProperty("java.vm.name"),
                System.getProperty("java.runtime.version"), load);
    }
}
