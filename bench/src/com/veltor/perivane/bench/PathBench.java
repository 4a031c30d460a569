package com.veltor.perivane.bench;

import com.veltor.perivane.Perivane;
import java.io.File;
import java.nio.file.FileStore;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * The path styles and the volume lists against the JDK: toHfsStylePath of an existing path five
 * folders deep and toUnxStylePath of its answer, each against File.getCanonicalPath of the same
 * path; the volume lists against listing FileSystems.getDefault().getFileStores(). Then, when
 * this JVM runs in a private mount namespace of its own (-Dperivane.bench.mountns=true, set by
 * scripts/bench.sh when `unshare -m` is allowed), both conversions again with 1,000 more
 * volumes mounted, against the same call with the usual mounts.
 */
public final class PathBench {
    private PathBench() {}

    public static void main(String[] args) throws Exception {
        Table table = new Table();
        targets(table);
        table.print();
    }

    static void targets(Table table) throws Exception {
        Path scratch = Files.createTempDirectory("pathbench").toRealPath();
        Path deep = Files.createDirectories(scratch.resolve("a/b/c/d/e"));
        int levels = deep.getNameCount();
        Path top = deep.subpath(0, levels - 5);
        String posix = deep.toString();
        String hfs = Perivane.toHfsStylePath(posix);
        if (!posix.equals(Perivane.toUnxStylePath(hfs)) || top.getNameCount() < 1) {
            throw new IllegalStateException("no round trip for " + posix + ": " + hfs);
        }
        File file = new File(posix);
        int perBatch = 2_000, batches = 31;
        Timing.Result[] usual = {
            Timing.compare("toHfsStylePath / getCanonicalPath", () -> Perivane.toHfsStylePath(posix),
                    file::getCanonicalPath, perBatch, batches),
            Timing.compare("toUnxStylePath / getCanonicalPath", () -> Perivane.toUnxStylePath(hfs),
                    file::getCanonicalPath, perBatch, batches),
        };
        table.ratio("`toHfsStylePath`, existing path 5 folders deep", "`File.getCanonicalPath`", usual[0], 1.5);
        table.ratio("`toUnxStylePath` of that answer", "`File.getCanonicalPath`", usual[1], 1.0);
        // The targets: the ratios measured before the volume table was kept between calls (each
        // call read and classified the mount table then).
        table.ratio("`listVolumes`", "`getFileStores()` listed", Timing.compare("listVolumes / getFileStores",
                Perivane::listVolumes, PathBench::fileStores, perBatch / 10, batches), 0.54);
        table.ratio("`getAllVolumeInfos`", "`getFileStores()` listed, with sizes",
                Timing.compare("getAllVolumeInfos / getFileStores with sizes", Perivane::getAllVolumeInfos,
                        PathBench::fileStoresWithSizes, perBatch / 10, batches), 0.35);

        if (!Boolean.getBoolean("perivane.bench.mountns")) {
            System.out.println("1,000 more mounts: skipped, this JVM has no mount namespace of its own"
                    + " (scripts/bench.sh gives it one where `unshare -m` is allowed)");
        } else {
            // Volumes the list shows: an ext2 file system's root, bound 1,000 times (tmpfs and
            // ramfs would be left out of the list as the system's own).
            Path mounts = Files.createDirectory(scratch.resolve("mounts"));
            sh("cd " + mounts + " && mkfs.ext2 -q image 1M && mkdir base && mount -o loop image base"
                    + " && for i in $(seq 1000); do mkdir m$i && mount --bind base m$i || exit 1; done");
            try {
                Timing.Result[] many = {
                    Timing.compare("toHfsStylePath, 1,000 more mounts / getCanonicalPath",
                            () -> Perivane.toHfsStylePath(posix), file::getCanonicalPath, perBatch, batches),
                    Timing.compare("toUnxStylePath, 1,000 more mounts / getCanonicalPath",
                            () -> Perivane.toUnxStylePath(hfs), file::getCanonicalPath, perBatch, batches),
                };
                // Each against the same call with the usual mounts: the JDK's time, which the
                // mounts do not touch, carries the two runs to one scale.
                String[] what = {"`toHfsStylePath`, 1,000 more mounts", "`toUnxStylePath`, 1,000 more mounts"};
                for (int i = 0; i < 2; i++) {
                    table.ratio(what[i], "the same call, usual mounts", new Timing.Result(many[i].nativeNanos(),
                            usual[i].nativeNanos() * many[i].referenceNanos() / usual[i].referenceNanos()), 1.2);
                }
            } finally {
                sh("for m in " + mounts + "/m* " + mounts + "/base; do umount -l $m; done");
            }
        }
        sh("rm -rf " + scratch);
    }

    private static Object fileStores() {
        List<String> names = new ArrayList<>();
        for (FileStore s : FileSystems.getDefault().getFileStores()) names.add(s.name());
        return names;
    }

    private static Object fileStoresWithSizes() throws Exception {
        long sum = 0;
        for (FileStore s : FileSystems.getDefault().getFileStores()) {
            try {
                sum += s.getTotalSpace() + s.getUsableSpace();
            } catch (java.io.IOException e) {
                sum--;  // sizes that cannot be read, as the native's 0 and 0
            }
        }
        return sum;
    }

    private static void sh(String script) throws Exception {
        Process p = new ProcessBuilder("sh", "-c", script).inheritIO().start();
        if (p.waitFor() != 0) throw new IllegalStateException("failed: " + script);
    }
}
