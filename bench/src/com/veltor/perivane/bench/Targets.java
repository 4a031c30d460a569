package com.veltor.perivane.bench;

/**
 * Every speed target in one run and one table (scripts/bench.sh with no argument): normalize,
 * the file natives, isAppRunning, a Dock pin and unpin, and the frame. The benchmark classes
 * print their own lines as they go; the table follows.
 */
public final class Targets {
    private Targets() {}

    public static void main(String[] args) throws Exception {
        Table table = new Table();  // notes the load before anything runs
        TextBench.targets(table);
        FileBench.targets(table);
        ProcessBench.targets(table, Integer.getInteger("processes", 500));
        DockBench.targets(table);
        table.print();
    }
}
