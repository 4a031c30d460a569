package com.veltor.perivane;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * Loads {@code libperivane.so} for the class loader of {@link Perivane} from the first of these
 * that works: the file, or the folder holding it, named by the system property
 * {@value #PATH_PROPERTY}; {@code System.loadLibrary("perivane")}, which searches
 * {@code java.library.path}; the copy carried in this jar, extracted into the user's cache
 * folder by {@link NativeCache}. The library found must report the version of these classes.
 */
final class NativeLibrary {
    static final String PATH_PROPERTY = "perivane.library.path";
    static final String FILE_NAME = System.mapLibraryName("perivane");

    /** Where System.loadLibrary looks: the folders of this property. */
    private static final String LIBRARY_PATH = "java.library.path";
    /** The JVM's words when the file is bound to another class loader already. */
    private static final String OTHER_LOADER = "already loaded in another classloader";

    private NativeLibrary() {}

    /** The version the library was built as. */
    private static native String version();

    /** Loads the library, or throws UnsatisfiedLinkError saying what was tried and why each failed. */
    static void load() {
        List<String> tried = new ArrayList<>();
        String path = loadFirstThatWorks(tried);
        if (path == null) {
            throw new UnsatisfiedLinkError(FILE_NAME + " (version " + BuildInfo.VERSION
                    + ") could not be loaded. Tried, in this order:\n  " + String.join("\n  ", tried));
        }
        String version;
        try {
            version = version();
        } catch (UnsatisfiedLinkError e) {
            version = "unknown (it does not report one)";
        }
        if (!BuildInfo.VERSION.equals(version)) {
            throw new UnsatisfiedLinkError(FILE_NAME + " at " + path + " is version " + version
                    + ", but the classes of com.veltor.perivane are version " + BuildInfo.VERSION
                    + ": remove that copy, or name the library of this version with -D"
                    + PATH_PROPERTY + "=PATH");
        }
    }

    /** Where the library was loaded from, or null when every way failed (each noted in tried). */
    private static String loadFirstThatWorks(List<String> tried) {
        String override = System.getProperty(PATH_PROPERTY);
        if (override == null || override.isEmpty()) {
            tried.add("system property " + PATH_PROPERTY + ": not set");
        } else {
            String what = "system property " + PATH_PROPERTY + "=" + override;
            try {
                Path p = Path.of(override).toAbsolutePath();
                String file = (Files.isDirectory(p) ? p.resolve(FILE_NAME) : p).toString();
                if (loaded(what, load(file, false), tried)) return file;
            } catch (InvalidPathException e) {
                tried.add(what + ": " + e.getMessage());
            }
        }
        // Only when a folder of java.library.path has the file: the JVM's own search, failing,
        // costs the start of the JVM more than this look.
        String way = "System.loadLibrary(\"perivane\")", found = onLibraryPath();
        if (found == null) {
            tried.add(way + ": no " + FILE_NAME + " in java.library.path: " + System.getProperty(LIBRARY_PATH, ""));
        } else if (loaded(way, load("perivane", true), tried)) {
            return found;
        }
        try (NativeCache.Copy copy = NativeCache.extract()) {
            String file = copy.path.toString();
            if (loaded("the copy in the jar, extracted to " + file, load(file, false), tried)) {
                copy.checkLoaded();
                return file;
            }
        } catch (IOException | RuntimeException e) {
            // Our own refusals say what is wrong; the file system's exceptions need their name.
            tried.add("the copy in the jar: " + (e.getClass() == IOException.class ? e.getMessage() : e.toString()));
        }
        return null;
    }

    /**
     * Loads a file, or with {@code byName} the library of that name on java.library.path. Null
     * when that worked, else the JVM's reason.
     */
    private static String load(String name, boolean byName) {
        try {
            if (byName) {
                System.loadLibrary(name);
            } else {
                System.load(name);
            }
            return null;
        } catch (UnsatisfiedLinkError e) {
            String why = String.valueOf(e.getMessage());
            if (why.contains(OTHER_LOADER)) {
                // Binding the natives to another file would give the process two copies of the
                // library; one copy per JVM is the state the natives are written for.
                throw new UnsatisfiedLinkError(FILE_NAME + " is loaded by another class loader of this JVM ("
                        + why + "). A JVM lets one class loader at a time use a native library: load "
                        + "com.veltor.perivane through one class loader that every user of it shares, "
                        + "such as the application's or a common parent.");
            }
            return why;
        }
    }

    /** Whether a way worked; when it did not, its reason is noted in tried. */
    private static boolean loaded(String way, String failure, List<String> tried) {
        if (failure == null) return true;
        tried.add(way + ": " + failure + hint(failure));
        return false;
    }

    /** The file System.loadLibrary finds: in the first of java.library.path's folders that has it; or null. */
    private static String onLibraryPath() {
        for (String dir : System.getProperty(LIBRARY_PATH, "").split(File.pathSeparator)) {
            Path file = Path.of(dir.isEmpty() ? "." : dir, FILE_NAME);
            if (Files.isRegularFile(file)) return file.toAbsolutePath().toString();
        }
        return null;
    }

    /** For a failure that names a missing shared library: the package that provides it. */
    static String hint(String failure) {
        Matcher m = Pattern.compile("([^\\s:/]+\\.so[.0-9]*): cannot open shared object file").matcher(failure);
        if (!m.find()) return "";
        for (String word : BuildInfo.RUNTIME_LIBRARIES.split(" ")) {
            String[] soname = word.split("=", 2);
            if (soname[0].equals(m.group(1))) {
                return " (" + m.group(1) + " is in the Debian package " + soname[1]
                        + ": apt-get install " + soname[1] + ")";
            }
        }
        return " (install the package that provides " + m.group(1) + ")";
    }
}
