package com.veltor.perivane;

/**
 * Child-process side of the Dock tests. {@code pin PATH...} pins each path and exits 1 if any
 * pin failed; {@code churn PATH} pins and unpins the path for ever, printing "ready" once the
 * first round is done, until the parent kills it.
 */
public final class DockPinner {
    private DockPinner() {}

    public static void main(String[] args) {
        if (args[0].equals("pin")) {
            int failed = 0;
            for (int i = 1; i < args.length; i++) {
                if (!Perivane.registerFileAsDockIcon(args[i], "child " + i)) {
                    System.out.println("not pinned: " + args[i]);
                    failed++;
                }
            }
            System.exit(failed == 0 ? 0 : 1);
        }
        boolean announced = false;
        for (;;) {
            Perivane.registerFileAsDockIcon(args[1], "churn");
            Perivane.unregisterFileAsDockIcon(args[1]);
            if (!announced) {
                System.out.println("ready");
                System.out.flush();
                announced = true;
            }
        }
    }
}
