package com.veltor.perivane.tour;

import static com.veltor.perivane.tour.Tour.section;
import static com.veltor.perivane.tour.Tour.show;

import com.veltor.perivane.Perivane;
import java.util.List;

/**
 * The folder chooser. The dialog is shown only when there is a display and the tour was run with
 * --chooser; without a display the call shows what a headless caller gets.
 */
final class ChooserTour {
    private ChooserTour() {}

    private static boolean set(String variable) {
        String value = System.getenv(variable);
        return value != null && !value.isEmpty();
    }

    static void run(String[] args) {
        section("Folder chooser");
        boolean display = set("DISPLAY") || set("WAYLAND_DISPLAY");
        if (display && !List.of(args).contains("--chooser")) {
            System.out.println("  (there is a display: run the tour with --chooser to see the dialog)");
            return;
        }
        System.out.println(display ? "  (choose a folder, or cancel)" : "  (no display here, so no dialog)");
        String call = "getFolder(\"Pick a folder\", \"Choose\", \"Not now\")";
        try {
            show(call, Perivane.getFolder("Pick a folder", "Choose", "Not now"));
        } catch (RuntimeException e) {
            show(call, e.getClass().getName() + ": " + e.getMessage());
        }
    }
}
