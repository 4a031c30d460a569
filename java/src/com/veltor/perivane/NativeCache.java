package com.veltor.perivane;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.DigestOutputStream;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.Set;

/**
 * The user's copy of the native files carried in this jar, in
 * {@code $XDG_CACHE_HOME/perivane/VERSION-DIGEST/} (by default {@code ~/.cache}), where DIGEST
 * names the set of files (for the library alone, the first 16 hex digits of its SHA-256). Both
 * folders belong to the user and have mode 0700, and the folder that holds them may not be
 * written by others unless it is sticky (as /tmp is). Each file is written under a new name
 * created exclusively, checked against the SHA-256 recorded when the jar was built and renamed
 * into place, so a process finds either no file or a whole, checked one. A file found there is
 * compared with the jar's copy before every use and replaced when it differs, so a changed copy is
 * never loaded. Several JVMs may do this at once: each writes its own file, and renames are atomic.
 */
final class NativeCache {
    private static final String RESOURCES = "/META-INF/native/linux-x86_64/";
    private static final String SUMS = "SHA256SUMS";
    private static final Set<PosixFilePermission> OWNER_ONLY = PosixFilePermissions.fromString("rwx------");
    private static final int TYPE = 0170000, FOLDER = 0040000, REGULAR = 0100000, STICKY = 01000;

    private NativeCache() {}

    /** Extracts every native file, or finds it intact, and returns the library's path. */
    static Path extract() throws IOException {
        String os = System.getProperty("os.name"), arch = System.getProperty("os.arch");
        if (!"Linux".equals(os) || !"amd64".equals(arch)) {
            throw new IOException("this jar carries the native files for linux-x86_64 only, not for "
                    + os + " " + arch);
        }
        byte[] sums;
        try (InputStream in = open(SUMS)) {
            sums = in.readAllBytes();
        }
        Map<String, String> digests = parse(new String(sums, StandardCharsets.UTF_8));
        if (!digests.containsKey(NativeLibrary.FILE_NAME)) {
            throw new IOException(SUMS + " does not list " + NativeLibrary.FILE_NAME);
        }

        // The folder is named after the files: the first 64 bits of their digests, exclusive-ored.
        long set = 0;
        for (String digest : digests.values()) set ^= Long.parseUnsignedLong(digest.substring(0, 16), 16);
        int uid = fileSystemUid();
        Path dir = folder(uid, BuildInfo.VERSION + "-" + HexFormat.of().toHexDigits(set));
        for (Map.Entry<String, String> e : digests.entrySet()) {
            Path file = dir.resolve(e.getKey());
            if (!intact(file, uid)) write(file, e.getValue());
        }
        return dir.resolve(NativeLibrary.FILE_NAME);
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

    /** Makes or checks the cache folder, its perivane folder, and the folder {@code name} in that. */
    private static Path folder(int uid, String name) throws IOException {
        Path home = cacheHome();
        Files.createDirectories(home, PosixFilePermissions.asFileAttribute(OWNER_ONLY));
        Path real = home.toRealPath();
        Map<String, Object> a = Files.readAttributes(real, "unix:uid,mode");
        int owner = (Integer) a.get("uid"), mode = (Integer) a.get("mode");
        if (owner != uid && owner != 0) throw new IOException(real + " belongs to another user (uid " + owner + ")");
        if ((mode & 0022) != 0 && (mode & STICKY) == 0) {
            throw new IOException(real + " may be written by other users and is not sticky,"
                    + " so they could replace what is kept there");
        }
        return ownFolder(ownFolder(real.resolve("perivane"), uid).resolve(name), uid);
    }

    /** Makes the folder, or checks that it is a real folder of the user's; then gives it mode 0700. */
    private static Path ownFolder(Path dir, int uid) throws IOException {
        try {
            Files.createDirectory(dir, PosixFilePermissions.asFileAttribute(OWNER_ONLY));
        } catch (FileAlreadyExistsException e) {
            // checked below, whoever made it
        }
        Map<String, Object> a = Files.readAttributes(dir, "unix:uid,mode", LinkOption.NOFOLLOW_LINKS);
        int owner = (Integer) a.get("uid"), mode = (Integer) a.get("mode");
        if ((mode & TYPE) != FOLDER) {
            throw new IOException(dir + " is not a folder (a symbolic link or a file stands there)");
        }
        if (owner != uid) throw new IOException(dir + " belongs to another user (uid " + owner + ")");
        if ((mode & 07777) != 0700) Files.setPosixFilePermissions(dir, OWNER_ONLY);
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
        byte[] copy;
        try (InputStream in = open(file.getFileName().toString())) {
            copy = in.readAllBytes();
        }
        if (copy.length != (Long) a.get("size")) return false;
        try (InputStream in = Files.newInputStream(file, LinkOption.NOFOLLOW_LINKS)) {
            return Arrays.equals(copy, in.readAllBytes());
        }
    }

    /** Writes the jar's copy of the file under a new name, checks it, and renames it into place. */
    private static void write(Path file, String digest) throws IOException {
        String name = file.getFileName().toString();
        Path temporary = Files.createTempFile(file.getParent(), "." + name + ".", ".tmp");  // exclusive, 0600
        try {
            MessageDigest md;
            try {
                md = MessageDigest.getInstance("SHA-256");
            } catch (NoSuchAlgorithmException e) {
                throw new IOException("this JVM has no SHA-256", e);
            }
            // Not synced: a file that a crash leaves incomplete differs from the jar's copy, and
            // the next JVM replaces it.
            try (InputStream in = open(name); OutputStream out = Files.newOutputStream(temporary)) {
                in.transferTo(new DigestOutputStream(out, md));
            }
            if (!digest.equals(HexFormat.of().formatHex(md.digest()))) {
                throw new IOException("the jar's copy of " + name
                        + " does not have the digest recorded when the jar was built");
            }
            Files.setPosixFilePermissions(temporary, OWNER_ONLY);
            Files.move(temporary, file, StandardCopyOption.ATOMIC_MOVE);
        } finally {
            Files.deleteIfExists(temporary);
        }
    }

    private static InputStream open(String name) throws IOException {
        InputStream in = NativeCache.class.getResourceAsStream(RESOURCES + name);
        if (in == null) throw new IOException("this jar carries no " + RESOURCES.substring(1) + name);
        return in;
    }

    /** The user ID that owns the files this process makes (the file-system UID). */
    private static int fileSystemUid() throws IOException {
        String status = new String(Files.readAllBytes(Path.of("/proc/self/status")), StandardCharsets.ISO_8859_1);
        int line = status.indexOf("\nUid:");  // real, effective, saved and file-system UID
        if (line < 0) throw new IOException("/proc/self/status gives no Uid line");
        return Integer.parseInt(status.substring(line + 1, status.indexOf('\n', line + 1)).split("\t")[4]);
    }
}
