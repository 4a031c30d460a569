package com.veltor.perivane.tour;

import static com.veltor.perivane.tour.Tour.section;
import static com.veltor.perivane.tour.Tour.show;

import com.veltor.perivane.Perivane;
import com.veltor.perivane.VolumeInfo;
import java.nio.file.Files;
import java.nio.file.Path;

/** Unicode normalization, the two path styles, and the mounted volumes. */
final class TextTour {
    private TextTour() {}

    static void run() throws Exception {
        section("Normalization Form C");
        show("normalize(\"Cafe\\u0301\")", Perivane.normalize("Cafe\u0301"));
        show("normalize(\"\\ufb01le\") (a ligature stays)", Perivane.normalize("\ufb01le"));
        show("normalize(\"\\u1112\\u1161\\u11ab\") (jamo compose)", Perivane.normalize("\u1112\u1161\u11ab"));

        section("Volumes");
        for (VolumeInfo v : Perivane.getAllVolumeInfos()) {
            System.out.printf("  %-24s total %,20d bytes   free %,20d bytes%n", v.getName(), v.getTotalBytes(), v.getFreeBytes());
        }
        show("listVolumes()", Perivane.listVolumes());

        section("Path styles");
        Path home = Path.of(System.getProperty("user.home"));
        String homeEnv = System.getenv("HOME");
        if (homeEnv != null) home = Path.of(homeEnv);
        Path folder = Files.createDirectories(home.resolve("Tour Folder").resolve("Re\u0301sume\u0301s:2024"));
        for (String p : new String[] {"/", "/usr/bin", folder.toString(), folder + "/not yet/there", "relative/path"}) {
            String hfs = Perivane.toHfsStylePath(p);
            show("toHfsStylePath(\"" + p + "\")", hfs);
            if (hfs != null) show("  toUnxStylePath(that)", Perivane.toUnxStylePath(hfs));
        }
        show("toUnxStylePath(\"NoSuchVolume:a:b\")", Perivane.toUnxStylePath("NoSuchVolume:a:b"));
        show("toHfsStylePath(\"\") (no such path)", Perivane.toHfsStylePath(""));
    }
}
