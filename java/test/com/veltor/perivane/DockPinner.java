package com.veltor.perivane;

/**
 * Child-process side of DockTest. {@code pin PATH...} pins each path and exits 1 if any pin
 * failed; {@code churn PATH} pins and unpins the path until killed, printing "ready" after the
 * first round.
 */
public final class DockPinner {
    private DockPinner() {}

    public static void main(String[] args) {
        if (args[0].equals("pin")) {
            boolean all = true;
            for (int i = 1; i < args.length; i++) {
                if (!Perivane.registerFileAsDockIcon(args[i], "child " + i)) {
                    System.out.println("not pinned: " + args[i]);
                    all = false;
                }
            }
            System.exit(all ? 0 : 1);
        }
        for (boolean announced = false;; announced = true) {
            Perivane.registerFileAsDockIcon(args[1], "churn");
            Perivane.unregisterFileAsDockIcon(args[1]);
            if (!announced) System.out.println("ready");
        }
    }
}
