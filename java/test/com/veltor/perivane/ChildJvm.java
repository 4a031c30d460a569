package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertFalse;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;

/**
 * Starts a second JVM that loads the library under -Xcheck:jni, for cases that need their own
 * process: a different class path, a different environment, captured standard error, or
 * changed credentials (a command prefix such as setpriv); or one that runs while the test
 * drives it.
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

    private static ProcessBuilder builder(List<String> prefix, List<String> options, String classPath,
            String libraryDir, Map<String, String> env, String mainClass, String... args) {
        List<String> command = new ArrayList<>(prefix);
        command.add(javaExecutable());
        command.add("-Xcheck:jni");
        command.add("-Djava.library.path=" + libraryDir);
        command.addAll(options);
        command.add("-cp");
        command.add(classPath);
        command.add(mainClass);
        command.addAll(List.of(args));
        ProcessBuilder pb = new ProcessBuilder(command);
        env.forEach((k, v) -> {
            if (v == null) pb.environment().remove(k);
            else pb.environment().put(k, v);
        });
        return pb;
    }

    private static Result checked(Result r) {
        assertFalse((r.stdout + r.stderr).matches("(?s).*(WARNING|FATAL ERROR) in native method.*"),
                () -> "the JNI checker reported a fault in the child JVM:\n" + r.stdout + r.stderr);
        return r;
    }

    /**
     * Runs {@code mainClass} with {@code args} in a child JVM and fails the calling test when the
     * JNI checker reports a fault. {@code prefix} is put before the java command (may be empty);
     * {@code env} entries are added to (or, with a null value, removed from) this environment.
     */
    public static Result run(List<String> prefix, String classPath, Map<String, String> env,
            String mainClass, String... args) throws IOException, InterruptedException {
        return run(prefix, List.of(), classPath, env, mainClass, args);
    }

    /** As above, with {@code options} for the JVM after the usual ones (a later -D wins). */
    public static Result run(List<String> prefix, List<String> options, String classPath, Map<String, String> env,
            String mainClass, String... args) throws IOException, InterruptedException {
        String libraryDir = System.getProperty("perivane.library.dir");
        ProcessBuilder pb = builder(prefix, options, classPath, libraryDir, env, mainClass, args);
        Process p = pb.start();
        p.getOutputStream().close();
        var out = p.getInputStream().readAllBytes();  // small outputs: read one after the other
        var err = p.getErrorStream().readAllBytes();
        if (!p.waitFor(120, TimeUnit.SECONDS)) {
            p.destroyForcibly();
            throw new IOException("child JVM did not end: " + pb.command());
        }
        return checked(new Result(p.exitValue(), new String(out, StandardCharsets.UTF_8),
                new String(err, StandardCharsets.UTF_8)));
    }

    /** A child JVM that {@link #start} started; its output goes to two files until it ends. */
    public record Started(Process process, Path stdout, Path stderr) {
        /** Waits for the JVM to end, as {@link #run} does, and returns what it printed. */
        public Result finish() throws IOException, InterruptedException {
            if (!process.waitFor(120, TimeUnit.SECONDS)) {
                process.destroyForcibly();
                throw new IOException("child JVM did not end: " + process.info().commandLine().orElse(""));
            }
            return checked(new Result(process.exitValue(), Files.readString(stdout), Files.readString(stderr)));
        }
    }

    /**
     * Starts {@code mainClass} in a child JVM that loads the library from {@code libraryDir}, with
     * {@code env} applied as {@link #run} does, and returns at once. Its output goes to files in
     * {@code outputDir}, so a long-running child never blocks on a full pipe.
     */
    public static Started start(String libraryDir, Map<String, String> env, Path outputDir, String mainClass,
            String... args) throws IOException {
        ProcessBuilder pb = builder(List.of(), List.of(), testClassPath(), libraryDir, env, mainClass, args);
        Path out = Files.createTempFile(outputDir, "child", ".out");
        Path err = Files.createTempFile(outputDir, "child", ".err");
        pb.redirectOutput(out.toFile()).redirectError(err.toFile());
        return new Started(pb.start(), out, err);
    }

    public static Result run(String mainClass, String... args) throws IOException, InterruptedException {
        return run(List.of(), testClassPath(), Map.of(), mainClass, args);
    }
}
