package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertFalse;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.regex.Pattern;

/**
 * Starts a second JVM that loads the library under -Xcheck:jni, for cases that need their own
 * process: a different class path, a different environment, captured standard error, or
 * changed credentials (a command prefix such as setpriv); or one that runs while the test
 * drives it. The child's output goes to files, so a child that writes much to one stream never
 * blocks while we wait on the other.
 */
public final class ChildJvm {
    /** What a child JVM printed and how it ended. */
    public record Result(int exitCode, String stdout, String stderr) {}

    private ChildJvm() {}

    /** The class path of this test run: the API jar and the test jar. */
    public static String testClassPath() {
        return System.getProperty("perivane.jar") + ":" + System.getProperty("perivane.testjar");
    }

    /** A child JVM that {@link #start} started; its output goes to two files until it ends. */
    public record Started(Process process, Path stdout, Path stderr) {
        /** Waits for the JVM to end and returns what it printed; fails on a JNI checker report. */
        public Result finish() throws IOException, InterruptedException {
            try {
                if (!process.waitFor(240, TimeUnit.SECONDS)) {
                    process.destroyForcibly();
                    throw new IOException("child JVM did not end: " + process.info().commandLine().orElse("")
                            + "\nits output so far:\n" + Files.readString(stdout));
                }
                Result r = new Result(process.exitValue(), Files.readString(stdout), Files.readString(stderr));
                assertFalse(Pattern.compile("(WARNING|FATAL ERROR) in native method").matcher(r.stdout + r.stderr).find(),
                        () -> "the JNI checker reported a fault in the child JVM:\n" + r.stdout + r.stderr);
                return r;
            } finally {
                Files.deleteIfExists(stdout);
                Files.deleteIfExists(stderr);
            }
        }
    }

    /**
     * Starts {@code mainClass} with {@code args} and returns at once: after the command
     * {@code prefix} (such as setpriv), with the JVM {@code options} after the usual ones (a later
     * -D wins), loading the library from {@code libraryDir}, with {@code env} added to this
     * environment (a null value removes a variable). Its output goes to files in {@code outputDir}.
     */
    public static Started start(List<String> prefix, List<String> options, String classPath, String libraryDir,
            Map<String, String> env, Path outputDir, String mainClass, String... args) throws IOException {
        List<String> command = new ArrayList<>(prefix);
        command.add(Path.of(System.getProperty("java.home"), "bin", "java").toString());
        command.add("-Xcheck:jni");
        command.add("-Djava.library.path=" + libraryDir);
        command.addAll(options);
        command.addAll(List.of("-cp", classPath, mainClass));
        command.addAll(List.of(args));
        ProcessBuilder pb = new ProcessBuilder(command);
        env.forEach((k, v) -> {
            if (v == null) pb.environment().remove(k);
            else pb.environment().put(k, v);
        });
        Path out = Files.createTempFile(outputDir, "child", ".out");
        Path err = Files.createTempFile(outputDir, "child", ".err");
        pb.redirectInput(ProcessBuilder.Redirect.from(new File("/dev/null")));
        pb.redirectOutput(out.toFile()).redirectError(err.toFile());
        return new Started(pb.start(), out, err);
    }

    /** {@link #start} with the test's class path, for a child the test drives while it runs. */
    public static Started start(String libraryDir, Map<String, String> env, Path outputDir, String mainClass,
            String... args) throws IOException {
        return start(List.of(), List.of(), testClassPath(), libraryDir, env, outputDir, mainClass, args);
    }

    /** Runs a child JVM to its end (see {@link #start}) with the library of this test run. */
    public static Result run(List<String> prefix, List<String> options, String classPath, Map<String, String> env,
            String mainClass, String... args) throws IOException, InterruptedException {
        Path tmp = Path.of(System.getProperty("java.io.tmpdir"));
        return start(prefix, options, classPath, System.getProperty("perivane.library.dir"), env, tmp, mainClass, args)
                .finish();
    }

    public static Result run(List<String> prefix, String classPath, Map<String, String> env,
            String mainClass, String... args) throws IOException, InterruptedException {
        return run(prefix, List.of(), classPath, env, mainClass, args);
    }

    public static Result run(String mainClass, String... args) throws IOException, InterruptedException {
        return run(List.of(), testClassPath(), Map.of(), mainClass, args);
    }

    /**
     * Runs a child JVM to its end as nobody (user and group 65534, no other groups). It loads
     * copies of the test's jars and library from a folder anyone may read, because the build
     * folder may lie in one only its owner may enter (a checkout in a mktemp -d folder).
     */
    public static Result runAsNobody(Map<String, String> env, String mainClass, String... args)
            throws IOException, InterruptedException {
        Path copies = Files.createTempDirectory("perivane-child", PosixFilePermissions.asFileAttribute(
                PosixFilePermissions.fromString("rwxr-xr-x")));
        try {
            List<String> classPath = new ArrayList<>();
            for (String jar : testClassPath().split(":")) {
                classPath.add(Files.copy(Path.of(jar), copies.resolve(Path.of(jar).getFileName())).toString());
            }
            Path built = Path.of(System.getProperty("perivane.library.dir"));
            for (String file : List.of(System.mapLibraryName("perivane"), "perivane-chooser")) {
                Files.copy(built.resolve(file), copies.resolve(file), StandardCopyOption.COPY_ATTRIBUTES);
            }
            List<String> nobody = List.of("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--");
            Path tmp = Path.of(System.getProperty("java.io.tmpdir"));
            return start(nobody, List.of(), String.join(":", classPath), copies.toString(), env, tmp, mainClass, args)
                    .finish();
        } finally {
            try (var files = Files.walk(copies)) {
                for (Path f : files.sorted(Comparator.reverseOrder()).toList()) Files.delete(f);
            }
        }
    }
}
