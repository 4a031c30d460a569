package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.Arrays;
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
    private static final String RAISED =
            "RuntimeException: Non-Java exception raised, not handled! (Original problem: ";
    private static final String NO_ANSWER = RAISED + "The folder chooser ended without an answer: it ";

    /**
     * A message as it crosses, in this machine's byte order: an Integer as four bytes, a Character
     * as one, a text as its length (all ones for null) and its UTF-16 units.
     */
    private static byte[] message(Object... parts) {
        ByteBuffer b = ByteBuffer.allocate(4096).order(ByteOrder.nativeOrder());
        for (Object p : parts) {
            if (p instanceof Integer i) b.putInt(i);
            else if (p instanceof Character c) b.put((byte) c.charValue());
            else if (p == null) b.putInt(-1);
            else {
                b.putInt(((String) p).length());
                ((String) p).chars().forEach(c -> b.putChar((char) c));
            }
        }
        return Arrays.copyOf(b.array(), b.position());
    }

    /** One call: the answer the program writes, then what its shell does; what the caller gets. */
    record Step(byte[] answer, String shell, String gives) {}

    @Test
    void requestsCarryTheTextsAndEveryEndingGivesAResultOrAnException(@TempDir Path dir) throws Exception {
        Files.copy(Path.of(System.getProperty("perivane.library.dir"), "libperivane.so"),
                dir.resolve("libperivane.so"));
        Path program = dir.resolve("perivane-chooser");
        Files.writeString(program, "#!/bin/sh\n"
                + "d=$HOP; n=$(ls \"$d\" | grep -c '^request')  # the calls before this one\n"
                + "cat <&3 >\"$d/request$n\"; echo \"$GSETTINGS_BACKEND $NO_AT_BRIDGE\" >\"$d/environment\"\n"
                + "[ -f \"$d/answer$n\" ] && cat \"$d/answer$n\" >&3\n"
                + ". \"$d/shell$n\"\n");
        program.toFile().setExecutable(true);
        List<Step> steps = List.of(
                new Step(message('R', "/tmp/a\nb/Cafe\u0301"), "", "\"/tmp/a\\u000ab/Caf\\u00e9\""),  // Form C
                new Step(message('R', ""), "", "null"),
                new Step(message('R', null), "", "null"),
                new Step(message('E', "No display here."), "exit 1", RAISED + "No display here.)"),
                new Step(null, "exit 3", NO_ANSWER + "exited with status 3.)"),
                new Step(null, "kill -9 $$", NO_ANSWER + "was ended by signal 9.)"),
                // A process the program started keeps the channel open after the program has gone.
                new Step(null, "sleep 60 & echo $! >\"$d/sleeper\"", NO_ANSWER + "exited with status 0.)"),
                new Step(Arrays.copyOf(message('R', "/a"), 6), "", NO_ANSWER + "exited with status 0.)"),  // cut short
                // Another program put in its place: the calls go on running the one checked at the start.
                new Step("nonsense".getBytes(), "mv \"$d/perivane-chooser\" \"$d/moved\"; printf '#!/bin/sh\\ntouch "
                        + "$d/planted\\n' >\"$d/perivane-chooser\"; chmod +x \"$d/perivane-chooser\"",
                        NO_ANSWER + "exited with status 0.)"),
                new Step(message('R', "/b"), "", "\"/b\""),
                // With its standard input and output closed, the host's channel may be descriptor 0 or 1.
                new Step(message('R', "/c"), "", "\"/c\""));
        List<String> expected = new ArrayList<>();
        for (int i = 0; i < steps.size(); i++) {
            if (steps.get(i).answer != null) Files.write(dir.resolve("answer" + i), steps.get(i).answer);
            if (steps.get(i).shell != null) Files.writeString(dir.resolve("shell" + i), steps.get(i).shell + "\n");
            if (i < steps.size() - 1) expected.add("call " + i + " -> " + steps.get(i).gives);
        }
        expected.add("done");
        Map<String, String> env = Map.of("HOP", dir.toString(), "GSETTINGS_BACKEND", "keyfile");
        try {
            ChildJvm.Result r = ChildJvm.start(dir.toString(), env, dir, ChooserChild.class.getName(), "texts",
                    String.valueOf(steps.size() - 1)).finish();
            assertEquals(expected, r.stdout().lines().toList(), r.stderr());
            assertFalse(Files.exists(dir.resolve("planted")));
            assertEquals("keyfile 1\n", Files.readString(dir.resolve("environment")));  // the user's settings, no bus
            Files.move(dir.resolve("moved"), program, StandardCopyOption.REPLACE_EXISTING);
            r = ChildJvm.start(List.of(), List.of("--add-opens=java.base/sun.nio.ch=ALL-UNNAMED"),
                    ChildJvm.testClassPath(), dir.toString(), env, dir, ChooserChild.class.getName(), "closed", "texts",
                    "1").finish();
            assertEquals(List.of("call 0 -> " + steps.get(steps.size() - 1).gives, "done"), r.stderr().lines()
                    .filter(l -> l.startsWith("call") || l.equals("done")).toList(), r.stderr());
            byte[] request = message(3, ChooserChild.TEXTS_TITLE, "", null);
            for (int i = 0; i < steps.size(); i++) {
                assertArrayEquals(request, Files.readAllBytes(dir.resolve("request" + i)), "request " + i);
            }
            // A program others may write is refused when the library is loaded.
            Files.setPosixFilePermissions(program, PosixFilePermissions.fromString("rwxrwxr-x"));
            assertEquals(List.of("call 0 -> " + RAISED + "The folder chooser program " + program
                    + " may be written by others than its owner.)", "done"), ChildJvm.start(dir.toString(), env, dir,
                    ChooserChild.class.getName(), "texts", "1").finish().stdout().lines().toList());
        } finally {
            Path sleeper = dir.resolve("sleeper");
            if (Files.exists(sleeper)) {
                ProcessHandle.of(Long.parseLong(Files.readString(sleeper).trim()))
                        .ifPresent(ProcessHandle::destroyForcibly);
            }
        }
    }
}
