package com.veltor.perivane.bench;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.function.ToDoubleFunction;

/**
 * The speed targets, one row each: the native's time, the reference it is held to (the JDK's
 * equivalent in the same JVM, or a floor), their ratio (or, for the frame, the difference), the
 * target and whether it was met. A case measured in several rounds shows its median round, with
 * the range of the rounds beside it. Printed as a Markdown table under the machine it ran on.
 */
final class Table {
    private enum Kind { RATIO, DIFFERENCE, REFERENCE }

    private record Row(String what, String reference, Kind kind, double limit, List<Timing.Result> rounds) {
        ToDoubleFunction<Timing.Result> measure() {
            return kind == Kind.DIFFERENCE ? r -> r.nativeNanos() - r.referenceNanos() : Timing.Result::ratio;
        }
    }

    private final String machine = machine();
    private final Map<String, Row> rows = new LinkedHashMap<>();

    /** A target on the ratio native / reference: at most {@code most}. */
    void ratio(String what, String reference, Timing.Result r, double most) {
        add(what, reference, Kind.RATIO, most, r);
    }

    /** A target on the difference native - reference: at most {@code mostNanos}. */
    void difference(String what, String reference, Timing.Result r, double mostNanos) {
        add(what, reference, Kind.DIFFERENCE, mostNanos, r);
    }

    /** A row with no target of its own: another reference that shows what the first leaves out. */
    void reference(String what, String reference, Timing.Result r) {
        add(what, reference, Kind.REFERENCE, Double.NaN, r);
    }

    private void add(String what, String reference, Kind kind, double limit, Timing.Result r) {
        rows.computeIfAbsent(what + "\0" + reference, k -> new Row(what, reference, kind, limit, new ArrayList<>()))
                .rounds().add(r);
    }

    void print() {
        System.out.println();
        System.out.println(machine);
        System.out.println();
        System.out.println("| case | native | JDK or floor | ratio | target | |");
        System.out.println("|---|---|---|---|---|---|");
        for (Row row : rows.values()) {
            List<Timing.Result> sorted = new ArrayList<>(row.rounds());
            sorted.sort(Comparator.comparingDouble(row.measure()));
            Timing.Result median = sorted.get(sorted.size() / 2);
            double m = row.measure().applyAsDouble(median);
            String shown = row.kind() == Kind.DIFFERENCE ? "+" + Timing.format(m) : String.format("%.2f", m);
            if (sorted.size() > 1) {
                double low = row.measure().applyAsDouble(sorted.get(0));
                double high = row.measure().applyAsDouble(sorted.get(sorted.size() - 1));
                shown += row.kind() == Kind.DIFFERENCE ? String.format(" (%s to %s)", Timing.format(low), Timing.format(high))
                        : String.format(" (%.2f to %.2f)", low, high);
            }
            String target = switch (row.kind()) {
                case RATIO -> String.format("at most %.2f", row.limit());
                case DIFFERENCE -> "at most +" + Timing.format(row.limit());
                case REFERENCE -> "(for reference)";
            };
            String met = row.kind() == Kind.REFERENCE ? "" : m <= row.limit() ? "met" : "MISSED";
            System.out.printf("| %s | %s | %s: %s | %s | %s | %s |%n", row.what(), Timing.format(median.nativeNanos()),
                    row.reference(), Timing.format(median.referenceNanos()), shown, target, met);
        }
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
