package com.veltor.perivane.bench;

import java.nio.file.Path;

/**
 * The floors a native is measured against, as natives of a small library built beside the
 * benchmarks (bench/floors.cpp, build/bench/libperivanefloors.so), never part of libperivane.so.
 */
final class Floor {
    private Floor() {}

    static {
        System.load(Path.of(System.getProperty("java.library.path"), "bench", "libperivanefloors.so").toAbsolutePath().toString());
    }

    /** An empty JNI call that takes and returns a string, as the text natives do. */
    static native String same(String s);

    /** Copies a short string's units to the stack and returns it: a native that reads its string. */
    static native String read(String s);

    /** Keeps a copy of the text's UTF-16 units in native memory for {@link #compose}. */
    static native void holdText(String text);

    /** ICU's Normalization Form C of the held text, into a buffer made before: the result's length. */
    static native int compose();

    /** {@link #compose}, then the result made a Java string with NewString. */
    static native String composeString();

    /** Lists /proc and reads every /proc/PID/cmdline once, looking at nothing: the processes seen. */
    static native int scanProcesses();
}
