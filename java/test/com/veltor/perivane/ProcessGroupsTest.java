package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.*;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class ProcessGroupsTest {
    /** A group ID that the group database has no entry for. */
    static final String NAMELESS = "4242424";

    static String groupName(String gid) throws Exception {
        Process p = new ProcessBuilder("getent", "group", gid).start();
        String out = new String(p.getInputStream().readAllBytes()).trim();
        return p.waitFor() == 0 ? out.substring(0, out.indexOf(':')) : null;
    }

    @Test
    void namesFollowTheSystemsOrderWithDuplicatesKeptAndNamelessIdsSkipped() throws Exception {
        assertEquals(null, groupName(NAMELESS), "the test needs a group ID without a name");
        // setpriv option -> the kernel's sorted list of IDs and the names a child JVM reports
        String[][] cases = {
            {"--groups=100," + NAMELESS + ",0,0", "0 0 100 " + NAMELESS, "[root, root, " + groupName("100") + "]"},
            {"--groups=" + NAMELESS, NAMELESS, "null"},
            {"--clear-groups", "", "null"},
        };
        for (String[] c : cases) {
            ChildJvm.Result r = ChildJvm.run(List.of("setpriv", c[0], "--"), ChildJvm.testClassPath(), Map.of(),
                    "com.veltor.perivane.FileChild", "groups");
            assertEquals(0, r.exitCode(), r.stderr());
            assertEquals("", r.stderr(), "nothing pending, nothing logged");
            assertEquals(Map.of("kernel", c[1], "groups", c[2]), FilePermissionsTest.lines(r.stdout()), c[0]);
        }
    }

    @Test
    void umaskCallsReturnTheMaskTheyReplace(@TempDir Path dir) throws Exception {
        int original = Perivane.setUMask(022);
        try {
            assertEquals(022, Perivane.setUMask(077));
            Path file = Files.createFile(dir.resolve("private"));
            assertEquals(0600, FilePermissionsTest.mode(file), "files are created under the new mask");
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
