package com.veltor.perivane.tour;

import static com.veltor.perivane.tour.Tour.section;
import static com.veltor.perivane.tour.Tour.show;

import com.veltor.perivane.Perivane;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;

/** Pinning to the Dock and unpinning, in the scratch HOME's own Dock domain. */
final class DockTour {
    private DockTour() {}

    static void run() throws IOException {
        section("Dock pinning");
        Path domain = Path.of(System.getenv("HOME"), "Library", "Preferences", "com.apple.dock.plist");
        Files.createDirectories(domain.getParent());
        Path sample = Path.of(System.getProperty("perivane.fixtures", "fixtures"), "dock", "com.apple.dock.plist");
        Files.copy(sample, domain, StandardCopyOption.REPLACE_EXISTING);
        domain.toFile().setWritable(true, true);
        System.out.println("  (starting from a Dock domain the Dock itself wrote: " + sample + ")");
        show("registerFileAsDockIcon(\"/Applications/Tour Guide.app\", \"Tour Guide\")",
                Perivane.registerFileAsDockIcon("/Applications/Tour Guide.app", "Tour Guide"));
        show("registerFileAsDockIcon(same path again) (listed already)",
                Perivane.registerFileAsDockIcon("/Applications/Tour Guide.app", "Tour Guide"));
        show("unregisterFileAsDockIcon(\"/Applications/Tour Guide.app\")",
                Perivane.unregisterFileAsDockIcon("/Applications/Tour Guide.app"));
        show("unregisterFileAsDockIcon(same path again) (nothing left)",
                Perivane.unregisterFileAsDockIcon("/Applications/Tour Guide.app"));
        show("unregisterFileAsDockIcon(\"/Applications/iTerm.app\") (an entry the Dock wrote)",
                Perivane.unregisterFileAsDockIcon("/Applications/iTerm.app"));
        show("registerFileAsDockIcon(null, \"x\")", Perivane.registerFileAsDockIcon(null, "x"));
    }
}
