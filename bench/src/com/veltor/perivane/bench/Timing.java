package com.veltor.perivane.bench;

import java.lang.management.CompilationMXBean;
import java.lang.management.ManagementFactory;
import java.util.Arrays;

/**
 * Both sides warmed together, then the medians of timed batches, the two sides' batches
 * alternating; results printed as ratios native / reference (the JDK's equivalent, or a floor).
 */
public final class Timing {
    private Timing() {}

    /** Something to time; returns a value so the JIT cannot drop the work. */
    @FunctionalInterface
    public interface Op {
        Object run() throws Exception;
    }

    /** The median nanoseconds per call of each side. */
    public record Result(double nativeNanos, double referenceNanos) {
        public double ratio() {
            return nativeNanos / referenceNanos;
        }
    }

    /**
     * How long both sides are warmed before timing, at least: the JIT compiles a hot JDK path only
     * after many calls (the JDK's normalizer takes about a second to reach its final code), and a
     * comparison started earlier flatters the native. On a busy machine the compiler threads
     * fall behind, so the warm-up also goes on until the JIT has compiled nothing for a while
     * (up to {@link #WARM_UP_LIMIT_NANOS}).
     */
    static final long WARM_UP_NANOS = 1_000_000_000L;
    static final long JIT_QUIET_NANOS = 300_000_000L;
    static final long WARM_UP_LIMIT_NANOS = 10_000_000_000L;

    /** Runs the ops in turn until the warm-up time has passed and the JIT is quiet. */
    private static void warmUp(Op... ops) throws Exception {
        CompilationMXBean jit = ManagementFactory.getCompilationMXBean();
        long start = System.nanoTime(), lastChange = start, compiled = jit.getTotalCompilationTime();
        for (int round = 0;; round++) {
            for (Op op : ops) op.run();
            long now = System.nanoTime(), total = jit.getTotalCompilationTime();
            if (total != compiled) {
                compiled = total;
                lastChange = now;
            }
            boolean warm = round >= 3 && now - start >= WARM_UP_NANOS && now - lastChange >= JIT_QUIET_NANOS;
            if (warm || now - start >= WARM_UP_LIMIT_NANOS) return;
        }
    }

    static volatile Object sink;

    /** Median nanoseconds per call of {@code op}, over {@code batches} batches of {@code perBatch} calls. */
    public static double medianNanos(Op op, int perBatch, int batches) throws Exception {
        warmUp(() -> batch(op, perBatch));
        double[] t = new double[batches];
        for (int i = 0; i < batches; i++) t[i] = batch(op, perBatch);
        return median(t);
    }

    private static double batch(Op op, int n) throws Exception {
        long start = System.nanoTime();
        for (int i = 0; i < n; i++) sink = op.run();
        return (System.nanoTime() - start) / (double) n;
    }

    private static double median(double[] t) {
        Arrays.sort(t);
        return t[t.length / 2];
    }

    /**
     * Times both and prints one line: native, reference, and native / reference (below 1: the
     * native is faster). Both are warmed together first; then their batches alternate, so that
     * a change in the machine's load during the run weighs on both alike.
     */
    public static Result compare(String what, Op nativeOp, Op referenceOp, int perBatch, int batches)
            throws Exception {
        warmUp(() -> batch(nativeOp, perBatch), () -> batch(referenceOp, perBatch));
        double[] n = new double[batches];
        double[] r = new double[batches];
        for (int i = 0; i < batches; i++) {
            n[i] = batch(nativeOp, perBatch);
            r[i] = batch(referenceOp, perBatch);
        }
        Result result = new Result(median(n), median(r));
        System.out.printf("%-58s native %10s   reference %10s   ratio %.2f%n", what,
                format(result.nativeNanos()), format(result.referenceNanos()), result.ratio());
        return result;
    }

    public static String format(double nanos) {
        if (nanos >= 1e6) return String.format("%.2f ms", nanos / 1e6);
        if (nanos >= 1e3) return String.format("%.2f us", nanos / 1e3);
        return String.format("%.0f ns", nanos);
    }
}
