package com.veltor.perivane;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * Child JVM of the chooser tests: prints "LABEL -> RESULT" per getFolder call (null, the path
 * quoted with \\u escapes, or the exception), then "done". Arguments: "texts N" (N calls in turn, each with TEXTS_TITLE, an empty prompt and no cancel
 * text); "gtk2 TITLE" (AWT loads GTK 2 first); or titles, one call each, all at once on threads
 * of their own, with the prompt "Choose" and the cancel text "Not now".
 */
public final class ChooserChild {
    static final String TEXTS_TITLE = "Line one\nline two \ud83d\udcc1, a lone \udc01 and a \u0000";

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
            case "texts" -> {
                for (int i = 0; i < Integer.parseInt(args[1]); i++) call("call " + i, TEXTS_TITLE, "", null);
            }
            case "gtk2" -> {
                System.setProperty("jdk.gtk.version", "2");
                System.setProperty("user.home", System.getenv("HOME"));  // the toolkit's font cache goes there
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
