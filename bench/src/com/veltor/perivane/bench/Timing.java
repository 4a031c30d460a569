package com.veltor.perivane.bench;

import java.util.Arrays;

/** Warm-up, then the median of timed batches; results printed as ratios native / JDK. */
public final class Timing {
    private Timing() {}

    /** Something to time; returns a value so the JIT cannot drop the work. */
    @FunctionalInterface
    public interface Op {
        Object run() throws Exception;
    }

    static volatile Object sink;

    /** Median nanoseconds per call of {@code op}, over {@code batches} batches of {@code perBatch} calls. */
    public static double medianNanos(Op op, int perBatch, int batches) throws Exception {
        for (int i = 0; i < Math.max(3, batches / 2); i++) batch(op, perBatch);  // warm-up
        double[] t = new double[batches];
        for (int i = 0; i < batches; i++) t[i] = batch(op, perBatch);
        Arrays.sort(t);
        return t[batches / 2];
    }

    private static double batch(Op op, int n) throws Exception {
        long start = System.nanoTime();
        for (int i = 0; i < n; i++) sink = op.run();
        return (System.nanoTime() - start) / (double) n;
    }

    /**
     * Times both and prints one line: native, JDK, and native/JDK (below 1 means faster). The
     * two sides' batches alternate, so that a change in the machine's load during the run
     * weighs on both alike.
     */
    public static double compare(String what, Op nativeOp, Op jdkOp, int perBatch, int batches) throws Exception {
        for (int i = 0; i < Math.max(3, batches / 2); i++) {  // warm-up
            batch(nativeOp, perBatch);
            batch(jdkOp, perBatch);
        }
        double[] n = new double[batches];
        double[] j = new double[batches];
        for (int i = 0; i < batches; i++) {
            n[i] = batch(nativeOp, perBatch);
            j[i] = batch(jdkOp, perBatch);
        }
        Arrays.sort(n);
        Arrays.sort(j);
        double ratio = n[batches / 2] / j[batches / 2];
        System.out.printf("%-58s native %10s   jdk %10s   ratio %.2f%n", what, format(n[batches / 2]),
                format(j[batches / 2]), ratio);
        return ratio;
    }

    public static String format(double nanos) {
        if (nanos >= 1e6) return String.format("%.2f ms", nanos / 1e6);
        if (nanos >= 1e3) return String.format("%.2f us", nanos / 1e3);
        return String.format("%.0f ns", nanos);
    }
}
