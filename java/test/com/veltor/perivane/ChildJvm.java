package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertFalse;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;

/**
 * Runs a second JVM that loads the library under -Xcheck:jni, for cases that need their own
 * process: another class path or environment, captured output, or other credentials.
 */
public final class ChildJvm {
    /** What a child JVM printed and how it ended. */
    public record Result(int exitCode, String stdout, String stderr) {}

    private ChildJvm() {}

    /** The class path of this test run: the API jar and the test jar. */
    public static String testClassPath() {
        return System.getProperty("perivane.jar") + ":" + System.getProperty("perivane.testjar");
    }

    /**
     * Runs {@code mainClass} with {@code args}, after the command {@code prefix} (such as
     * setpriv), with {@code env} added to this environment (a null value removes a variable).
     * Fails the calling test when the JNI checker reports a fault.
     */
    public static Result run(List<String> prefix, String classPath, Map<String, String> env,
            String mainClass, String... args) throws IOException, InterruptedException {
        List<String> command = new ArrayList<>(prefix);
        command.addAll(List.of(Path.of(System.getProperty("java.home"), "bin", "java").toString(), "-Xcheck:jni",
                "-Djava.library.path=" + System.getProperty("perivane.library.dir"), "-cp", classPath, mainClass));
        command.addAll(List.of(args));
        ProcessBuilder pb = new ProcessBuilder(command);
        env.forEach((k, v) -> {
            if (v == null) pb.environment().remove(k);
            else pb.environment().put(k, v);
        });
        Process p = pb.start();
        p.getOutputStream().close();
        // Both pipes are drained at once: a child that fills one while we wait on the other
        // would never end.
        ByteArrayOutputStream out = new ByteArrayOutputStream(), err = new ByteArrayOutputStream();
        Thread outReader = drain(p.getInputStream(), out), errReader = drain(p.getErrorStream(), err);
        if (!p.waitFor(120, TimeUnit.SECONDS)) {
            p.destroyForcibly();
            throw new IOException("child JVM did not end: " + command);
        }
        outReader.join();
        errReader.join();
        Result r = new Result(p.exitValue(), out.toString(StandardCharsets.UTF_8), err.toString(StandardCharsets.UTF_8));
        assertFalse((r.stdout + r.stderr).matches("(?s).*(WARNING|FATAL ERROR) in native method.*"),
                () -> "the JNI checker reported a fault in the child JVM:\n" + r.stdout + r.stderr);
        return r;
    }

    public static Result run(String mainClass, String... args) throws IOException, InterruptedException {
        return run(List.of(), testClassPath(), Map.of(), mainClass, args);
    }

    private static Thread drain(InputStream in, ByteArrayOutputStream to) {
        Thread t = new Thread(() -> {
            try (in) {
                in.transferTo(to);
            } catch (IOException e) {
                // the child is gone: what was read is all there is
            }
        });
        t.setDaemon(true);
        t.start();
        return t;
    }
}
