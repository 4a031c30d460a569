/**
 * Desktop-integration services that the Java class library lacks, through the native library
 * {@code libperivane.so} that {@link com.veltor.perivane.Perivane} loads.
 */
module com.veltor.perivane {
    exports com.veltor.perivane;
}
