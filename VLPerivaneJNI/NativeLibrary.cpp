// The native of the Java loader class com.veltor.perivane.NativeLibrary: the version this
// library was built as, which the loader compares with its own before Perivane's natives are
// used, so that a library left over from another build is refused.
#include <jni.h>

#include "NativeFrame.h"
#include "VLPerivaneJNI/Version.h"

extern "C" JNIEXPORT jstring JNICALL Java_com_veltor_perivane_NativeLibrary_version(JNIEnv* env, jclass) {
    return perivane::jni::nativeFrame<jstring>(
        env, [&] { return perivane::jni::newStringFromUtf8(env, perivane::kVersion); });
}
