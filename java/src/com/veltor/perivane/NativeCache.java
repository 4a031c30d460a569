package com.veltor.perivane;

import java.io.Closeable;
import java.io.FileInputStream;
import java.io.RandomAccessFile;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.nio.file.attribute.FileTime;
import java.util.concurrent.TimeUnit;
import java.util.ArrayList;
import java.util.List;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.Set;

/**
 * The user's copy of the native files carried in this jar, in the first of these places that is
 * safe: {@code $XDG_CACHE_HOME/perivane/VERSION-DIGEST/} (by default {@code ~/.cache}), then
 * {@code $XDG_RUNTIME_DIR/perivane/VERSION-DIGEST/}, then a fresh folder of mode 0700 under
 * {@code java.io.tmpdir}, removed when the JVM ends. DIGEST names the set of files (for the
 * library alone, the first 16 hex digits of its SHA-256). A place is safe when every folder from
 * it up to "/" belongs to the user or to root and may not be written by others unless it is
 * sticky (as /tmp is), and the two folders made in it are the user's own with mode 0700: then
 * only the user (or root) can change what is kept there. Each file is written under a new name
 * created exclusively, checked against the SHA-256 recorded when the jar was built and renamed
 * into place, so a process finds either no file or a whole, checked one. Several JVMs may do
 * this at once: each writes its own file, and renames are atomic.
 *
 * <p>What identifies each file once checked (device, inode, size, modification and change
 * times, and its digest) is kept in {@value #RECORD} beside it. A later start compares that
 * record with the library through a descriptor it holds open while the JVM loads the library
 * by its path, and checks afterwards that the path still names that file: a file the record does
 * not describe exactly is compared byte for byte with the jar's copy and replaced when it
 * differs, so a changed copy is never loaded.
 */
final class NativeCache {
    private static final String RESOURCES = "/META-INF/native/linux-x86_64/";
    private static final String SUMS = "SHA256SUMS";
    static final String RECORD = "RECORD";
    private static final String STAT = "unix:dev,ino,size,lastModifiedTime,ctime,uid,mode";
    private static final int TYPE = 0170000, FOLDER = 0040000, REGULAR = 0100000, STICKY = 01000;

    private NativeCache() {}

    /** Mode 0700; made only where a folder or file is made, since its classes cost the JVM's start. */
    private static Set<PosixFilePermission> ownerOnly() {
        return PosixFilePermissions.fromString("rwx------");
    }

    /**
     * The library's copy, found as the record describes it or else checked or written. Close it
     * once the library is loaded, after {@link Copy#checkLoaded}.
     */
    static Copy extract() throws IOException {
        String os = System.getProperty("os.name"), arch = System.getProperty("os.arch");
        if (!"Linux".equals(os) || !"amd64".equals(arch)) {
            throw new IOException("this jar carries the native files for linux-x86_64 only, not for "
                    + os + " " + arch);
        }
        byte[] sums = jarCopy(SUMS);
        Map<String, String> digests = parse(new String(sums, StandardCharsets.UTF_8));
        if (!digests.containsKey(NativeLibrary.FILE_NAME)) {
            throw new IOException(SUMS + " does not list " + NativeLibrary.FILE_NAME);
        }

        // The folder is named after the files: the first 64 bits of their digests, exclusive-ored.
        long set = 0;
        for (String digest : digests.values()) set ^= Long.parseUnsignedLong(digest.substring(0, 16), 16);
        int uid = fileSystemUid();
        Place place = folder(uid, BuildInfo.VERSION + "-" + HexFormat.of().toHexDigits(set));
        Path dir = place.dir(), library = dir.resolve(NativeLibrary.FILE_NAME);
        // Every file as the record describes it, the library through the descriptor held for
        // its loading: nothing more to read.
        Map<String, String> record = readRecord(dir);
        Copy copy = Copy.open(library);
        boolean asRecorded = copy != null;
        for (Map.Entry<String, String> e : digests.entrySet()) {
            boolean isLibrary = e.getKey().equals(NativeLibrary.FILE_NAME);
            asRecorded = asRecorded && described(record, dir.resolve(e.getKey()), e.getValue(), isLibrary ? copy.checked : null);
        }
        if (asRecorded) return copy;
        if (copy != null) copy.close();

        for (Map.Entry<String, String> e : digests.entrySet()) {
            Path file = dir.resolve(e.getKey());
            if (!intact(file, uid)) write(file, e.getValue(), uid);
            if (place.fresh()) file.toFile().deleteOnExit();
        }
        writeRecord(dir, digests);
        if (place.fresh()) dir.resolve(RECORD).toFile().deleteOnExit();
        copy = Copy.open(library);
        if (copy == null) throw new IOException(library + " went away while it was being checked");
        return copy;
    }

    /** A folder for the copy; a fresh one is removed, with its files, when the JVM ends. */
    private record Place(Path dir, boolean fresh) {}

    /**
     * The library's file held open from when it was checked until it is loaded: the JVM loads
     * by path, so {@link #checkLoaded} looks, once it has, that the path still names the file
     * held (which cannot be freed meanwhile, nor its inode given to another file) unchanged.
     */
    static final class Copy implements Closeable {
        final Path path;
        private final RandomAccessFile file;
        private final Map<String, Object> checked;  // the file's attributes, read through the descriptor

        private Copy(Path path, RandomAccessFile file, Map<String, Object> checked) {
            this.path = path;
            this.file = file;
            this.checked = checked;
        }

        /**
         * The regular file at the path (not a link) opened, and its attributes read through that
         * descriptor; null when there is none, or it cannot be opened or found again.
         */
        static Copy open(Path path) throws IOException {
            RandomAccessFile file;
            try {
                Map<String, Object> a = Files.readAttributes(path, "unix:mode", LinkOption.NOFOLLOW_LINKS);
                if (((Integer) a.get("mode") & TYPE) != REGULAR) return null;
                file = new RandomAccessFile(path.toFile(), "r");  // java.io: NIO's channels cost the start more
            } catch (IOException e) {
                return null;
            }
            try {
                return new Copy(path, file, Files.readAttributes(descriptorPath(file, path), STAT));
            } catch (IOException | RuntimeException e) {
                file.close();
                return null;  // swapped for a link meanwhile, or gone
            }
        }

        /**
         * Throws unless the file the JVM mapped for the path is the one held, as it was when
         * checked, or (renamed there meanwhile by another JVM) one that holds the jar's copy.
         */
        void checkLoaded() throws IOException {
            Map<String, Object> now = Files.readAttributes(path, STAT, LinkOption.NOFOLLOW_LINKS);
            if (identity(now).equals(identity(checked))) return;
            String mapped = null;
            for (String line : Files.readAllLines(Path.of("/proc/self/maps"))) {
                String[] f = line.trim().split("\\s+", 6);
                if (f.length == 6 && unlinked(f[5]).equals(path.toString())) mapped = f[4];
            }
            boolean held = String.valueOf(checked.get("ino")).equals(mapped)
                    && identity(Files.readAttributes(descriptorPath(file, path), STAT)).equals(identity(checked));
            if (!held && !(String.valueOf(now.get("ino")).equals(mapped) && intact(path, fileSystemUid()))) {
                throw new IOException(path + " changed while it was being loaded");
            }
        }

        @Override
        public void close() throws IOException {
            file.close();
        }
    }

    /**
     * /proc/self/fd/N of the open file: the entry whose link names the path and whose position
     * is the one just given to the file (no other descriptor of this process has it).
     */
    private static Path descriptorPath(RandomAccessFile file, Path path) throws IOException {
        long mark = (1L << 32) + (System.nanoTime() & 0x7fffffffL);
        file.seek(mark);
        String pos = "pos:\t" + mark + "\n";
        String[] fds = new java.io.File("/proc/self/fd").list();
        for (String fd : fds == null ? new String[0] : fds) {
            try {
                Path link = Path.of("/proc/self/fd", fd);
                if (unlinked(Files.readSymbolicLink(link).toString()).equals(path.toString())
                        && read(Path.of("/proc/self/fdinfo", fd)).startsWith(pos)) {
                    return link;
                }
            } catch (IOException e) {
                // a descriptor closed meanwhile: not ours
            }
        }
        throw new IOException("the descriptor of " + path + " is not in /proc/self/fd");
    }

    /** A small file's text (as bytes 0 to 255, or UTF-8), read with java.io, which costs the JVM's start less than NIO. */
    private static String read(Path file, java.nio.charset.Charset charset) throws IOException {
        try (InputStream in = new FileInputStream(file.toFile())) {
            return new String(in.readAllBytes(), charset);
        }
    }

    private static String read(Path file) throws IOException {
        return read(file, StandardCharsets.ISO_8859_1);
    }

    /** The path of a file as /proc names it, without the mark of a file renamed over since ("PATH (deleted)"). */
    private static String unlinked(String name) {
        return name.endsWith(" (deleted)") ? name.substring(0, name.length() - 10) : name;
    }

    /** What identifies a file's content: device, inode, size, modification and change times. */
    private static String identity(Map<String, Object> a) {
        return a.get("dev") + " " + a.get("ino") + " " + a.get("size") + " " + nanos(a.get("lastModifiedTime")) + " "
                + nanos(a.get("ctime"));
    }

    private static long nanos(Object time) {
        return ((FileTime) time).to(TimeUnit.NANOSECONDS);
    }

    /**
     * Whether the record describes the file exactly (its identity, and the jar's digest for it),
     * with {@code attributes} read through a descriptor, else by its path.
     */
    private static boolean described(Map<String, String> record, Path file, String digest, Map<String, Object> attributes) {
        String line = record.get(file.getFileName().toString());
        if (line == null) return false;
        try {
            Map<String, Object> a = attributes != null ? attributes : Files.readAttributes(file, STAT, LinkOption.NOFOLLOW_LINKS);
            return line.equals(digest + " " + identity(a)) && ((Integer) a.get("mode") & TYPE) == REGULAR;
        } catch (IOException e) {
            return false;
        }
    }

    /** The record's lines, "name digest identity", by name; empty when there is none. */
    private static Map<String, String> readRecord(Path dir) {
        Map<String, String> record = new LinkedHashMap<>();
        try {
            for (String line : read(dir.resolve(RECORD), StandardCharsets.UTF_8).split("\n")) {
                int space = line.indexOf(' ');
                if (space > 0) record.put(line.substring(0, space), line.substring(space + 1));
            }
        } catch (IOException e) {
            // none yet, or unreadable: every file is compared in full
        }
        return record;
    }

    /** Records the files as they now are, all checked; written under a new name and renamed into place. */
    private static void writeRecord(Path dir, Map<String, String> digests) throws IOException {
        StringBuilder text = new StringBuilder();
        for (Map.Entry<String, String> e : digests.entrySet()) {
            Map<String, Object> a = Files.readAttributes(dir.resolve(e.getKey()), STAT, LinkOption.NOFOLLOW_LINKS);
            text.append(e.getKey()).append(' ').append(e.getValue()).append(' ').append(identity(a)).append('\n');
        }
        Path temporary = Files.createTempFile(dir, "." + RECORD + ".", ".tmp");
        try {
            Files.writeString(temporary, text);
            Files.move(temporary, dir.resolve(RECORD), StandardCopyOption.ATOMIC_MOVE);
        } finally {
            Files.deleteIfExists(temporary);
        }
    }

    /** The lines of SHA256SUMS, "digest  name" (sha256sum's form), as a map from name to digest. */
    private static Map<String, String> parse(String sums) throws IOException {
        Map<String, String> digests = new LinkedHashMap<>();
        for (String line : sums.split("\n")) {
            // Plain string work: the regular-expression classes would cost the JVM's start more.
            boolean wellFormed = line.length() > 66 && line.startsWith("  ", 64) && !line.startsWith(".", 66)
                    && line.indexOf('/', 66) < 0;
            try {
                if (wellFormed) HexFormat.of().parseHex(line, 0, 64);
            } catch (IllegalArgumentException e) {
                wellFormed = false;
            }
            if (!wellFormed) throw new IOException(SUMS + " in the jar is malformed: " + line);
            digests.put(line.substring(66), line.substring(0, 64));
        }
        return digests;
    }

    /** The cache folder: $XDG_CACHE_HOME when absolute, else $HOME/.cache, else user.home/.cache. */
    private static Path cacheHome() throws IOException {
        String xdg = System.getenv("XDG_CACHE_HOME");
        if (xdg != null && xdg.startsWith("/")) return Path.of(xdg);
        String home = System.getenv("HOME");
        if (home == null || !home.startsWith("/")) home = System.getProperty("user.home", "");
        if (!home.startsWith("/")) {
            throw new IOException("no cache folder: XDG_CACHE_HOME, HOME and user.home name no absolute folder");
        }
        return Path.of(home, ".cache");
    }

    /**
     * The folder {@code name} in the first safe place: its perivane folder in the cache folder,
     * then in $XDG_RUNTIME_DIR; else a fresh folder under java.io.tmpdir. Says why each failed
     * when none will do.
     */
    private static Place folder(int uid, String name) throws IOException {
        List<String> refused = new ArrayList<>();
        for (String place : new String[] {"cache", "XDG_RUNTIME_DIR", "java.io.tmpdir"}) {
            try {
                Path base = switch (place) {
                    case "cache" -> {
                        Path home = cacheHome();
                        if (!Files.isDirectory(home)) Files.createDirectories(home, PosixFilePermissions.asFileAttribute(ownerOnly()));
                        yield home;
                    }
                    case "XDG_RUNTIME_DIR" -> {
                        String runtime = System.getenv(place);
                        if (runtime == null || !runtime.startsWith("/")) throw new IOException("XDG_RUNTIME_DIR is not set");
                        yield Path.of(runtime);
                    }
                    default -> Path.of(System.getProperty(place, "/tmp"));
                };
                Path real = safeChain(base.toRealPath(), uid);
                if (!place.equals("java.io.tmpdir")) {
                    return new Place(ownFolder(ownFolder(real.resolve("perivane"), uid).resolve(name), uid), false);
                }
                Path fresh = Files.createTempDirectory(real, "perivane-", PosixFilePermissions.asFileAttribute(ownerOnly()));
                fresh.toFile().deleteOnExit();  // after its files, which are registered later
                return new Place(fresh, true);
            } catch (IOException e) {
                refused.add(e.getClass() == IOException.class ? e.getMessage() : e.toString());
            }
        }
        throw new IOException("no place is safe for it: " + String.join("; ", refused));
    }

    /**
     * The folder, when it and every folder above it belong to the user or to root and may not be
     * written by others unless sticky: then no other user can rename or replace what lies below.
     */
    private static Path safeChain(Path real, int uid) throws IOException {
        for (Path p = real; p != null; p = p.getParent()) {
            Map<String, Object> a = Files.readAttributes(p, "unix:uid,mode", LinkOption.NOFOLLOW_LINKS);
            int owner = (Integer) a.get("uid"), mode = (Integer) a.get("mode");
            if (owner != uid && owner != 0) throw new IOException(p + " belongs to another user (uid " + owner + ")");
            if ((mode & 0022) != 0 && (mode & STICKY) == 0) {
                throw new IOException(p + " may be written by other users and is not sticky,"
                        + " so they could replace what is kept there");
            }
        }
        return real;
    }

    /** Makes the folder, or checks that it is a real folder of the user's; then gives it mode 0700. */
    private static Path ownFolder(Path dir, int uid) throws IOException {
        Map<String, Object> a;
        try {
            a = Files.readAttributes(dir, "unix:uid,mode", LinkOption.NOFOLLOW_LINKS);
        } catch (NoSuchFileException absent) {
            try {
                Files.createDirectory(dir, PosixFilePermissions.asFileAttribute(ownerOnly()));
            } catch (FileAlreadyExistsException e) {
                // checked below, whoever made it
            }
            a = Files.readAttributes(dir, "unix:uid,mode", LinkOption.NOFOLLOW_LINKS);
        }
        int owner = (Integer) a.get("uid"), mode = (Integer) a.get("mode");
        if ((mode & TYPE) != FOLDER) {
            throw new IOException(dir + " is not a folder (a symbolic link or a file stands there)");
        }
        if (owner != uid) throw new IOException(dir + " belongs to another user (uid " + owner + ")");
        if ((mode & 07777) != 0700) Files.setPosixFilePermissions(dir, ownerOnly());
        return dir;
    }

    /**
     * Whether the file is a regular file of the user's, readable and executable, holding exactly
     * the jar's copy (whose digest was checked when the file was written). Comparing the bytes
     * costs the JVM far less than a second digest would at its start, and misses no change.
     */
    private static boolean intact(Path file, int uid) throws IOException {
        Map<String, Object> a;
        try {
            a = Files.readAttributes(file, "unix:uid,mode,size", LinkOption.NOFOLLOW_LINKS);
        } catch (NoSuchFileException e) {
            return false;
        }
        int mode = (Integer) a.get("mode");
        if ((mode & TYPE) != REGULAR || (Integer) a.get("uid") != uid || (mode & 0500) != 0500) return false;
        byte[] copy = jarCopy(file.getFileName().toString());
        if (copy.length != (Long) a.get("size")) return false;
        try (InputStream in = Files.newInputStream(file, LinkOption.NOFOLLOW_LINKS)) {
            return Arrays.equals(copy, in.readAllBytes());
        }
    }

    /** Writes the jar's copy of the file under a new name, checks it, and puts it in place. */
    private static void write(Path file, String digest, int uid) throws IOException {
        String name = file.getFileName().toString();
        Path temporary = Files.createTempFile(file.getParent(), "." + name + ".", ".tmp");  // exclusive, 0600
        try {
            MessageDigest md;
            try {
                md = MessageDigest.getInstance("SHA-256");
            } catch (NoSuchAlgorithmException e) {
                throw new IOException("this JVM has no SHA-256", e);
            }
            byte[] bytes = jarCopy(name);
            if (!digest.equals(HexFormat.of().formatHex(md.digest(bytes)))) {
                throw new IOException("the jar's copy of " + name
                        + " does not have the digest recorded when the jar was built");
            }
            // Not synced: a file that a crash leaves incomplete differs from the jar's copy, and
            // the next JVM replaces it.
            Files.write(temporary, bytes);
            Files.setPosixFilePermissions(temporary, ownerOnly());
            // Put in place only where no file is: a whole copy another JVM put there meanwhile
            // stays, so JVMs starting together load one file. One that differs is replaced.
            try {
                Files.createLink(file, temporary);
            } catch (FileAlreadyExistsException e) {
                if (!intact(file, uid)) Files.move(temporary, file, StandardCopyOption.ATOMIC_MOVE);
            } catch (UnsupportedOperationException | IOException e) {  // a file system without hard links
                Files.move(temporary, file, StandardCopyOption.ATOMIC_MOVE);
            }
        } finally {
            Files.deleteIfExists(temporary);
        }
    }

    /**
     * The jar's copy of a native file. Read from the jar file itself where these classes come
     * from one (the class loader holds it open already): a resource URL costs the JVM's start
     * several milliseconds more. Elsewhere (a jar inside another), through the class loader.
     */
    private static byte[] jarCopy(String name) throws IOException {
        try {
            java.net.URL location = NativeCache.class.getProtectionDomain().getCodeSource().getLocation();
            Path jar = "file".equals(location.getProtocol()) ? Path.of(location.toURI()) : null;
            if (jar != null && Files.isRegularFile(jar)) {
                try (java.util.jar.JarFile file = new java.util.jar.JarFile(jar.toFile())) {
                    java.util.zip.ZipEntry entry = file.getEntry(RESOURCES.substring(1) + name);
                    if (entry != null) {
                        try (InputStream in = file.getInputStream(entry)) {
                            return in.readAllBytes();
                        }
                    }
                }
            }
        } catch (java.net.URISyntaxException | RuntimeException e) {
            // not a plain jar file: the class loader's way below
        }
        try (InputStream in = NativeCache.class.getResourceAsStream(RESOURCES + name)) {
            if (in == null) throw new IOException("this jar carries no " + RESOURCES.substring(1) + name);
            return in.readAllBytes();
        }
    }

    /** The user ID that owns the files this process makes (the file-system UID). */
    private static int fileSystemUid() throws IOException {
        String status = read(Path.of("/proc/self/status"));
        int line = status.indexOf("\nUid:");  // real, effective, saved and file-system UID
        if (line < 0) throw new IOException("/proc/self/status gives no Uid line");
        return Integer.parseInt(status.substring(line + 1, status.indexOf('\n', line + 1)).split("\t")[4]);
    }
}
