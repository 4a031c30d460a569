package com.veltor.perivane;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * Child JVM of the chooser tests. Prints "TITLE -> RESULT" per getFolder call, RESULT being
 * null, the path in quotes (every character outside printable ASCII as a \\u escape), or the
 * exception's class and message; "done" at the end shows that the JVM went on.
 * <ul>
 * <li>{@code nulls}: one call with three null texts;</li>
 * <li>{@code texts N}: N calls one after the other, each with a title holding a line break and
 * a character beyond the BMP, an empty prompt and a null cancel text;</li>
 * <li>{@code gtk2 TITLE}: AWT loads GTK 2 first (the GTK look and feel), then one call;</li>
 * <li>{@code TITLE...}: one call per title, all at once on threads of their own, with the
 * prompt "Choose" and the cancel text "Not now".</li>
 * </ul>
 */
public final class ChooserChild {
    static final String TEXTS_TITLE = "Line one\nline two \ud83d\udcc1";

    static String escape(String s) {
        StringBuilder sb = new StringBuilder("\"");
        s.chars().forEach(c -> sb.append(c >= 0x20 && c < 0x7f ? Character.toString(c) : String.format("\\u%04x", c)));
        return sb.append('"').toString();
    }

    static void call(String label, String title, String prompt, String buttonTitle) {
        String result;
        try {
            String folder = Perivane.getFolder(title, prompt, buttonTitle);
            result = folder == null ? "null" : escape(folder);
        } catch (RuntimeException e) {
            result = e.getClass().getSimpleName() + ": " + e.getMessage();
        }
        synchronized (ChooserChild.class) {
            System.out.println(label + " -> " + result);
        }
    }

    public static void main(String[] args) throws Exception {
        switch (args[0]) {
            case "nulls" -> call("nulls", null, null, null);
            case "texts" -> {
                for (int i = 0; i < Integer.parseInt(args[1]); i++) call("call " + i, TEXTS_TITLE, "", null);
            }
            case "gtk2" -> {
                System.setProperty("jdk.gtk.version", "2");
                System.setProperty("user.home", System.getenv("HOME"));  // the toolkit's font cache stays in the scratch HOME
                javax.swing.UIManager.setLookAndFeel("com.sun.java.swing.plaf.gtk.GTKLookAndFeel");
                boolean loaded = Files.readString(Path.of("/proc/self/maps")).contains("libgtk-x11-2.0");
                System.out.println("GTK 2 in this JVM: " + loaded);
                call(args[1], args[1], "Choose", "Not now");
            }
            default -> {
                List<Thread> threads = new ArrayList<>();
                for (String title : args) threads.add(new Thread(() -> call(title, title, "Choose", "Not now")));
                threads.forEach(Thread::start);
                for (Thread t : threads) t.join();
            }
        }
        System.out.println("done");
    }
}
