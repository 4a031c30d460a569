package com.veltor.perivane;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.FileStore;
import java.nio.file.FileSystem;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class VolumesTest {
    @Test
    void bothListsAgreeElementByElement() {
        String[] names = Perivane.listVolumes();
        VolumeInfo[] infos = Perivane.getAllVolumeInfos();
        assertNotNull(names);
        assertNotNull(infos);
        assertEquals(names.length, infos.length, () -> Arrays.toString(names) + " / " + Arrays.toString(infos));
        assertTrue(names.length >= 1);
        for (int i = 0; i < names.length; i++) {
            assertNotNull(names[i]);
            assertNotNull(infos[i]);
            assertEquals(names[i], infos[i].getName());
            assertTrue(infos[i].getFreeBytes() <= infos[i].getTotalBytes(), infos[i].toString());
        }
    }

    @Test
    void theBootVolumeComesFirstWithItsRealSizes() throws Exception {
        VolumeInfo root = Perivane.getAllVolumeInfos()[0];
        assertEquals(root.getName(), Perivane.toHfsStylePath("/"));
        FileStore store = Files.getFileStore(Path.of("/"));
        // Sizes cross as full 64-bit values: the root here is far larger than 4 GiB.
        assertEquals(store.getTotalSpace(), root.getTotalBytes());
        assertTrue(root.getTotalBytes() > (1L << 32), "expected a root volume over 4 GiB");
        // Free space moves while tests write; the usable space (not counting reserved blocks)
        // is what is reported.
        long usable = store.getUsableSpace();
        assertTrue(Math.abs(usable - root.getFreeBytes()) < (256L << 20), root + " vs usable " + usable);
    }

    @Test
    void aMissingValueClassFailsOnlyTheInfoList(@TempDir Path tmp) throws Exception {
        // A class path with Perivane but without VolumeInfo.
        try (FileSystem jar = FileSystems.newFileSystem(Path.of(System.getProperty("perivane.jar")))) {
            Path dest = tmp.resolve("com/veltor/perivane/Perivane.class");
            Files.createDirectories(dest.getParent());
            Files.copy(jar.getPath("com/veltor/perivane/Perivane.class"), dest);
        }
        ChildJvm.Result r = ChildJvm.run(List.of(), tmp + ":" + System.getProperty("perivane.testjar"), Map.of(),
                "com.veltor.perivane.FileChild", "volumes");
        assertEquals(0, r.exitCode(), r.stderr());
        assertEquals(Map.of("infos", "NoClassDefFoundError: com/veltor/perivane/VolumeInfo",
                "names", Arrays.toString(Perivane.listVolumes())), FilePermissionsTest.lines(r.stdout()));
    }
}
