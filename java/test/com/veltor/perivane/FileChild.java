package com.veltor.perivane;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;

/** Child JVM of the file, group and Dock tests: prints "key=value" per result; stderr is left to the library's log. */
public final class FileChild {
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
        if (result instanceof boolean[] b) result = Arrays.toString(b);
        if (result instanceof Object[] a) result = Arrays.toString(a);
        System.out.println(key + "=" + result);
    }

    public static void main(String[] args) throws Exception {
        switch (args[0]) {
            case "missing" -> {  // the three file natives on each path; a lone surrogate cannot cross a command line
                System.out.println("pid=" + ProcessHandle.current().pid());
                for (String path : new String[] {args[1], args[1] + "\ud800", null}) {
                    print("attributes", () -> Perivane.getFileAttributes(path));
                    print("owner", () -> Perivane.getFileOwner(path));
                    print("set", () -> Perivane.setFileAttributes(path, true, true, true, true, true, true, true, true, true));
                }
            }
            case "groups" -> {
                print("groups", Perivane::getCurrentProcessGroups);
                print("kernel", () -> Files.readString(Path.of("/proc/self/status")).lines()
                        .filter(l -> l.startsWith("Groups:")).findFirst().orElse("Groups:").substring(7).trim());
            }
            case "denied" -> {  // unreadable path, someone else's file (NativeSweepTest has the rest)
                String unreadable = args[1], othersFile = args[2];
                print("attributes", () -> Perivane.getFileAttributes(unreadable));
                print("owner", () -> Perivane.getFileOwner(unreadable));
                print("set", () -> Perivane.setFileAttributes(othersFile, true, true, false, false, false, false, false, false, false));
            }
            case "pin" -> {  // ConcurrencyTest's writers
                for (String path : Arrays.copyOfRange(args, 1, args.length)) {
                    print(path, () -> Perivane.registerFileAsDockIcon(path, "child"));
                }
            }
            default -> throw new IllegalArgumentException(args[0]);
        }
    }
}
