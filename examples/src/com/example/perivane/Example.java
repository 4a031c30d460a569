package com.example.perivane;

import com.veltor.perivane.Perivane;
import com.veltor.perivane.VolumeInfo;

/**
 * A Java application that uses Perivane with nothing but perivane.jar on its class path (or
 * its module path): the jar loads the library it carries.
 */
public final class Example {
    private Example() {}

    public static void main(String[] args) throws Exception {
        String decomposed = "Cafe\u0301";
        System.out.printf("normalize: %d chars become %d%n", decomposed.length(),
                Perivane.normalize(decomposed).length());
        System.out.println("HFS path of /usr/bin: " + Perivane.toHfsStylePath("/usr/bin"));
        for (VolumeInfo v : Perivane.getAllVolumeInfos()) {
            System.out.printf("volume %s: %d of %d MiB free%n", v.getName(), v.getFreeBytes() >> 20,
                    v.getTotalBytes() >> 20);
        }
        String javaHome = System.getProperty("java.home");
        System.out.println("owner of " + javaHome + ": " + Perivane.getFileOwner(javaHome));
    }
}
