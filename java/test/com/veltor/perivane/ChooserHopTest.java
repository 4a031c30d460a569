package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.ByteArrayOutputStream;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * The library's side of the hop to the chooser program, against a shell script standing in for
 * the program beside a copy of the library: what the request carries, and what each answer, or
 * each way of ending without one, gives the caller. Needs no display.
 */
class ChooserHopTest {
    private static final String EXCEPTION = "RuntimeException: Non-Java exception raised, not handled! (Original problem: ";
    private static final String NO_ANSWER = EXCEPTION + "The folder chooser ended without an answer: it ";

    @TempDir
    Path dir;

    /** A text as it crosses: its length (or all ones for null), then its UTF-16 units, in this machine's order. */
    private static void text(ByteArrayOutputStream out, String s) {
        ByteBuffer b = ByteBuffer.allocate(4 + 2 * (s == null ? 0 : s.length())).order(ByteOrder.nativeOrder());
        b.putInt(s == null ? -1 : s.length());
        if (s != null) s.chars().forEach(c -> b.putChar((char) c));
        out.writeBytes(b.array());
    }

    private static byte[] answer(char kind, String s) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        out.write(kind);
        text(out, s);
        return out.toByteArray();
    }

    @Test
    void requestsCarryTheTextsAndEveryEndingGivesAResultOrAnException() throws Exception {
        Files.copy(Path.of(System.getProperty("perivane.library.dir"), "libperivane.so"), dir.resolve("libperivane.so"));
        Path program = dir.resolve("perivane-chooser");
        Files.writeString(program, "#!/bin/sh\n"
                + "# Keeps each request and plays the step written for the call (n: the calls before it).\n"
                + "d=$(dirname \"$0\"); n=$(ls \"$d\" | grep -c '^request')\n"
                + "cat <&3 >\"$d/request$n\"\n"
                + ". \"$d/step$n\"\n");
        program.toFile().setExecutable(true);
        List<String[]> steps = List.of(
                new String[] {"R", "/tmp/a\nb/Cafe\u0301", "\"/tmp/a\\u000ab/Caf\\u00e9\""},  // Form C, line break kept
                new String[] {"R", "", "null"},
                new String[] {"R", null, "null"},
                new String[] {"E", "No display here.", EXCEPTION + "No display here.)"},
                new String[] {"exit 3", NO_ANSWER + "exited with status 3.)"},
                new String[] {"kill -9 $$", NO_ANSWER + "was ended by signal 9.)"},
                // A process the program started keeps the channel open after the program has gone.
                new String[] {"sleep 60 & echo $! >\"$d/sleeper\"", NO_ANSWER + "exited with status 0.)"},
                new String[] {"echo nonsense >&3; rm \"$0\"", NO_ANSWER + "exited with status 0.)"},
                new String[] {null, EXCEPTION + "The folder chooser program " + program
                        + " cannot be started: No such file or directory)"});
        List<String> expected = new ArrayList<>();
        for (int i = 0; i < steps.size(); i++) {
            String[] s = steps.get(i);
            if (s.length == 3) {
                Files.write(dir.resolve("answer" + i), answer(s[0].charAt(0), s[1]));
                Files.writeString(dir.resolve("step" + i), "cat \"$d/answer" + i + "\" >&3\n");
            } else if (s[0] != null) {
                Files.writeString(dir.resolve("step" + i), s[0] + "\n");
            }
            expected.add("call " + i + " -> " + s[s.length - 1]);
        }
        expected.add("done");

        try {
            ChildJvm.Result r = ChildJvm.start(dir.toString(), Map.of(), dir, ChooserChild.class.getName(), "texts",
                    String.valueOf(steps.size())).finish();
            assertEquals(expected, r.stdout().lines().toList(), r.stderr());
            ByteArrayOutputStream request = new ByteArrayOutputStream();
            request.writeBytes(ByteBuffer.allocate(4).order(ByteOrder.nativeOrder()).putInt(3).array());
            text(request, ChooserChild.TEXTS_TITLE);
            text(request, "");
            text(request, null);
            for (int i = 0; i < steps.size() - 1; i++) {
                assertArrayEquals(request.toByteArray(), Files.readAllBytes(dir.resolve("request" + i)), "request " + i);
            }
        } finally {
            Path sleeper = dir.resolve("sleeper");
            if (Files.exists(sleeper)) {
                ProcessHandle.of(Long.parseLong(Files.readString(sleeper).trim())).ifPresent(ProcessHandle::destroyForcibly);
            }
        }
    }
}
