package com.veltor.perivane;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

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

    static volatile int phase;  // even: no mount command running; 1, 3: mounting, unmounting

    /**
     * PathStyleTest's child, in a mount namespace of its own: the file system in {@code image}
     * (loop-mounted in a hidden folder beside {@code dir}) bound at {@code dir} and removed again, ten times, while eight threads convert a path inside it. Every call made
     * while no command ran, and every call of this thread after each command, must answer as
     * the mounts then were. Prints each wrong answer, then "done".
     */
    static void mounts(String dir, String image) throws Exception {
        String base = dir.substring(0, dir.lastIndexOf('/')) + "/.base";
        if (new ProcessBuilder("sh", "-c", "mkdir -p " + base + " && mount -o loop " + image + " " + base).inheritIO()
                .start().waitFor() != 0) throw new IllegalStateException("cannot mount " + image);
        String[] hfs = {Perivane.toHfsStylePath(dir + "/x"), dir.substring(dir.lastIndexOf('/') + 1) + ":x"};
        java.util.Set<String> wrong = java.util.concurrent.ConcurrentHashMap.newKeySet();
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < 8; t++) {
            threads.add(new Thread(() -> {
                for (int before; (before = phase) < 40;) {
                    String answer = Perivane.toHfsStylePath(dir + "/x");
                    if (before % 2 == 0 && before == phase && !answer.equals(hfs[before / 2 % 2])) {
                        wrong.add("thread, phase " + before + ": " + answer);
                    }
                }
            }));
            threads.get(t).start();
        }
        for (int round = 0; round < 10; round++) {
            for (boolean mount : new boolean[] {true, false}) {
                phase++;
                String[] command = mount ? new String[] {"mount", "--bind", base, dir}
                        : new String[] {"umount", "-l", dir};
                if (new ProcessBuilder(command).inheritIO().start().waitFor() != 0) wrong.add("failed: " + command[0]);
                phase++;
                String answer = Perivane.toHfsStylePath(dir + "/x"), back = Perivane.toUnxStylePath(hfs[1]);
                boolean listed = Arrays.asList(Perivane.listVolumes()).contains(hfs[1].substring(0, hfs[1].length() - 2));
                if (!answer.equals(hfs[mount ? 1 : 0]) || listed != mount || back.equals(dir + "/x") != mount) {
                    wrong.add((mount ? "mounted: " : "removed: ") + answer + ", " + back + ", listed " + listed);
                }
            }
        }
        for (Thread t : threads) t.join();
        wrong.forEach(System.out::println);
        System.out.println("done");
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
            case "mounts" -> mounts(args[1], args[2]);
            default -> throw new IllegalArgumentException(args[0]);
        }
    }
}
