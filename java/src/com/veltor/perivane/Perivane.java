package com.veltor.perivane;

import java.io.IOException;

/**
 * Desktop-integration services that the Java class library lacks, implemented natively in
 * {@code libperivane.so}. Every method is a static native; none keeps state between calls, and
 * any number may run at once on different threads.
 *
 * <h2>Loading</h2>
 * The first use of this class loads the library, from the first of these that works:
 * <ol>
 * <li>the file, or the folder holding {@code libperivane.so}, named by the system property
 *     {@code perivane.library.path};</li>
 * <li>{@code System.loadLibrary("perivane")}, which searches {@code java.library.path} (the
 *     Debian package installs the library there);</li>
 * <li>the copy carried in this jar, extracted into
 *     {@code $XDG_CACHE_HOME/perivane/VERSION-DIGEST/} (by default under {@code ~/.cache}), a
 *     folder of the user's own with mode 0700, and checked against the SHA-256 recorded when the
 *     jar was built each time before it is used.</li>
 * </ol>
 * The library found must be of the version of this class. When none can be loaded, the first
 * use throws {@link UnsatisfiedLinkError} listing what was tried and why each failed (a missing
 * shared library is named with its Debian package), and later uses throw
 * {@link NoClassDefFoundError}. The library runs on Linux x86-64 with glibc 2.34 or later and
 * needs besides only libmount, libuuid and GLib (GIO), which every Linux desktop has. A JVM
 * lets one class loader at a time use the library: when a second class loader loads this
 * class, it gets an {@link UnsatisfiedLinkError} that says so.
 *
 * <h2>Arguments and results</h2>
 * Paths are absolute POSIX paths unless a method says otherwise. They reach the system as UTF-8
 * made from the string; a string holding U+0000 or a lone surrogate never names a file. Path
 * results are in Unicode Normalization Form C where that spelling names the same item as the
 * names on disk do (or neither names anything); otherwise they keep the spelling that names the
 * item, since Linux finds a name only in the form it was made in. The methods for paths and
 * text, volumes, symbolic links and the bundle flag throw {@link NullPointerException}, with
 * the parameter's name as its message, for a null argument; the other methods answer null,
 * false or 0 for one. Where the
 * platform refuses an argument of those others (an empty path, for instance), they throw a
 * {@link RuntimeException} whose message starts
 * "Non-Java exception raised, not handled! (Original problem: ". The failures that the file
 * system reports to the methods for permissions, owners and alias files are written to standard
 * error as one line each: "YYYY-MM-DD HH:MM:SS.mmm program[pid:tid] description".
 */
public final class Perivane {
    static {
        NativeLibrary.load();
    }

    private Perivane() {}

    // Paths and text

    /**
     * Converts a POSIX path into the colon-separated HFS style, which names the volume first:
     * {@code /usr/bin} becomes {@code Filesystem root:usr:bin} (the root volume's name), a volume
     * {@code Ext} mounted at {@code /media/ext} makes {@code /media/ext/a} into {@code Ext:a}, and
     * a relative path {@code foo/bar} becomes {@code :foo:bar}. A {@code :} inside a POSIX name is
     * a {@code /} in HFS. Symbolic links in the part of the path that exists are resolved.
     *
     * @param path a POSIX path
     * @return the HFS-style path in Form C (see above), cut at its first U+0000; null when the
     *     path cannot be converted (it is empty, too long, or holds U+0000 or a lone surrogate)
     * @throws NullPointerException if {@code path} is null
     */
    public static native String toHfsStylePath(String path);

    /**
     * Converts an HFS-style path into the POSIX style: the first name is the volume, and a name
     * that no mounted volume has becomes a folder of the root ({@code NoSuchVol:a} gives
     * {@code /NoSuchVol/a}); a path starting with {@code :} is relative.
     *
     * @param path an HFS-style path
     * @return the POSIX path in Form C (see above), cut at its first U+0000; null when the path
     *     cannot be converted (it is empty, or holds a lone surrogate)
     * @throws NullPointerException if {@code path} is null
     */
    public static native String toUnxStylePath(String path);

    /**
     * Brings text into Unicode Normalization Form C (canonical decomposition, then canonical
     * composition); compatibility characters such as U+FB01 stay as they are.
     *
     * @param text any text
     * @return the text in Form C, cut at its first U+0000 (the empty string stays empty)
     * @throws NullPointerException if {@code text} is null
     * @throws OutOfMemoryError if the result cannot be allocated
     */
    public static native String normalize(String text);

    // Volumes

    /**
     * Lists the mounted volumes: the visible mounts of the mount table that are not pseudo file
     * systems, the root first. A volume is named by its label, else by the last component of its
     * mount point; an unlabelled root is "Filesystem root".
     *
     * @return the volume names, as the system gives them (not normalized)
     */
    public static native String[] listVolumes();

    /**
     * Describes the mounted volumes, in the order of {@link #listVolumes}, with their total size
     * and the space an unprivileged user may still write. The volumes are counted, then
     * described: when one is unmounted in between, the last elements are null.
     *
     * @return one {@link VolumeInfo} per volume
     * @throws NoClassDefFoundError if the class loader of this class cannot find
     *     {@link VolumeInfo}
     */
    public static native VolumeInfo[] getAllVolumeInfos();

    // Symbolic links

    /**
     * Tells whether the path is itself a symbolic link (a final link is not followed).
     *
     * @param path the path to test
     * @return true for a symbolic link, also one whose target is missing; false for anything
     *     else and for a missing path
     * @throws NullPointerException if {@code path} is null
     */
    public static native boolean isSymbolicLink(String path);

    /**
     * Reads the target of a symbolic link as stored, a relative target relative, in Form C where
     * that spelling names the same item from the link's folder (or neither names anything).
     *
     * @param path the link
     * @return the target, its bytes read as UTF-8 (invalid bytes become U+FFFD); null when the
     *     path is not a link, is missing or cannot be read
     * @throws NullPointerException if {@code path} is null
     */
    public static native String getSymbolicLinkTarget(String path);

    /**
     * Makes a symbolic link. The target need not exist.
     *
     * @param linkPath where the new link goes
     * @param targetPath what the link holds
     * @throws IOException "Failed to create symbolic link." when the link cannot be made (for
     *     example, something exists at {@code linkPath} already, which is left as it was)
     * @throws NullPointerException if {@code linkPath} or {@code targetPath} is null
     */
    public static native void createSymbolicLink(String linkPath, String targetPath) throws IOException;

    /**
     * Removes a symbolic link; what it points at is not touched.
     *
     * @param path the link
     * @return true when the link was removed; false when the system refused to remove it
     * @throws IOException "The specified file is not a symbolic link." when the path is missing
     *     or is not a symbolic link
     * @throws NullPointerException if {@code path} is null
     */
    public static native boolean removeSymbolicLink(String path) throws IOException;

    // Bundle flag

    /**
     * Tells whether a folder carries the bundle flag among its Finder flags (kept in the extended
     * attribute {@code user.com.apple.FinderInfo}).
     *
     * @param path the folder; symbolic links are followed
     * @return true when the path is a folder with the flag; false otherwise, also for a file
     * @throws IOException "Failed to get the FSRef of the specified path." when the path does not
     *     exist, cannot be reached or cannot name a file; "Failed to get the finder info of the
     *     specified path." when its Finder information cannot be read (a folder the caller may not
     *     read, say)
     * @throws NullPointerException if {@code path} is null
     */
    public static native boolean hasBundleBit(String path) throws IOException;

    /**
     * Sets or clears a folder's bundle flag; anything but a folder is left as it is.
     *
     * @param path the folder; symbolic links are followed
     * @param on true to set the flag, false to clear it
     * @throws IOException "Failed to get the FSRef of the specified path." or "Failed to get the
     *     finder info of the specified path." as for {@link #hasBundleBit}; "Failed to set the
     *     bundle bit on the specified path." when the Finder information cannot be written (no
     *     permission, or a file system without user extended attributes)
     * @throws NullPointerException if {@code path} is null
     */
    public static native void setBundleBit(String path, boolean on) throws IOException;

    // Process identity

    /**
     * Names the groups of this process, each once: its effective group first, then its
     * supplementary groups in the order the system lists them; a group ID without a name in the
     * group database is skipped.
     *
     * @return the group names; null (not an empty array) when none of its groups has a name
     */
    public static native String[] getCurrentProcessGroups();

    /**
     * Sets the file-creation mask of the whole process and returns the previous one. The mask is
     * process-wide: it applies to every file and folder that any thread of the JVM creates
     * afterwards, through this library or the Java class library alike.
     *
     * @param mask the new mask; only its low 16 bits are used, of which the system keeps the
     *     permission bits (0777)
     * @return the previous mask, 0 to 65535
     */
    public static native int setUMask(int mask);

    /**
     * Tells whether some process was started under the given path: whether its argv[0] (its
     * short command name when its arguments cannot be read) equals the path, ignoring case and
     * the difference between composed and decomposed characters.
     *
     * @param path the executable's path
     * @return true when such a process runs; false when none does, or when {@code path} is null
     * @throws RuntimeException if {@code path} is empty
     */
    public static native boolean isAppRunning(String path);

    // Dock

    /**
     * Pins a file (as a rule an application) to the Dock: appends a tile to the "persistent-apps"
     * list of the Dock's preferences, {@code $HOME/Library/Preferences/com.apple.dock.plist},
     * which is rewritten atomically under a lock so that concurrent writers lose nothing.
     *
     * @param path the file to pin; a leading tilde is not expanded
     * @param name the label stored with the tile
     * @return true when the tile was added; false when the path is listed already, when there
     *     are no readable Dock preferences, when the write fails, or when an argument is null
     * @throws RuntimeException if {@code path} is empty
     */
    public static native boolean registerFileAsDockIcon(String path, String name);

    /**
     * Unpins a file from the Dock: removes every tile of "persistent-apps" that lists the path.
     *
     * @param path the pinned file
     * @return true when at least one tile was removed and the preferences were written; false
     *     when none lists the path, when there are no readable Dock preferences, when the write
     *     fails, or when {@code path} is null
     * @throws RuntimeException if {@code path} is empty
     */
    public static native boolean unregisterFileAsDockIcon(String path);

    // Alias files

    /**
     * Makes an alias file (a bookmark file pointing at the target) named {@code name} in a
     * folder. A leading tilde in either path is expanded. A name that is empty, "." or "..", or
     * holds "/" or U+0000 is refused: nothing is touched and one line is logged.
     *
     * @param name the alias file's name in the folder
     * @param targetPath the file or folder the alias points at; it must exist
     * @param folderPath the folder that receives the alias file
     * @return true when the alias file was written; false when it was not (the reason is
     *     logged), or when an argument is null
     */
    public static native boolean createShortcutItem(String name, String targetPath, String folderPath);

    /**
     * Removes the item named {@code name} from a folder. A leading tilde in the path is expanded;
     * names are refused as by {@link #createShortcutItem}.
     *
     * @param name the item's name in the folder
     * @param folderPath the folder
     * @return true when no item of that name is left (it was removed, or there was none); false
     *     when it could not be removed (the reason is logged), or when an argument is null
     */
    public static native boolean removeShortcutItem(String name, String folderPath);

    /**
     * Makes an alias file in the user's Desktop folder ({@link #getDesktopFolder}), as
     * {@link #createShortcutItem} does in any folder.
     *
     * @param name the alias file's name
     * @param targetPath the file or folder the alias points at
     * @return true when the alias file was written; false otherwise (the reason is logged), also
     *     when there is no Desktop folder or an argument is null
     */
    public static native boolean createDesktopItem(String name, String targetPath);

    /**
     * Removes an item from the user's Desktop folder, as {@link #removeShortcutItem} does in any
     * folder.
     *
     * @param name the item's name
     * @return true when no item of that name is left; false otherwise (the reason is logged),
     *     also when there is no Desktop folder or {@code name} is null
     */
    public static native boolean removeDesktopItem(String name);

    /**
     * Follows an alias file to the item it points at, without showing anything to the user and
     * without mounting a volume. A leading tilde is expanded. Nothing is logged.
     *
     * @param aliasPath the alias file
     * @return the path of the item pointed at; null when the file holds no alias, the alias does
     *     not resolve, or {@code aliasPath} is null
     */
    public static native String getShortcutPath(String aliasPath);

    // Standard folders and the folder chooser

    /**
     * Finds the user's Desktop folder: {@code XDG_DESKTOP_DIR} of the user's
     * {@code user-dirs.dirs}, by default {@code $HOME/Desktop}.
     *
     * @return the Desktop folder's path; null when none can be given (no home folder, or a path
     *     that is not UTF-8)
     */
    public static native String getDesktopFolder();

    /**
     * Finds the user's home folder: {@code $HOME} when it is set and absolute, else the home
     * folder of the user database's entry for this process's user.
     *
     * @return the home folder's path; null when there is none, or its path is not UTF-8
     */
    public static native String getHomeFolder();

    /**
     * Lets the user choose a folder in a modal dialog, and blocks the calling thread until the
     * dialog closes. The dialog is a GTK window shown by the helper program
     * {@code perivane-chooser}, which is found beside the loaded library. A null text does not
     * throw {@link NullPointerException}; that part of the dialog keeps its default text.
     *
     * @param title the dialog's window title
     * @param prompt the text of the button that confirms the choice
     * @param buttonTitle the text of the button that cancels
     * @return the chosen folder's path; null when the user cancels
     * @throws RuntimeException with a message that starts "Non-Java exception raised, not
     *     handled! (Original problem: " when no dialog can be shown: there is no display, the
     *     helper program is missing, or GTK is not installed
     */
    public static native String getFolder(String title, String prompt, String buttonTitle);

    // Permissions and owner

    /**
     * Reads the nine permission bits of a file or folder; a symbolic link is followed.
     *
     * @param path the file or folder
     * @return nine flags: owner read, write, execute, group read, write, execute, others read,
     *     write, execute; null when the file cannot be read (the reason is logged) or
     *     {@code path} is null
     * @throws RuntimeException if {@code path} is empty
     */
    public static native boolean[] getFileAttributes(String path);

    /**
     * Sets the nine permission bits of a file or folder; a symbolic link is followed.
     *
     * @param path the file or folder
     * @param ownerRead whether the owner may read
     * @param ownerWrite whether the owner may write
     * @param ownerExecute whether the owner may execute (or search a folder)
     * @param groupRead whether the group may read
     * @param groupWrite whether the group may write
     * @param groupExecute whether the group may execute
     * @param othersRead whether others may read
     * @param othersWrite whether others may write
     * @param othersExecute whether others may execute
     * @return true when the permissions were set; false when the system refused (the reason is
     *     logged) or {@code path} is null
     * @throws RuntimeException if {@code path} is empty
     */
    public static native boolean setFileAttributes(String path,
            boolean ownerRead, boolean ownerWrite, boolean ownerExecute,
            boolean groupRead, boolean groupWrite, boolean groupExecute,
            boolean othersRead, boolean othersWrite, boolean othersExecute);

    /**
     * Names the owner of a file or folder; a symbolic link is described itself, not followed.
     *
     * @param path the file, folder or link
     * @return the owner's account name (bytes that are not UTF-8 read as U+FFFD); null when the
     *     file cannot be read (the reason is logged), when the owner's ID has no account name,
     *     or when {@code path} is null
     * @throws RuntimeException if {@code path} is empty
     */
    public static native String getFileOwner(String path);
}
