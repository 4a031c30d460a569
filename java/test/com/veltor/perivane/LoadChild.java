package com.veltor.perivane;

import java.nio.file.Files;
import java.nio.file.Path;

/** Runs in a child JVM: uses Perivane, then prints the file mapped for it and its inode, or the error. */
public final class LoadChild {
    private LoadChild() {}

    public static void main(String[] args) throws Exception {
        try {
            Perivane.normalize("x");
        } catch (UnsatisfiedLinkError e) {
            System.out.println("error=" + e.getMessage().replace('\n', '|'));
            return;
        }
        for (String line : Files.readAllLines(Path.of("/proc/self/maps"))) {
            String[] f = line.trim().split("\\s+");
            // A file another JVM renamed a new copy over shows as "PATH (deleted)".
            if (f.length >= 6 && f[5].endsWith("/libperivane.so")) {
                System.out.println("loaded=" + f[5] + "\ninode=" + f[4]);
                return;
            }
        }
    }
}
