package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.text.Normalizer;
import org.junit.jupiter.api.Test;

class NormalizeTest {
    @Test
    void composesCanonicallyButKeepsCompatibilityCharacters() {
        assertEquals("", Perivane.normalize(""));
        assertEquals("\u00e9", Perivane.normalize("e\u0301"));
        assertEquals("caf\u00e9", Perivane.normalize("caf\u00e9"));
        assertEquals("\ufb01", Perivane.normalize("\ufb01"), "a compatibility ligature is not decomposed");
        assertEquals("\u2460\u00b2", Perivane.normalize("\u2460\u00b2"));
        // Singleton decompositions never come back: Angstrom and Ohm signs become letters.
        assertEquals("\u00c5\u03a9", Perivane.normalize("\u212b\u2126"));
        // Conjoining jamo compose into a Hangul syllable.
        assertEquals("\ud55c", Perivane.normalize("\u1112\u1161\u11ab"));
        // Marks in non-canonical order are reordered, then composed where they can be.
        assertEquals("\u1ea1\u0301", Perivane.normalize("a\u0301\u0323"));
        // Cut at the first NUL; surrogates kept, paired or not.
        assertEquals("ab", Perivane.normalize("ab\u0000e\u0301"));
        assertEquals("", Perivane.normalize("\u0000abc"));
        assertEquals("\ud83d\ude00", Perivane.normalize("\ud83d\ude00"));
        assertEquals("a\ud800\u00e9", Perivane.normalize("a\ud800e\u0301"));
    }

    @Test
    void agreesWithTheJdkOnMixedText() {
        StringBuilder sb = new StringBuilder();
        for (int i = 0; i < 2000; i++) {
            sb.append("Cafe\u0301 \u1112\u1161\u11ab gro\u00df \ud83d\ude00 A\u030a ");
        }
        String text = sb.toString();
        assertEquals(Normalizer.normalize(text, Normalizer.Form.NFC), Perivane.normalize(text));
    }
}
