// The Cocoa half: natives that run their whole body inside the Cocoa bracket and work through
// the platform's Foundation-style objects, converting strings the JavaNativeFoundation way.
#include <jni.h>

#include "NativeFrame.h"
#include "UserDefaultsAdditions.h"

using namespace perivane;
using namespace perivane::jni;

#define NATIVE(ret, name) extern "C" JNIEXPORT ret JNICALL Java_com_veltor_perivane_Perivane_##name

// ---- file-creation mask --------------------------------------------------------------------

// ---- permissions and owner -----------------------------------------------------------------

// ---- running-application check -------------------------------------------------------------

// ---- Dock ----------------------------------------------------------------------------------

NATIVE(jboolean, registerFileAsDockIcon)(JNIEnv* env, jclass, jstring path, jstring name) {
    return cocoaBracket<jboolean>(env, [&]() -> jboolean {
        const std::optional<NSString> p = JNFNormalizedNSStringForPath(env, path);
        const std::optional<NSString> n = JNFJavaToNSString(env, name);
        if (!p || !n) return JNI_FALSE;
        platform::NSUserDefaults defaults = platform::NSUserDefaults::standardUserDefaults();
        return additions::addApplicationToDock(defaults, *p, *n) ? JNI_TRUE : JNI_FALSE;
    });
}

NATIVE(jboolean, unregisterFileAsDockIcon)(JNIEnv* env, jclass, jstring path) {
    return cocoaBracket<jboolean>(env, [&]() -> jboolean {
        const std::optional<NSString> p = JNFNormalizedNSStringForPath(env, path);
        if (!p) return JNI_FALSE;
        platform::NSUserDefaults defaults = platform::NSUserDefaults::standardUserDefaults();
        return additions::removeApplicationFromDock(defaults, *p) ? JNI_TRUE : JNI_FALSE;
    });
}
