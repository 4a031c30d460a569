package com.veltor.perivane;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * Child JVM of the chooser tests: prints "LABEL -> RESULT" per getFolder call (null, the path
 * quoted with \\u escapes, or the exception), then "done". Arguments: "texts N" (N calls in turn, each with TEXTS_TITLE, an empty prompt and no cancel
 * text); "gtk2 TITLE" (AWT loads GTK 2 first); "host TITLE N" (a Swing window TITLE whose button
 * starts N calls "TITLE 1" to "TITLE N", each on a thread of its own, 300 ms apart, when clicked);
 * or titles, one call each, all at once on threads of their own, with the prompt "Choose" and the
 * cancel text "Not now". First "closed" closes standard input and output and prints to standard error.
 */
public final class ChooserChild {
    static final String TEXTS_TITLE = "Line one\nline two \ud83d\udcc1, a lone \udc01 and a \u0000";

    private static java.io.PrintStream out = System.out;

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
            out.println(label + " -> " + result);
        }
    }

    public static void main(String[] arguments) throws Exception {
        boolean closed = arguments[0].equals("closed");
        String[] args = closed ? java.util.Arrays.copyOfRange(arguments, 1, arguments.length) : arguments;
        if (closed) {  // descriptors 0 and 1 closed (System.in.close() would put /dev/null there); needs
            out = System.err;  // --add-opens java.base/sun.nio.ch=ALL-UNNAMED
            java.lang.reflect.Method close = Class.forName("sun.nio.ch.FileDispatcherImpl")
                    .getDeclaredMethod("closeIntFD", int.class);
            close.setAccessible(true);
            close.invoke(null, 0);
            close.invoke(null, 1);
        }
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
            case "host" -> {
                int n = Integer.parseInt(args[2]);
                java.util.concurrent.CountDownLatch ended = new java.util.concurrent.CountDownLatch(n);
                Runnable calls = () -> {
                    for (int i = 1; i <= n; i++) {
                        String title = args[1] + " " + i;
                        new Thread(() -> { call(title, title, "Choose", "Not now"); ended.countDown(); }).start();
                        try { Thread.sleep(300); } catch (InterruptedException e) { return; }
                    }
                };
                javax.swing.SwingUtilities.invokeAndWait(() -> {  // no text on it: the JDK's font code upsets -Xcheck:jni
                    javax.swing.JFrame frame = new javax.swing.JFrame(args[1]);
                    frame.getContentPane().addMouseListener(new java.awt.event.MouseAdapter() {
                        @Override public void mouseClicked(java.awt.event.MouseEvent e) { new Thread(calls).start(); }
                    });
                    frame.setBounds(0, 0, 600, 400);
                    frame.setVisible(true);
                });
                ended.await();
                out.println("done");
                System.exit(0);  // the window would keep the JVM running
            }
            default -> {
                List<Thread> threads = new ArrayList<>();
                for (String title : args) threads.add(new Thread(() -> call(title, title, "Choose", "Not now")));
                threads.forEach(Thread::start);
                for (Thread t : threads) t.join();
            }
        }
        out.println("done");
    }
}
