// The plain-JNI half: natives that call the platform directly, without an autorelease pool,
// and report failures with throwJava. Each enters through nativeFrame.
#include <jni.h>

#include "FileFlags.h"
#include "NativeFrame.h"
#include "platform/finder_info.h"
#include "platform/groups.h"
#include "platform/symlinks.h"
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
// A path that cannot name a file (it holds U+0000 or a lone surrogate) never reaches the
// system: each native gives the answer it gives for a path that is not there.

NATIVE(jboolean, isSymbolicLink)(JNIEnv* env, jclass, jstring path) {
    return nativeFrame<jboolean>(env, [&]() -> jboolean {
        requireNonNull(env, path, "path");
        PosixPath p(env, path);
        if (p.c_str() == nullptr) return JNI_FALSE;  // or the JVM's error is pending
        return platform::isSymbolicLink(p.c_str()) ? JNI_TRUE : JNI_FALSE;
    });
}

NATIVE(jstring, getSymbolicLinkTarget)(JNIEnv* env, jclass, jstring path) {
    return nativeFrame<jstring>(env, [&]() -> jstring {
        requireNonNull(env, path, "path");
        PosixPath p(env, path);
        if (p.c_str() == nullptr) return nullptr;
        // A target buffer that cannot be had becomes java.lang.OutOfMemoryError in the frame.
        const std::optional<std::string> target = platform::readSymbolicLink(p.c_str());
        if (!target) return nullptr;
        return newStringFromUtf8(env, *target);
    });
}

NATIVE(void, createSymbolicLink)(JNIEnv* env, jclass, jstring linkPath, jstring targetPath) {
    nativeFrame<void>(env, [&] {
        requireNonNull(env, linkPath, "linkPath");
        requireNonNull(env, targetPath, "targetPath");
        PosixPath link(env, linkPath);
        if (!link.available()) return;
        PosixPath target(env, targetPath);
        if (!target.available()) return;
        if (link.c_str() == nullptr || target.c_str() == nullptr ||
            !platform::createSymbolicLink(link.c_str(), target.c_str())) {
            throw JavaThrow{"java/io/IOException", "Failed to create symbolic link."};
        }
    });
}

NATIVE(jboolean, removeSymbolicLink)(JNIEnv* env, jclass, jstring path) {
    return nativeFrame<jboolean>(env, [&]() -> jboolean {
        requireNonNull(env, path, "path");
        PosixPath p(env, path);
        if (!p.available()) return JNI_FALSE;
        const platform::LinkRemoval r = p.c_str() == nullptr
                                            ? platform::LinkRemoval::notALink
                                            : platform::removeSymbolicLink(p.c_str());
        if (r == platform::LinkRemoval::notALink) {
            throw JavaThrow{"java/io/IOException", "The specified file is not a symbolic link."};
        }
        return r == platform::LinkRemoval::removed ? JNI_TRUE : JNI_FALSE;
    });
}

// ---- bundle flag ---------------------------------------------------------------------------

namespace {
// Resolves the path to a file-system object and reads its Finder information, raising the
// IOException that tells which of the two steps failed. A path that cannot name a file (it
// holds U+0000 or a lone surrogate, or is empty) resolves to nothing, like a missing one.
platform::FSRef finderObject(JNIEnv* env, jstring path, platform::FinderInfo& info) {
    requireNonNull(env, path, "path");
    PosixPath p(env, path);
    if (!p.available()) throw JavaThrow{"java/lang/OutOfMemoryError", {}};
    std::optional<platform::FSRef> ref;
    if (p.c_str() != nullptr) ref = platform::FSPathMakeRef(p.c_str());
    if (!ref) throw JavaThrow{"java/io/IOException", "Failed to get the FSRef of the specified path."};
    if (platform::FSGetFinderInfo(*ref, info) != 0) {
        throw JavaThrow{"java/io/IOException", "Failed to get the finder info of the specified path."};
    }
    return *ref;
}
}  // namespace

NATIVE(jboolean, hasBundleBit)(JNIEnv* env, jclass, jstring path) {
    return nativeFrame<jboolean>(env, [&]() -> jboolean {
        platform::FinderInfo info;
        const platform::FSRef ref = finderObject(env, path, info);
        if (!ref.isDirectory) return JNI_FALSE;  // only folders carry the flag
        return (info.finderFlags() & platform::kHasBundle) != 0 ? JNI_TRUE : JNI_FALSE;
    });
}

NATIVE(void, setBundleBit)(JNIEnv* env, jclass, jstring path, jboolean on) {
    nativeFrame<void>(env, [&] {
        platform::FinderInfo info;
        const platform::FSRef ref = finderObject(env, path, info);
        if (!ref.isDirectory) return;  // files are left as they are
        info.setFinderFlags(finderFlagsWithBundle(info.finderFlags(), on));
        // Written even when the flag already had the value asked for.
        if (platform::FSSetFinderInfo(ref, info) != 0) {
            throw JavaThrow{"java/io/IOException", "Failed to set the bundle bit on the specified path."};
        }
    });
}

// ---- process groups ------------------------------------------------------------------------

NATIVE(jobjectArray, getCurrentProcessGroups)(JNIEnv* env, jclass) {
    return nativeFrame<jobjectArray>(env, [&]() -> jobjectArray {
        const std::vector<std::string> names = platform::processGroupNames();
        if (names.empty()) return nullptr;  // no groups, a failed query, or none with a name
        LocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
        if (!stringClass) {
            // The lookup error gives way to the library's own, which names what was missing
            // (JNI allows no further call while it is pending, hence the clear).
            env->ExceptionClear();
            throw JavaThrow{"java/lang/Error", "Failed to find the java.lang.String class."};
        }
        LocalRef<jobjectArray> array(
            env, env->NewObjectArray(static_cast<jsize>(names.size()), stringClass.get(), nullptr));
        if (!array) throw JavaThrow{"java/lang/OutOfMemoryError", {}};
        for (size_t i = 0; i < names.size(); ++i) {
            LocalRef<jstring> name(env, newStringFromUtf8(env, names[i]));
            env->SetObjectArrayElement(array.get(), static_cast<jsize>(i), name.get());
        }
        return array.release();
    });
}
