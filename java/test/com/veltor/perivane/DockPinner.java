package com.veltor.perivane;

/** DockTest's child: pins each path given (status 1 if one fails). */
public final class DockPinner {
    public static void main(String[] args) {
        boolean all = true;
        for (String path : args) {
            if (!Perivane.registerFileAsDockIcon(path, "child")) {
                System.out.println("not pinned: " + path);
                all = false;
            }
        }
        System.exit(all ? 0 : 1);
    }
}
