package com.veltor.perivane.tour;

import static com.veltor.perivane.tour.Tour.section;
import static com.veltor.perivane.tour.Tour.show;

import com.veltor.perivane.Perivane;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;

/** Home and Desktop folders, and alias files in HOME and on the Desktop. */
final class AliasTour {
    private AliasTour() {}

    static void run() throws IOException {
        section("Home and Desktop folders");
        String home = Perivane.getHomeFolder();
        show("getHomeFolder()", home);
        show("getDesktopFolder()", Perivane.getDesktopFolder());

        section("Alias files");
        Path dir = Files.createDirectories(Path.of(home, "perivane-alias-tour"));
        Path target = Files.writeString(dir.resolve("report.txt"), "quarterly figures");
        String folder = dir.toString();
        show("createShortcutItem(\"Report alias\", \"" + target + "\", \"" + folder + "\")",
                Perivane.createShortcutItem("Report alias", target.toString(), folder));
        byte[] head = Files.readAllBytes(dir.resolve("Report alias"));
        show("  the file begins with", new String(head, 0, 4) + " ... " + new String(head, 8, 4) + ", "
                + head.length + " bytes");
        show("getShortcutPath(\"" + dir.resolve("Report alias") + "\")",
                Perivane.getShortcutPath(dir.resolve("Report alias").toString()));
        show("createShortcutItem(\"Alias of alias\", the alias, ~/perivane-alias-tour)",
                Perivane.createShortcutItem("Alias of alias", dir.resolve("Report alias").toString(), "~/perivane-alias-tour"));
        show("getShortcutPath(\"~/perivane-alias-tour/Alias of alias\") (one level)",
                Perivane.getShortcutPath("~/perivane-alias-tour/Alias of alias"));
        show("getShortcutPath(the plain text file)", Perivane.getShortcutPath(target.toString()));
        Path finder = Path.of(System.getProperty("perivane.fixtures", "fixtures"), "alias", "removable.alias");
        show("getShortcutPath(a Finder alias of a USB stick that is not here)", Perivane.getShortcutPath(finder.toString()));
        System.out.println("  (each refusal below also writes one log line to standard error)");
        show("createShortcutItem(\"../escape\", ...) (a name is one component)",
                Perivane.createShortcutItem("../escape", target.toString(), folder));
        show("createShortcutItem(\"x\", a missing target, ...)",
                Perivane.createShortcutItem("x", dir.resolve("missing").toString(), folder));
        show("removeShortcutItem(\"Alias of alias\", folder)", Perivane.removeShortcutItem("Alias of alias", folder));
        show("removeShortcutItem(\"Report alias\", folder)", Perivane.removeShortcutItem("Report alias", folder));
        show("removeShortcutItem(\"Report alias\", folder) (nothing left: still true)",
                Perivane.removeShortcutItem("Report alias", folder));

        section("Desktop items");
        Path desktop = Path.of(Perivane.getDesktopFolder());
        show("createDesktopItem(\"Report\", target) (no Desktop folder yet)",
                Perivane.createDesktopItem("Report", target.toString()));
        Files.createDirectories(desktop);
        show("createDesktopItem(\"Report\", target)", Perivane.createDesktopItem("Report", target.toString()));
        show("getShortcutPath(Desktop/Report)", Perivane.getShortcutPath(desktop.resolve("Report").toString()));
        show("removeDesktopItem(\"Report\")", Perivane.removeDesktopItem("Report"));
    }
}
