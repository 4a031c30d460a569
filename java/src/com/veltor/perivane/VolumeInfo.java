package com.veltor.perivane;

import java.util.Objects;

/**
 * A mounted volume: its display name, and its total and free size in bytes, as
 * {@link Perivane#getAllVolumeInfos} gives them. Instances are immutable; two are equal when all
 * three values are.
 */
public final class VolumeInfo {
    private final String name;
    private final long totalBytes;
    private final long freeBytes;

    /**
     * Describes a volume; the library calls this constructor.
     *
     * @param name the volume's display name, as {@link Perivane#listVolumes} gives it
     * @param totalBytes the volume's size in bytes
     * @param freeBytes the bytes an unprivileged user may still write
     */
    public VolumeInfo(String name, long totalBytes, long freeBytes) {
        this.name = name;
        this.totalBytes = totalBytes;
        this.freeBytes = freeBytes;
    }

    /**
     * The volume's display name.
     *
     * @return the name given to the constructor
     */
    public String getName() {
        return name;
    }

    /**
     * The volume's size.
     *
     * @return the size in bytes
     */
    public long getTotalBytes() {
        return totalBytes;
    }

    /**
     * The space left on the volume for an unprivileged user.
     *
     * @return the free size in bytes
     */
    public long getFreeBytes() {
        return freeBytes;
    }

    @Override
    public boolean equals(Object o) {
        if (!(o instanceof VolumeInfo)) return false;
        VolumeInfo v = (VolumeInfo) o;
        return Objects.equals(name, v.name) && totalBytes == v.totalBytes && freeBytes == v.freeBytes;
    }

    @Override
    public int hashCode() {
        return Objects.hash(name, totalBytes, freeBytes);
    }

    @Override
    public String toString() {
        return "VolumeInfo[" + name + ", total " + totalBytes + ", free " + freeBytes + "]";
    }
}
