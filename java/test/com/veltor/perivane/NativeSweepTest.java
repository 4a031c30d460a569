package com.veltor.perivane;

import static java.nio.file.LinkOption.NOFOLLOW_LINKS;
import static org.junit.jupiter.api.Assertions.assertEquals;

import java.lang.reflect.*;
import java.net.*;
import java.nio.*;
import java.nio.channels.ServerSocketChannel;
import java.nio.file.*;
import java.text.Normalizer;
import java.util.*;
import java.util.function.UnaryOperator;
import java.util.stream.*;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * Every native in every string position with hostile values, and the Dock and alias natives with
 * hostile files, in a child JVM under -Xcheck:jni that runs as nobody (so that a folder it may not
 * enter stays closed) without a display. Each call's result or exception must be the table's, a
 * call that writes is marked, a crash or a hang names the call it was in, and a native declared
 * but missing from the table fails the sweep.
 */
class NativeSweepTest {
    /** The hostile values, in the tables' column order; s is the scratch folder. */
    static final List<String> INPUTS = List.of("null", "empty", "nul", "high", "low", "1MiB", "16MiB", "path4k",
            "name256", "odd", "loop", "denied", "latin1", "proc", "sys", "fifo", "socket", "devnull");

    static String input(String label, String s) {
        return switch (label) {
            case "null" -> null;
            case "empty" -> "";
            case "nul" -> s + "/ln\u0000x";  // "ln" is a link: a path cut at U+0000 would find it
            case "high" -> s + "/ln\ud800";
            case "low" -> s + "/ln\udc00";
            case "1MiB" -> s + "/" + "e\u0301".repeat(1 << 19);
            case "16MiB" -> s + "/" + "e\u0301".repeat(1 << 23);
            case "path4k" -> s + ("/" + "d".repeat(250)).repeat(17);
            case "name256" -> s + "/" + "n".repeat(256);
            case "odd" -> s + "/new\nline%:x";
            case "loop" -> s + "/loop/x";  // "loop" is a link to itself
            case "denied" -> s + "-closed/x";  // root's folder, mode 0700
            case "latin1" -> s + "/latin1";  // a link to a file whose name is not UTF-8
            case "proc" -> "/proc/self/mem";
            case "sys" -> "/sys/kernel";
            case "fifo", "socket" -> s + "/" + label;
            default -> "/dev/null";
        };
    }

    interface Call {
        Object run(String x, String s) throws Exception;
    }

    /** The last component of a hostile path, for the positions that take a name. */
    static String name(String path) {
        return path == null ? null : path.substring(path.lastIndexOf('/') + 1);
    }

    record Row(String id, String parameter, Call call, String expected) {}

    static final boolean T = true, F = false;

    /**
     * One row per string position, the other arguments harmless; one outcome per input, the last
     * standing for the rest: T, F, N (null), V (returned), "+" when the call changed the scratch
     * folder (which is then put back), 9:644 (permissions), 'text' ($S the scratch folder, $H its
     * HFS path, $P the child's process ID), =nfc, =hfs or =unx (the input in Form C up to any
     * U+0000, as an HFS path inside $H, or read as an HFS path), npe, or one of EXCEPTIONS.
     */
    static final List<Row> ROWS = List.of(
            new Row("toHfsStylePath", "path", (x, s) -> Perivane.toHfsStylePath(x), "npe N N N N N N N =hfs =hfs =hfs =hfs N"
                    + " 'Filesystem\\u0020root:proc:$P:mem' 'Filesystem\\u0020root:sys:kernel' =hfs =hfs 'Filesystem\\u0020root:dev:null'"),
            new Row("toUnxStylePath", "path", (x, s) -> Perivane.toUnxStylePath(x), "npe N N N N =unx"),
            new Row("normalize", "text", (x, s) -> Perivane.normalize(x), "npe =nfc"),
            new Row("isSymbolicLink", "path", (x, s) -> Perivane.isSymbolicLink(x), "npe F F F F F F F F F F F T F"),
            new Row("getSymbolicLinkTarget", "path", (x, s) -> Perivane.getSymbolicLinkTarget(x), "npe N N N N N N N N N N N 'caf\\ufffd' N"),
            new Row("createSymbolicLink", "linkPath", (x, s) -> { Perivane.createSymbolicLink(x, "t"); return "V"; },
                    "npe link link link link link link link link V+ link"),
            new Row("createSymbolicLink", "targetPath", (x, s) -> { Perivane.createSymbolicLink(s + "/items/l", x); return "V"; },
                    "npe link link link link link link link V+"),
            new Row("hasBundleBit", "path", (x, s) -> Perivane.hasBundleBit(x), "npe ref ref ref ref ref ref ref ref ref ref ref F"),
            new Row("setBundleBit", "path", (x, s) -> { Perivane.setBundleBit(x, T); return "V"; },
                    "npe ref ref ref ref ref ref ref ref ref ref ref V V set V"),
            new Row("isAppRunning", "path", (x, s) -> Perivane.isAppRunning(x), "F empty F"),
            new Row("registerFileAsDockIcon", "path", (x, s) -> Perivane.registerFileAsDockIcon(x, "label"), "F empty F F F T+ F T+"),
            new Row("registerFileAsDockIcon", "name", (x, s) -> Perivane.registerFileAsDockIcon(s + "/A.app", x), "F T+ F F F T+ F T+"),
            new Row("unregisterFileAsDockIcon", "path", (x, s) -> Perivane.unregisterFileAsDockIcon(x), "F empty F"),
            new Row("createShortcutItem", "name", (x, s) -> Perivane.createShortcutItem(name(x), s + "/f", s + "/items"), "F F F F F F F T+ F T+"),
            new Row("createShortcutItem", "targetPath", (x, s) -> Perivane.createShortcutItem("a", x, s + "/items"), "F empty F F F F F F F F F F T+"),
            new Row("createShortcutItem", "folderPath", (x, s) -> Perivane.createShortcutItem("a", s + "/f", x), "F empty F"),
            new Row("removeShortcutItem", "name", (x, s) -> Perivane.removeShortcutItem(name(x), s + "/items"), "F F F F F F F T F T"),
            new Row("removeShortcutItem", "folderPath", (x, s) -> Perivane.removeShortcutItem("x", x), "F empty F F F F F T F T F F T"),
            new Row("createDesktopItem", "name", (x, s) -> Perivane.createDesktopItem(name(x), s + "/f"), "F F F F F F F T+ F T+"),
            new Row("createDesktopItem", "targetPath", (x, s) -> Perivane.createDesktopItem("a", x), "F empty F F F F F F F F F F T+"),
            new Row("removeDesktopItem", "name", (x, s) -> Perivane.removeDesktopItem(name(x)), "F F F F F F F T F T"),
            new Row("getShortcutPath", "aliasPath", (x, s) -> Perivane.getShortcutPath(x), "N empty N"),
            new Row("getFolder", "title", (x, s) -> Perivane.getFolder(x, "p", "c"), "display"),
            new Row("getFolder", "prompt", (x, s) -> Perivane.getFolder("t", x, "c"), "display"),
            new Row("getFolder", "buttonTitle", (x, s) -> Perivane.getFolder("t", "p", x), "display"),
            new Row("getFileAttributes", "path", (x, s) -> Perivane.getFileAttributes(x), "N empty N N N N N N N N N N 9:644 9:600 9:755 9:644 9:644 9:666"),
            new Row("setFileAttributes", "path", (x, s) -> Perivane.setFileAttributes(x, T, T, F, T, F, F, T, F, F), "F empty F F F F F F F F F F T F F T T F"),
            new Row("getFileOwner", "path", (x, s) -> Perivane.getFileOwner(x), "N empty N N N N N N N N N N 'nobody' 'nobody' 'root' 'nobody' 'nobody' 'root'"),
            new Row("removeSymbolicLink", "path", (x, s) -> Perivane.removeSymbolicLink(x), "npe no no no no no no no no no no no T+ no"),
            // Natives without a string parameter, called beside the others:
            new Row("listVolumes", "", (x, s) -> Perivane.listVolumes()[0].equals(Perivane.toHfsStylePath("/")), "T"),
            new Row("getAllVolumeInfos", "", (x, s) -> Perivane.getAllVolumeInfos()[0].getName().equals(Perivane.listVolumes()[0]), "T"),
            new Row("getCurrentProcessGroups", "", (x, s) -> Arrays.toString(Perivane.getCurrentProcessGroups()), "'[nogroup]'"),  // setpriv cleared the others
            new Row("setUMask", "", (x, s) -> Perivane.setUMask(Perivane.setUMask(0_077)) == 0_077, "T"),
            new Row("getHomeFolder", "", (x, s) -> Perivane.getHomeFolder(), "'$S/home'"),
            new Row("getDesktopFolder", "", (x, s) -> Perivane.getDesktopFolder(), "'$S/home/Desktop'"));

    static final String PLATFORM = "RuntimeException: Non-Java exception raised, not handled! (Original problem: ";
    static final Map<String, String> EXCEPTIONS = Map.of(
            "empty", PLATFORM + "*** -[NSFileManager fileSystemRepresentationWithPath:]: nil or empty path argument)",
            "display", PLATFORM + "The folder chooser cannot open a display.)",
            "ref", "IOException: Failed to get the FSRef of the specified path.",
            "set", "IOException: Failed to set the bundle bit on the specified path.",
            "link", "IOException: Failed to create symbolic link.",
            "no", "IOException: The specified file is not a symbolic link.");

    /**
     * Hostile files, made in s/hostile, each put in place of the Dock domain (of its lock for
     * "lock") with the answers of a pin, then an unpin; or in place of s/alias with the answers of
     * following it, then writing an alias over it. "others" are root's, the rest nobody's.
     */
    static final List<String> HOSTILE = List.of("dock-truncated F F", "dock-outside F F", "dock-loop F F", "dock-deep F F",
            "dock-50MiB F F", "dock-appsString F F", "dock-rootArray F F", "dock-oddEntries T+ T+", "dock-toPasswd F F",
            "dock-toOthers T+ T+", "dock-folder F F", "dock-fifo F F", "dock-readOnly F F", "dock-others F F",
            "dock-lockToPasswd F F", "dock-lockFifo F F", "alias-truncated N T+", "alias-outside N T+", "alias-loop N T+",
            "alias-deep N T+", "alias-50MiB N T+", "alias-wrongType N T+", "alias-toPasswd N T+", "alias-toAlias N T+",
            "alias-folder N F", "alias-fifo N T+", "alias-readOnly '$S/f' T+", "alias-others N T+", "alias-othersReadable '$S/f' T+");

    // ---- the child --------------------------------------------------------------------------

    /** One call's outcome, with "+" when it changed the scratch folder, which `restore` puts back. */
    static String probe(Path scratch, Call call, String x, String h, boolean restore) throws Exception {
        Map<Path, List<Object>> before = snapshot(scratch);
        Object result;
        try {
            result = call.run(x, scratch.toString());
        } catch (Throwable e) {
            result = e;
        }
        Map<Path, List<Object>> after = snapshot(scratch);
        if (after.equals(before)) return render(result, scratch.toString(), h);
        for (Path p : restore ? new TreeSet<>(after.keySet()).descendingSet() : Set.<Path>of()) {
            List<Object> was = before.get(p);
            if (was == null) Files.delete(p);
            else if (was.get(2) instanceof ByteBuffer bytes && !was.equals(after.get(p))) Files.write(p, bytes.array());
        }
        return render(result, scratch.toString(), h) + "+";
    }

    /** Prints "call input => outcome" for every call of the mode args[0] in scratch folder args[1]. */
    public static void main(String[] args) throws Exception {
        // As root the calls would change what they should be refused: /dev/null's mode, say.
        if (System.getProperty("user.name").equals("root")) throw new IllegalStateException("run as nobody");
        Path scratch = Path.of(args[1]), domain = scratch.resolve("home/Library/Preferences/com.apple.dock.plist");
        Path lock = domain.resolveSibling("com.apple.dock.plist.lock"), alias = scratch.resolve("alias");
        String s = args[1], h = Perivane.toHfsStylePath(s);
        for (String label : args[0].equals("inputs") ? INPUTS : List.<String>of()) {
            for (Row row : ROWS) {
                System.out.append(row.id + "[" + row.parameter + "] " + label + " => ").flush();  // a crash names the call
                System.out.println(probe(scratch, row.call, input(label, s), h, T));
            }
        }
        for (String line : args[0].equals("files") ? HOSTILE : List.<String>of()) {
            String label = line.substring(0, line.indexOf(' '));
            Path slot = label.startsWith("alias") ? alias : label.startsWith("dock-lock") ? lock : domain;
            Files.delete(slot);
            Files.move(scratch.resolve("hostile").resolve(label), slot);
            System.out.append(label).flush();
            for (Call c : label.startsWith("dock") ? List.<Call>of((x, t) -> Perivane.registerFileAsDockIcon(x, "x"), (x, t) -> Perivane.unregisterFileAsDockIcon(x))
                    : List.<Call>of((x, t) -> Perivane.getShortcutPath(t + "/alias"), (x, t) -> Perivane.createShortcutItem("alias", t + "/f", t))) {
                System.out.print(" " + probe(scratch, c, "/Applications/Hostile.app", h, F));
            }
            System.out.println();
            for (Path p : List.of(domain, lock, alias)) Files.deleteIfExists(p);  // a folder among them is empty
            Files.copy(scratch.resolve("dock.plist"), domain);
            Files.createFile(lock);
            Files.createFile(alias);
        }
    }

    static String render(Object r, String s, String h) {
        if (r == null) return "N";
        if (r instanceof Boolean b) return b ? "T" : "F";
        if (r instanceof Throwable e) return e.getClass().getSimpleName() + ": " + e.getMessage();
        if (r instanceof boolean[] f) {
            int mode = 0;
            for (boolean bit : f) mode = 2 * mode + (bit ? 1 : 0);
            return f.length + ":" + Integer.toOctalString(mode);
        }
        String t = r.equals("V") ? "V" : "'" + ((String) r).replace(h, "$H").replace(s, "$S")
                .replace(":" + ProcessHandle.current().pid() + ":", ":$P:") + "'";
        if (t.length() > 200) return "<" + t.length() + " units #" + Integer.toHexString(t.hashCode()) + ">";
        return t.chars().mapToObj(c -> c > 0x20 && c < 0x7f ? Character.toString(c) : String.format("\\u%04x", c))
                .collect(Collectors.joining());
    }

    /** Each entry under `root`, links not followed, with its mode, inode, and bytes (or size). */
    static Map<Path, List<Object>> snapshot(Path root) throws Exception {
        Map<Path, List<Object>> all = new TreeMap<>();
        try (Stream<Path> walk = Files.walk(root)) {
            for (Path p : walk.toList()) {
                Map<String, Object> a = Files.readAttributes(p, "unix:mode,ino,size", NOFOLLOW_LINKS);
                boolean small = Files.isRegularFile(p, NOFOLLOW_LINKS) && Files.isReadable(p) && (long) a.get("size") < (8 << 20);
                all.put(p, List.of(a.get("mode"), a.get("ino"), small ? ByteBuffer.wrap(Files.readAllBytes(p)) : a.get("size")));
            }
        }
        return all;
    }

    // ---- the tests --------------------------------------------------------------------------

    @TempDir
    Path dir;

    /** The scratch folder, nobody's, with what the inputs name and a Dock domain in its home. */
    String scratch() throws Exception {
        Path s = Files.createDirectory(dir.resolve("s"));
        try (ServerSocketChannel socket = ServerSocketChannel.open(StandardProtocolFamily.UNIX)) {
            socket.bind(UnixDomainSocketAddress.of(s.resolve("socket")));
        }
        Path dock = Path.of(System.getProperty("perivane.fixtures"), "dock", "com.apple.dock.plist");
        Files.copy(dock, Files.createDirectories(s.resolve("home/Library/Preferences")).resolve("com.apple.dock.plist"));
        Files.copy(dock, s.resolve("dock.plist"));
        Perivane.createShortcutItem("valid", Files.writeString(s.resolve("f"), "x").toString(), s.toString());
        FilePermissionsTest.run("bash", "-ec", "cd \"$1\"; mkdir items home/Desktop; ln -s f ln; ln -s loop loop; echo x > $'caf\\xe9'; ln -s $'caf\\xe9' latin1;"
                + " mkfifo fifo; touch home/Library/Preferences/com.apple.dock.plist.lock; chmod -R u=rw,go=r,a+X .;"
                + " chmod 755 ..; chown -R 65534:65534 .; mkdir -m 700 ../s-closed; touch ../s-closed/x", "sh", s.toString());
        return s.toString();
    }

    /** What the child printed, run as nobody without a display. */
    List<String> child(String mode, String s) throws Exception {
        Map<String, String> env = new HashMap<>(Map.of("HOME", s + "/home", "XDG_CONFIG_HOME", s + "/home/.config"));
        for (String unset : List.of("DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR")) env.put(unset, null);
        ChildJvm.Result r = ChildJvm.runAsNobody(env, NativeSweepTest.class.getName(), mode, s);
        assertEquals(0, r.exitCode(), () -> r.stderr().substring(0, Math.min(r.stderr().length(), 20_000)));
        return r.stdout().lines().toList();
    }

    @Test
    void everyNativeAnswersHostileInputInEveryStringPosition() throws Exception {
        Set<String> declared = new TreeSet<>(), swept = new TreeSet<>();
        for (Method m : Perivane.class.getDeclaredMethods()) {
            if (Modifier.isNative(m.getModifiers())) declared.add(m.getName());
        }
        for (Row row : ROWS) swept.add(row.id);
        assertEquals(declared, swept, "every declared native is swept");

        String s = scratch(), h = Perivane.toHfsStylePath(s);
        UnaryOperator<String> nfc = t -> Normalizer.normalize(t.substring(0, (t + "\0").indexOf(0)), Normalizer.Form.NFC);
        UnaryOperator<String> swap = t -> t.replace(':', '\0').replace('/', ':').replace('\0', '/');
        List<String> expected = new ArrayList<>();
        for (String label : INPUTS) {
            String x = input(label, s);
            for (Row row : ROWS) {
                String[] tokens = row.expected.split(" ");
                String token = tokens[Math.min(INPUTS.indexOf(label), tokens.length - 1)];
                expected.add(row.id + "[" + row.parameter + "] " + label + " => " + switch (token) {
                    case "npe" -> "NullPointerException: " + row.parameter;
                    case "=nfc" -> render(nfc.apply(x), s, h);
                    case "=hfs" -> render(h + swap.apply(nfc.apply(x.substring(s.length()))), s, h);
                    case "=unx" -> render("/" + swap.apply(nfc.apply(x)), s, h);
                    default -> EXCEPTIONS.getOrDefault(token, token);
                });
            }
        }
        assertEquals(String.join("\n", expected), String.join("\n", child("inputs", s)));
    }

    static byte[] patched(byte[] bytes, int at, int value, ByteOrder order) {
        ByteBuffer.wrap(bytes).order(order).putInt(at, value);
        return bytes;
    }

    @Test
    void hostileDockDomainsAndAliasFilesAreRefusedAndLeftAsTheyWere() throws Exception {
        String s = scratch();
        Path h = Files.createDirectory(Path.of(s, "hostile")), others = Files.copy(Path.of(s, "dock.plist"), Path.of(s + "-others"));
        byte[] dock = Files.readAllBytes(Path.of(s, "dock.plist")), alias = Files.readAllBytes(Path.of(s, "valid"));
        ByteBuffer b = ByteBuffer.wrap(alias).order(ByteOrder.LITTLE_ENDIAN);
        int area = b.getInt(0x10), table = area + b.getInt(area), path = area;  // the first table, the path's item
        for (int e = table + 20; e < table + 20 + 12 * b.getInt(table + 16); e += 12) path += b.getInt(e) == 0x1004 ? b.getInt(e + 4) : 0;
        ByteBuffer deep = ByteBuffer.allocate(alias.length + 12 * 100_000).order(ByteOrder.LITTLE_ENDIAN).put(alias);
        for (int i = 1; i <= 100_000; i++) deep.putInt(4).putInt(0x601).putInt(alias.length - area + 12 * i);  // an array in each
        String plist = "<plist><dict><key>persistent-apps</key>%s</dict></plist>";
        Map<String, byte[]> made = new HashMap<>(Map.of("dock-truncated", Arrays.copyOf(dock, dock.length / 2),
                "dock-outside", patched(dock.clone(), dock.length - 4, 0x7fff_ffff, ByteOrder.BIG_ENDIAN),  // the offset table
                "dock-loop", HexFormat.of().parseHex("62706c6973743030" + "d10102" + "5f100f70657273697374656e742d61707073" + "a102"
                        + "080b1d" + "0".repeat(12) + "0101" + "0".repeat(15) + "3" + "0".repeat(30) + "1f"),  // the array holds itself
                "dock-deep", plist.formatted("<array>".repeat(100_000) + "</array>".repeat(100_000)).getBytes(),
                "dock-50MiB", Arrays.copyOf(dock, 50 << 20), "dock-appsString", plist.formatted("<string>x</string>").getBytes(),
                "dock-rootArray", "<plist><array/></plist>".getBytes(), "dock-oddEntries", plist.formatted("<array><string>x</string>"
                        + "<integer>1</integer><dict><key>tile-data</key><string>t</string></dict></array>").getBytes(),
                "dock-readOnly", dock, "dock-others", dock));
        made.putAll(Map.of("alias-truncated", Arrays.copyOf(alias, alias.length - 40),
                "alias-outside", patched(alias.clone(), area, 0x7fff_fff0, ByteOrder.LITTLE_ENDIAN),  // the first table
                "alias-loop", patched(alias.clone(), table + 12, table - area, ByteOrder.LITTLE_ENDIAN),  // the next table: itself
                "alias-deep", patched(patched(deep.array(), 0x18, deep.capacity() - area, ByteOrder.LITTLE_ENDIAN), path + 8,
                        alias.length - area, ByteOrder.LITTLE_ENDIAN),  // the path's first name: arrays 100,000 deep
                "alias-50MiB", Arrays.copyOf(alias, 50 << 20), "alias-wrongType", patched(alias.clone(), path + 4, 0x303, ByteOrder.LITTLE_ENDIAN),
                "alias-readOnly", alias, "alias-others", alias, "alias-othersReadable", alias));
        for (Map.Entry<String, byte[]> e : made.entrySet()) Files.write(h.resolve(e.getKey()), e.getValue());
        FilePermissionsTest.run("bash", "-ec", "cd \"$1\"; mkfifo dock-fifo dock-lockFifo alias-fifo; mkdir dock-folder alias-folder; ln -s \"$2\" dock-toOthers; ln -s valid alias-toAlias;"
                + " for l in dock-toPasswd dock-lockToPasswd alias-toPasswd; do ln -s /etc/passwd $l; done; chmod 444 *-readOnly;"
                + " chown -R 65534:65534 .; chown 0:0 *-others*; chmod 600 alias-others; touch ../alias", "sh", h.toString(), others.toString());
        Map<Path, List<Object>> before = snapshot(Path.of("/etc/passwd"));
        before.putAll(snapshot(others));
        assertEquals(String.join("\n", HOSTILE), String.join("\n", child("files", s)));
        Map<Path, List<Object>> after = snapshot(Path.of("/etc/passwd"));
        after.putAll(snapshot(others));
        assertEquals(before, after, "/etc/passwd and root's file behind the link are as they were");
    }
}
