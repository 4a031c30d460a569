package com.veltor.perivane;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;

/**
 * Main class of the child JVMs that the file and group tests start: each mode calls natives
 * and prints one "key=value" line per result on standard output, leaving standard error to
 * what the library logs.
 */
public final class FileChild {
    private FileChild() {}

    static String show(Object o) {
        if (o instanceof boolean[] b) return Arrays.toString(b);
        if (o instanceof Object[] a) return Arrays.toString(a);
        return String.valueOf(o);
    }

    interface Call {
        Object run() throws Exception;
    }

    static void print(String key, Call call) {
        Object result;
        try {
            result = call.run();
        } catch (Exception e) {
            result = e.getClass().getSimpleName() + ": " + e.getMessage();
        }
        System.out.println(key + "=" + show(result));
    }

    public static void main(String[] args) throws IOException {
        switch (args[0]) {
            case "missing" -> {  // one path that does not exist, then null paths
                // A lone surrogate cannot cross a command line, so it is added here on request.
                String path = args[1] + (args.length > 2 && args[2].equals("lone") ? "\ud800" : "");
                System.out.println("pid=" + ProcessHandle.current().pid());
                print("attributes", () -> Perivane.getFileAttributes(path));
                print("owner", () -> Perivane.getFileOwner(path));
                print("set", () -> Perivane.setFileAttributes(path, true, true, true, true, true, true, true, true, true));
                print("nullAttributes", () -> Perivane.getFileAttributes(null));
                print("nullOwner", () -> Perivane.getFileOwner(null));
                print("nullSet", () -> Perivane.setFileAttributes(null, true, true, true, true, true, true, true, true, true));
            }
            case "groups" -> {
                print("groups", Perivane::getCurrentProcessGroups);
                String status = Files.readString(Path.of("/proc/self/status"));
                print("kernel", () -> status.lines().filter(l -> l.startsWith("Groups:"))
                        .findFirst().orElse("").substring("Groups:".length()).trim());
            }
            case "denied" -> {  // unreadable path, someone else's file, someone else's folder
                String unreadable = args[1], othersFile = args[2], othersFolder = args[3];
                print("attributes", () -> Perivane.getFileAttributes(unreadable));
                print("owner", () -> Perivane.getFileOwner(unreadable));
                print("set", () -> Perivane.setFileAttributes(othersFile, true, true, false, false, false, false, false, false, false));
                print("hasBundle", () -> Perivane.hasBundleBit(unreadable));
                print("setBundle", () -> {
                    Perivane.setBundleBit(othersFolder, true);
                    return "done";
                });
                print("link", () -> {
                    Perivane.createSymbolicLink(othersFolder + "/link", "target");
                    return "done";
                });
            }
            default -> throw new IllegalArgumentException(args[0]);
        }
    }
}
