// A libperivane.so of another version, for the loader's version check: it reports a version that
// no build of the Java classes has.
#include <jni.h>

extern "C" JNIEXPORT jstring JNICALL Java_com_veltor_perivane_NativeLibrary_version(JNIEnv* env, jclass) {
    return env->NewStringUTF("0.0-other");
}
