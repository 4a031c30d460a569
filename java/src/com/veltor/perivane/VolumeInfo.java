package com.veltor.perivane;

import java.util.Objects;

/** A mounted volume: its display name, and its total and free size in bytes. */
public final class VolumeInfo {
    private final String name;
    private final long totalBytes;
    private final long freeBytes;

    public VolumeInfo(String name, long totalBytes, long freeBytes) {
        this.name = name;
        this.totalBytes = totalBytes;
        this.freeBytes = freeBytes;
    }

    public String getName() {
        return name;
    }

    public long getTotalBytes() {
        return totalBytes;
    }

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
