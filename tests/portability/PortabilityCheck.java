package com.veltor.perivane.check;

import com.veltor.perivane.Perivane;
import com.veltor.perivane.VolumeInfo;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;
import java.util.Objects;

/**
 * Calls every native but the dialog, against perivane.jar alone, and checks the answers; then the
 * dialog without a display, whose exception comes from the chooser program (so it started).
 * Arguments: a scratch folder and the Dock domain to pin in. Prints each failure and a count.
 */
public final class PortabilityCheck {
    private static int passed, failed;

    private static void expect(String what, Object expected, Object actual) {
        if (Objects.deepEquals(expected, actual)) { passed++; return; }
        failed++;
        System.out.println("FAILED " + what + ": expected " + Arrays.deepToString(new Object[] {expected})
                + ", got " + Arrays.deepToString(new Object[] {actual}));
    }

    public static void main(String[] args) throws Exception {
        Path dir = Path.of(args[0]), home = Path.of(System.getenv("HOME"));
        String file = Files.writeString(dir.resolve("file"), "x").toString(), user = System.getProperty("user.name");
        expect("home", home.toString(), Perivane.getHomeFolder());
        expect("Desktop", home + "/Desktop", Perivane.getDesktopFolder());
        expect("normalize", "\u00e9t\u00e9", Perivane.normalize("e\u0301te\u0301"));
        String[] names = Perivane.listVolumes();
        VolumeInfo[] volumes = Perivane.getAllVolumeInfos();
        expect("volume names", List.of(names), Arrays.stream(volumes).map(VolumeInfo::getName).toList());
        expect("root volume's sizes", true, volumes[0].getTotalBytes() > 0 && volumes[0].getFreeBytes() <= volumes[0].getTotalBytes());
        expect("HFS path", names[0] + ":usr:bin", Perivane.toHfsStylePath("/usr/bin"));
        expect("POSIX path", "/usr/bin", Perivane.toUnxStylePath(names[0] + ":usr:bin"));

        String link = dir + "/link";
        Perivane.createSymbolicLink(link, "target-\u00e9");
        expect("link", List.of(true, "target-\u00e9"), List.of(Perivane.isSymbolicLink(link), Perivane.getSymbolicLinkTarget(link)));
        expect("link removed", List.of(true, false), List.of(Perivane.removeSymbolicLink(link), Perivane.isSymbolicLink(link)));
        String bundle = Files.createDirectory(dir.resolve("Bundle.app")).toString();
        boolean before = Perivane.hasBundleBit(bundle);
        Perivane.setBundleBit(bundle, true);
        expect("bundle flag", List.of(false, true), List.of(before, Perivane.hasBundleBit(bundle)));

        expect("set permissions", true, Perivane.setFileAttributes(file, true, true, false, true, false, false, false, false, true));
        expect("permissions", new boolean[] {true, true, false, true, false, false, false, false, true}, Perivane.getFileAttributes(file));
        expect("owner", user, Perivane.getFileOwner(file));
        expect("groups hold the primary group", true, List.of(Perivane.getCurrentProcessGroups()).contains(
                Files.getAttribute(Path.of(file), "posix:group").toString()));
        int mask = Perivane.setUMask(027);
        expect("umask", 027, Perivane.setUMask(mask));

        // A program of a name no other process has, asked for in another case and form.
        Path program = Files.copy(Path.of("/bin/sleep"), dir.resolve("Sl\u00e9ep"));
        Process sleeping = new ProcessBuilder(program.toString(), "60").start();
        boolean running = Perivane.isAppRunning(dir + "/SLE\u0301EP");
        sleeping.destroyForcibly().waitFor();
        expect("running application", List.of(true, false), List.of(running, Perivane.isAppRunning(program.toString())));

        Path domain = home.resolve("Library/Preferences/com.apple.dock.plist");
        Files.createDirectories(domain.getParent());
        Files.copy(Path.of(args[1]), domain);
        boolean pinned = Perivane.registerFileAsDockIcon(file, "File"), again = Perivane.registerFileAsDockIcon(file, "File");
        boolean stored = new String(Files.readAllBytes(domain), StandardCharsets.ISO_8859_1).contains(file);
        expect("Dock pin, read back", List.of(true, false, true), List.of(pinned, again, stored));
        expect("Dock unpin", List.of(true, false), List.of(Perivane.unregisterFileAsDockIcon(file), Perivane.unregisterFileAsDockIcon(file)));

        expect("alias made", true, Perivane.createShortcutItem("Alias", file, dir.toString()));
        expect("alias resolved", file, Perivane.getShortcutPath(dir + "/Alias"));
        expect("alias removed", List.of(true, false), List.of(Perivane.removeShortcutItem("Alias", dir.toString()), Files.exists(dir.resolve("Alias"))));
        Files.createDirectories(home.resolve("Desktop"));
        expect("Desktop alias", List.of(true, file, true), List.of(Perivane.createDesktopItem("D", file),
                Perivane.getShortcutPath(home + "/Desktop/D"), Perivane.removeDesktopItem("D")));

        String headless = null;
        try { Perivane.getFolder(null, null, null); } catch (RuntimeException e) { headless = e.getMessage(); }
        expect("dialog without a display", true, headless != null && headless.contains("The folder chooser cannot open a display."));
        System.out.println(passed + " passed, " + failed + " failed");
        System.exit(failed == 0 ? 0 : 1);
    }
}
