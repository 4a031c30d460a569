package com.veltor.perivane.tour;

import com.veltor.perivane.Perivane;

/**
 * A walk through every native on this machine: each section calls the library the way an
 * application would and prints what came back. Run it in a scratch HOME (the README's tour
 * command does that), since some sections write files there. With --chooser on a desktop it
 * also shows the folder dialog.
 */
public final class Tour {
    private Tour() {}

    static void section(String title) {
        System.out.println();
        System.out.println("== " + title);
    }

    static void show(String call, Object result) {
        System.out.println("  " + call + " -> " + describe(result));
    }

    static String describe(Object o) {
        if (o == null) return "null";
        if (o instanceof String s) return "\"" + s + "\"";
        if (o instanceof Object[] a) {
            StringBuilder sb = new StringBuilder("[");
            for (int i = 0; i < a.length; i++) sb.append(i == 0 ? "" : ", ").append(describe(a[i]));
            return sb.append("]").toString();
        }
        if (o instanceof boolean[] b) return java.util.Arrays.toString(b);
        return String.valueOf(o);
    }

    public static void main(String[] args) throws Exception {
        System.out.println("Perivane tour: HOME=" + System.getenv("HOME"));
        TextTour.run();
        FileTour.run();
        ProcessTour.run();
        DockTour.run();
        AliasTour.run();
        ChooserTour.run(args);
    }
}
