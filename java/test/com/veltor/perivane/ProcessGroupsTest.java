package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class ProcessGroupsTest {
    /** A group ID that the group database has no entry for. */
    static final String NAMELESS = "4242424";

    /** The groups and the kernel's list of IDs, as a child JVM started with {@code groupOptions} sees them. */
    static Map<String, String> childGroups(String... groupOptions) throws Exception {
        List<String> prefix = new ArrayList<>(List.of("setpriv"));
        prefix.addAll(List.of(groupOptions));
        prefix.add("--");
        ChildJvm.Result r = ChildJvm.run(prefix, ChildJvm.testClassPath(), Map.of(),
                "com.veltor.perivane.FileChild", "groups");
        assertEquals(0, r.exitCode(), r.stderr());
        assertEquals("", r.stderr());
        return FilePermissionsTest.lines(r.stdout());
    }

    static String groupName(String gid) throws Exception {
        Process p = new ProcessBuilder("getent", "group", gid).start();
        String out = new String(p.getInputStream().readAllBytes()).trim();
        return p.waitFor() == 0 ? out.substring(0, out.indexOf(':')) : null;
    }

    @Test
    void namesFollowTheSystemsOrderWithDuplicatesKeptAndNamelessIdsSkipped() throws Exception {
        assertEquals(null, groupName(NAMELESS), "the test needs a group ID without a name");
        Map<String, String> g = childGroups("--groups", "100," + NAMELESS + ",0,0");
        // The kernel keeps the set sorted; the names must come in its order, one per named ID.
        assertEquals("0 0 100 " + NAMELESS, g.get("kernel"));
        assertEquals("[root, root, " + groupName("100") + "]", g.get("groups"));
    }

    @Test
    void noNamesAtAllGiveNullWithNothingPending() throws Exception {
        assertEquals("null", childGroups("--groups", NAMELESS).get("groups"));
        Map<String, String> none = childGroups("--clear-groups");
        assertEquals("", none.get("kernel"));
        assertEquals("null", none.get("groups"));
    }

    @Test
    void thisProcessGetsOneNamePerNamedGroup() throws Exception {
        String[] here = Perivane.getCurrentProcessGroups();
        String kernel = Files.readString(Path.of("/proc/self/status")).lines()
                .filter(l -> l.startsWith("Groups:")).findFirst().orElseThrow().substring(7).trim();
        List<String> expected = new ArrayList<>();
        for (String gid : kernel.isEmpty() ? new String[0] : kernel.split("\\s+")) {
            String name = groupName(gid);
            if (name != null) expected.add(name);
        }
        if (expected.isEmpty()) {
            assertEquals(null, here);
        } else {
            assertNotNull(here);
            assertArrayEquals(expected.toArray(), here);
        }
    }

    @Test
    void umaskCallsReturnTheMaskTheyReplace(@TempDir Path dir) throws IOException {
        int original = Perivane.setUMask(022);
        try {
            assertEquals(022, Perivane.setUMask(077));
            Path file = Files.createFile(dir.resolve("private"));
            assertEquals(0600, (Integer) Files.getAttribute(file, "unix:mode", LinkOption.NOFOLLOW_LINKS) & 0777,
                    "files are created under the new mask");
            // Only the low 16 bits are passed on; the system keeps the nine permission bits.
            assertEquals(077, Perivane.setUMask(0x7_0000 | 027));
            assertEquals(027, Perivane.setUMask(0xFFFF));
            assertEquals(0777, Perivane.setUMask(-1));
            assertEquals(0777, Perivane.setUMask(0));
            assertEquals(0, Perivane.setUMask(022));
        } finally {
            Perivane.setUMask(original);
        }
    }
}
