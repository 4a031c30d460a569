package com.veltor.perivane.bench;

/**
 * Every speed target in one run and one table (scripts/bench.sh with no argument): normalize,
 * the file natives, the path styles and volume lists, isAppRunning, a Dock pin and unpin, the
 * frame, and the first load from the jar. Each case is measured in
 * several rounds (-Drounds=N, default 3); the table shows each case's median round. The
 * benchmark classes print their own lines as they go; the table follows.
 */
public final class Targets {
    private Targets() {}

    public static void main(String[] args) throws Exception {
        Table table = new Table();  // notes the load before anything runs
        int rounds = Integer.getInteger("rounds", 3);
        for (int round = 1; round <= rounds; round++) {
            System.out.printf("-- round %d of %d%n", round, rounds);
            TextBench.targets(table);
            FileBench.targets(table);
            PathBench.targets(table);
            DockBench.targets(table);
        }
        ProcessBench.targets(table, Integer.getInteger("processes", 500), rounds);
        LoadBench.targets(table, 5 * rounds);
        table.print();
    }
}
