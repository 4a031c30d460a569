// The Cocoa half: natives that run their whole body inside the Cocoa bracket and work through
// the platform's Foundation-style objects, converting strings the JavaNativeFoundation way.
#include <jni.h>

#include <sys/stat.h>

#include "FileFlags.h"
#include "NativeFrame.h"
#include "platform/file_manager.h"
#include "platform/log.h"

using namespace perivane;
using namespace perivane::jni;

#define NATIVE(ret, name) extern "C" JNIEXPORT ret JNICALL Java_com_veltor_perivane_Perivane_##name

// ---- file-creation mask --------------------------------------------------------------------

NATIVE(jint, setUMask)(JNIEnv* env, jclass, jint mask) {
    return cocoaBracket<jint>(env, [&]() -> jint {
        const mode_t previous = ::umask(static_cast<mode_t>(static_cast<std::uint32_t>(mask) & 0xFFFF));
        return static_cast<jint>(previous & 0xFFFF);  // widened without sign
    });
}

// ---- permissions and owner -----------------------------------------------------------------
// Errors the file manager reports are logged with their description and give the zero result.

NATIVE(jboolean, setFileAttributes)(JNIEnv* env, jclass, jstring path, jboolean ownerRead,
                                    jboolean ownerWrite, jboolean ownerExecute, jboolean groupRead,
                                    jboolean groupWrite, jboolean groupExecute,
                                    jboolean othersRead, jboolean othersWrite,
                                    jboolean othersExecute) {
    return cocoaBracket<jboolean>(env, [&]() -> jboolean {
        const std::optional<NSString> p = JNFNormalizedNSStringForPath(env, path);
        if (!p) return JNI_FALSE;
        platform::NSFileAttributeChanges attributes;
        attributes.posixPermissions = permissionsFromFlags(
            {ownerRead, ownerWrite, ownerExecute, groupRead, groupWrite, groupExecute, othersRead,
             othersWrite, othersExecute});
        std::optional<platform::NSError> error;
        const bool done =
            platform::NSFileManager::defaultManager().setAttributes(attributes, *p, &error);
        if (error) platform::NSLog(error->localizedDescription());
        return done ? JNI_TRUE : JNI_FALSE;
    });
}

NATIVE(jbooleanArray, getFileAttributes)(JNIEnv* env, jclass, jstring path) {
    return cocoaBracket<jbooleanArray>(env, [&]() -> jbooleanArray {
        const std::optional<NSString> p = JNFNormalizedNSStringForPath(env, path);
        if (!p) return nullptr;
        std::optional<platform::NSError> error;
        const std::optional<platform::NSFileAttributes> attributes =
            platform::NSFileManager::defaultManager().attributesOfItemAtPath(*p, &error);
        if (error) {
            platform::NSLog(error->localizedDescription());
            return nullptr;
        }
        // Read as a signed 16-bit value, of which only the nine permission bits are reported.
        const auto value =
            attributes ? static_cast<std::int16_t>(attributes->filePosixPermissions()) : 0;
        const PermissionFlags flags = flagsFromPermissions(value);
        jbooleanArray array = JNFNewBooleanArray(env, static_cast<jsize>(flags.size()));
        env->SetBooleanArrayRegion(array, 0, static_cast<jsize>(flags.size()), flags.data());
        return array;
    });
}

NATIVE(jstring, getFileOwner)(JNIEnv* env, jclass, jstring path) {
    return cocoaBracket<jstring>(env, [&]() -> jstring {
        const std::optional<NSString> p = JNFNormalizedNSStringForPath(env, path);
        if (!p) return nullptr;
        std::optional<platform::NSError> error;
        const std::optional<platform::NSFileAttributes> attributes =
            platform::NSFileManager::defaultManager().attributesOfItemAtPath(*p, &error);
        if (error) {
            platform::NSLog(error->localizedDescription());
            return nullptr;
        }
        if (!attributes) return nullptr;
        return JNFNSToJavaString(env, attributes->fileOwnerAccountName());  // nil: no name
    });
}

// ---- running-application check -------------------------------------------------------------

// ---- Dock ----------------------------------------------------------------------------------
