package com.veltor.perivane;

/** Runs in a child JVM whose class path lacks VolumeInfo. */
public final class MissingVolumeInfoMain {
    private MissingVolumeInfoMain() {}

    public static void main(String[] args) {
        try {
            Object result = Perivane.getAllVolumeInfos();
            System.out.println("getAllVolumeInfos returned " + result);
        } catch (Throwable t) {
            System.out.println("getAllVolumeInfos threw " + t.getClass().getName());
        }
        System.out.println("listVolumes length " + Perivane.listVolumes().length);
    }
}
