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
 * Starts a second JVM that loads the library under -Xcheck:jni, for cases that need their own
 * process: a different class path, a different environment, captured standard error, or
 * changed credentials (a command prefix such as setpriv).
 */
public final class ChildJvm {
    /** What a child JVM printed and how it ended. */
    public record Result(int exitCode, String stdout, String stderr) {}

    private ChildJvm() {}

    public static String javaExecutable() {
        return Path.of(System.getProperty("java.home"), "bin", "java").toString();
    }

    /** The class path of this test run: the API jar and the test jar. */
    public static String testClassPath() {
        return System.getProperty("perivane.jar") + ":" + System.getProperty("perivane.testjar");
    }

    /**
     * Runs {@code mainClass} with {@code args} in a child JVM and fails the calling test when the
     * JNI checker reports a fault. {@code prefix} is put before the java command (may be empty);
     * {@code env} entries are added to (or, with a null value, removed from) this environment.
     */
    public static Result run(List<String> prefix, String classPath, Map<String, String> env,
            String mainClass, String... args) throws IOException, InterruptedException {
        List<String> command = new ArrayList<>(prefix);
        command.add(javaExecutable());
        command.add("-Xcheck:jni");
        command.add("-Djava.library.path=" + System.getProperty("perivane.library.dir"));
        command.add("-cp");
        command.add(classPath);
        command.add(mainClass);
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

    public static Result run(String mainClass, String... args) throws IOException, InterruptedException {
        return run(List.of(), testClassPath(), Map.of(), mainClass, args);
    }
}
