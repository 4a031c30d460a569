package com.veltor.perivane;

/** DockTest's child: "pin PATH..." pins each (status 1 if one fails); "churn PATH" pins and unpins until killed. */
public final class DockPinner {
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
