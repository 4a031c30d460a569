package com.veltor.perivane.tour;

import static com.veltor.perivane.tour.Tour.section;
import static com.veltor.perivane.tour.Tour.show;

import com.veltor.perivane.Perivane;

/** Unicode normalization and the two path styles. */
final class TextTour {
    private TextTour() {}

    static void run() {
        section("Normalization Form C");
        show("normalize(\"Cafe\\u0301\")", Perivane.normalize("Cafe\u0301"));
        show("normalize(\"\\ufb01le\") (a ligature stays)", Perivane.normalize("\ufb01le"));
    }
}
