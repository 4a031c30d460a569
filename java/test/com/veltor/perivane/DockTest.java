package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.*;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

class DockTest {
    private static final Path DOMAIN =
            Path.of(System.getenv("HOME"), "Library", "Preferences", "com.apple.dock.plist");

    @BeforeEach
    void freshDomain() throws IOException {
        freshDockDomain();
    }

    /** Puts the fixture's Dock domain in HOME, as the Dock left it. */
    static void freshDockDomain() throws IOException {
        Files.createDirectories(DOMAIN.getParent());
        Files.copy(Path.of(System.getProperty("perivane.fixtures"), "dock", "com.apple.dock.plist"), DOMAIN,
                StandardCopyOption.REPLACE_EXISTING);
        DOMAIN.toFile().setWritable(true, true);
    }

    /** The domain as the property-list tool reads it; fails the test when it cannot. */
    static String plistutil() throws IOException, InterruptedException {
        Process p = new ProcessBuilder("plistutil", "-i", DOMAIN.toString(), "-f", "xml", "-o", "-")
                .redirectErrorStream(true).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertEquals(0, p.waitFor(), out);
        assertTrue(out.contains("<plist"), out);
        return out;
    }

    @Test
    void unpinsTheDocksEntryAndPinsAndUnpinsItsOwnRecordChangingNothingElse() throws Exception {
        String before = plistutil();
        String url = "file:///Applications/Visual%20Studio%20Code.app/";
        assertTrue(Perivane.unregisterFileAsDockIcon("/Applications/Visual Studio Code.app"));
        // The entry was one <dict> in the array: cut it out of the old text and nothing else differs.
        int start = before.lastIndexOf("\t\t<dict>\n\t\t\t<key>GUID</key>", before.indexOf(url));
        int end = before.indexOf("\n\t\t</dict>\n", before.indexOf(url)) + "\n\t\t</dict>\n".length();
        String unpinned = before.substring(0, start) + before.substring(end);
        assertEquals(unpinned, plistutil());
        assertFalse(Perivane.unregisterFileAsDockIcon("/Applications/Visual Studio Code.app"));

        // Our record goes last in "persistent-apps", exactly so, and is the only change.
        assertTrue(Perivane.registerFileAsDockIcon("/Applications/Foo Bar.app", "Foo Bar"));
        String after = plistutil();
        String record = "<dict><key>tile-data</key><dict><key>file-data</key><dict>"
                + "<key>_CFURLString</key><string>/Applications/Foo Bar.app</string>"
                + "<key>_CFURLStringType</key><integer>0</integer></dict>"
                + "<key>file-label</key><string>Foo Bar</string><key>dock-extra</key><false/></dict></dict>";
        int appsEnd = unpinned.indexOf("\n\t</array>", unpinned.indexOf("<key>persistent-apps</key>"));
        assertEquals((unpinned.substring(0, appsEnd) + record + unpinned.substring(appsEnd)).replaceAll("\n\t*", ""),
                after.replaceAll("\n\t*", ""));

        // Found again by its path: no second copy under any label, and it can be unpinned.
        assertFalse(Perivane.registerFileAsDockIcon("/Applications/Foo Bar.app", "Another label"));
        assertEquals(after, plistutil());
        assertTrue(Perivane.unregisterFileAsDockIcon("/Applications/Foo Bar.app"));
        assertEquals(unpinned, plistutil());
    }

    @Test
    void refusalsReturnFalseAndWriteNothing() throws Exception {
        byte[] before = Files.readAllBytes(DOMAIN);
        assertFalse(Perivane.registerFileAsDockIcon("/Applications/iTerm.app", "iTerm"));  // listed by the Dock
        assertArrayEquals(before, Files.readAllBytes(DOMAIN));
    }
}
