// The plain-JNI half: natives that call the platform directly, without an autorelease pool,
// and report failures with throwJava. Each enters through nativeFrame.
#include <jni.h>

#include "NativeFrame.h"
#include "platform/unicode.h"

using namespace perivane;
using namespace perivane::jni;

#define NATIVE(ret, name) extern "C" JNIEXPORT ret JNICALL Java_com_veltor_perivane_Perivane_##name

// ---- paths and text ------------------------------------------------------------------------

NATIVE(jstring, normalize)(JNIEnv* env, jclass, jstring text) {
    return nativeFrame<jstring>(env, [&]() -> jstring {
        requireNonNull(env, text, "text");
        JavaChars chars(env, text);
        if (!chars.ok()) return nullptr;
        // The frame turns an allocation failure into java.lang.OutOfMemoryError.
        const std::u16string normalized = platform::precomposed(chars.view());
        chars.release();
        jstring result = env->NewString(
            reinterpret_cast<const jchar*>(normalized.data()),
            static_cast<jsize>(untilFirstNul(normalized).size()));
        if (result == nullptr) throw JavaThrow{"java/lang/OutOfMemoryError", {}};
        return result;
    });
}

// ---- volumes -------------------------------------------------------------------------------

// ---- symbolic links ------------------------------------------------------------------------

// ---- bundle flag ---------------------------------------------------------------------------

// ---- process groups ------------------------------------------------------------------------
