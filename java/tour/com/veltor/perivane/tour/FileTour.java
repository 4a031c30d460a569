package com.veltor.perivane.tour;

import static com.veltor.perivane.tour.Tour.section;
import static com.veltor.perivane.tour.Tour.show;

import com.veltor.perivane.Perivane;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;

/** Symbolic links, the bundle flag, permissions and owner, groups and the umask, in HOME. */
final class FileTour {
    private FileTour() {}

    static void run() throws IOException {
        Path home = Path.of(System.getProperty("user.home"));
        String envHome = System.getenv("HOME");
        if (envHome != null) home = Path.of(envHome);
        Path dir = Files.createDirectories(home.resolve("perivane-file-tour"));

        section("Symbolic links");
        Path target = Files.writeString(dir.resolve("notes.txt"), "hello");
        String link = dir.resolve("notes-\ud83d\udd17").toString();
        Files.deleteIfExists(Path.of(link));
        Perivane.createSymbolicLink(link, "notes.txt");
        show("createSymbolicLink(\"" + link + "\", \"notes.txt\")", "done");
        show("isSymbolicLink(link)", Perivane.isSymbolicLink(link));
        show("getSymbolicLinkTarget(link)", Perivane.getSymbolicLinkTarget(link));
        show("isSymbolicLink(target)", Perivane.isSymbolicLink(target.toString()));
        try {
            Perivane.createSymbolicLink(link, "elsewhere");
        } catch (IOException e) {
            show("createSymbolicLink over an existing name", "IOException: " + e.getMessage());
        }
        show("removeSymbolicLink(link)", Perivane.removeSymbolicLink(link));
        try {
            Perivane.removeSymbolicLink(target.toString());
        } catch (IOException e) {
            show("removeSymbolicLink(a regular file)", "IOException: " + e.getMessage());
        }

        section("Bundle flag");
        String bundle = Files.createDirectories(dir.resolve("Example.app")).toString();
        try {
            show("hasBundleBit(Example.app)", Perivane.hasBundleBit(bundle));
            Perivane.setBundleBit(bundle, true);
            show("after setBundleBit(Example.app, true)", Perivane.hasBundleBit(bundle));
            Perivane.setBundleBit(bundle, false);
            show("after setBundleBit(Example.app, false)", Perivane.hasBundleBit(bundle));
            show("hasBundleBit(notes.txt), a file", Perivane.hasBundleBit(target.toString()));
            Perivane.hasBundleBit(dir.resolve("missing").toString());
        } catch (IOException e) {
            show("hasBundleBit(missing)", "IOException: " + e.getMessage());
        }

        section("Permissions and owner");
        String file = target.toString();
        show("setFileAttributes(notes.txt, rwxr-xr--)",
                Perivane.setFileAttributes(file, true, true, true, true, false, true, true, false, false));
        show("getFileAttributes(notes.txt)", Perivane.getFileAttributes(file));
        show("getFileOwner(notes.txt)", Perivane.getFileOwner(file));
        System.out.println("  (a missing file logs the platform's sentence on standard error:)");
        System.out.flush();
        show("getFileAttributes(missing)", Perivane.getFileAttributes(dir.resolve("missing").toString()));

        section("Groups and file-creation mask");
        show("getCurrentProcessGroups()", Perivane.getCurrentProcessGroups());
        int previous = Perivane.setUMask(077);
        show("setUMask(077) returned", Integer.toOctalString(previous));
        show("setUMask(previous) returned", Integer.toOctalString(Perivane.setUMask(previous)));
    }
}
