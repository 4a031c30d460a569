package com.veltor.perivane;

import java.io.IOException;

/**
 * Desktop-integration services that the Java class library lacks, implemented natively in
 * {@code libperivane}. Every method is a static native; none keeps state between calls.
 *
 * <p>Paths are absolute POSIX paths unless a method says otherwise. Path results are in Unicode
 * Normalization Form C. Methods that take POSIX paths for plain system calls throw
 * {@link NullPointerException} for a null argument; the others answer null, false or 0.
 */
public final class Perivane {
    static {
        System.loadLibrary("perivane");
    }

    private Perivane() {}

    // Paths and text

    /** The POSIX path in the colon-separated HFS style, or null when it cannot be converted. */
    public static native String toHfsStylePath(String path);

    /** The HFS-style path in the POSIX style, or null when it cannot be converted. */
    public static native String toUnxStylePath(String path);

    /** The text in Normalization Form C, cut at its first U+0000. */
    public static native String normalize(String text);

    // Volumes

    /** The display names of the mounted volumes; the boot volume comes first. */
    public static native String[] listVolumes();

    /** The mounted volumes with their total and free sizes, in the order of {@link #listVolumes}. */
    public static native VolumeInfo[] getAllVolumeInfos();

    // Symbolic links

    public static native boolean isSymbolicLink(String path);

    public static native String getSymbolicLinkTarget(String path);

    public static native void createSymbolicLink(String linkPath, String targetPath) throws IOException;

    public static native boolean removeSymbolicLink(String path) throws IOException;

    // Bundle flag

    public static native boolean hasBundleBit(String path) throws IOException;

    public static native void setBundleBit(String path, boolean on) throws IOException;

    // Process identity

    public static native String[] getCurrentProcessGroups();

    /** Sets the file-creation mask (low 16 bits of {@code mask}) and returns the previous one. */
    public static native int setUMask(int mask);

    /** Whether some process was started under the given path (its argv[0]), ignoring case. */
    public static native boolean isAppRunning(String path);

    // Dock

    public static native boolean registerFileAsDockIcon(String path, String name);

    public static native boolean unregisterFileAsDockIcon(String path);

    // Alias files

    public static native boolean createShortcutItem(String name, String targetPath, String folderPath);

    public static native boolean removeShortcutItem(String name, String folderPath);

    public static native boolean createDesktopItem(String name, String targetPath);

    public static native boolean removeDesktopItem(String name);

    public static native String getShortcutPath(String aliasPath);

    // Standard folders and the folder chooser

    public static native String getDesktopFolder();

    public static native String getHomeFolder();

    public static native String getFolder(String title, String prompt, String buttonTitle);

    // Permissions and owner

    /** The nine permission bits, owner read first and others execute last; null on failure. */
    public static native boolean[] getFileAttributes(String path);

    public static native boolean setFileAttributes(String path,
            boolean ownerRead, boolean ownerWrite, boolean ownerExecute,
            boolean groupRead, boolean groupWrite, boolean groupExecute,
            boolean othersRead, boolean othersWrite, boolean othersExecute);

    public static native String getFileOwner(String path);
}
