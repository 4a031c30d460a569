// The plain-JNI half: natives that call the platform directly, without an autorelease pool,
// and report failures with throwJava. Each enters through nativeFrame.
#include <jni.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>

#include "FileFlags.h"
#include "NativeFrame.h"
#include "platform/base/file_system.h"
#include "platform/files/file_url.h"
#include "platform/files/finder_info.h"
#include "platform/system/groups.h"
#include "platform/files/symlinks.h"
#include "platform/base/unicode.h"
#include "platform/files/volumes.h"

using namespace perivane;
using namespace perivane::jni;

// ---- paths and text ------------------------------------------------------------------------

namespace {

using platform::CFURLPathStyle;

// Converts a path between two styles and brings the result into Normalization Form C where
// that spelling names the same item (or neither names anything): a POSIX result by itself, an
// HFS result by the POSIX path it names. Otherwise the result keeps the spelling the names have
// on disk, so that it names the item, and converted back names it too. Nothing when the path
// cannot be read in `fromStyle` or written in `toStyle`.
std::optional<std::u16string> ConvertPath(const char16_t* chars, int64_t length,
                                          CFURLPathStyle fromStyle, CFURLPathStyle toStyle) {
    platform::LivePathEnvironment system;
    const std::u16string_view source(chars, static_cast<size_t>(length));
    // The directory flag is set in both directions, whatever the path names.
    auto url = platform::CFURLCreateWithFileSystemPath(source, fromStyle, true, system);
    if (!url) return std::nullopt;
    auto converted = platform::CFURLCopyFileSystemPath(*url, toStyle, system);
    if (!converted) return std::nullopt;
    if (toStyle == platform::kCFURLPOSIXPathStyle) return platform::inFormCWhereItNamesTheSameItem(*converted);
    std::u16string composed = platform::precomposed(*converted);
    if (composed == *converted) return composed;
    const auto back = platform::CFURLCreateWithFileSystemPath(*converted, platform::kCFURLHFSPathStyle, true, system);
    const auto posix = back ? platform::CFURLCopyFileSystemPath(*back, platform::kCFURLPOSIXPathStyle, system) : std::nullopt;
    if (posix && platform::inFormCWhereItNamesTheSameItem(*posix) != platform::precomposed(*posix)) return converted;
    return composed;
}

jstring convertPathNative(JNIEnv* env, jstring path, CFURLPathStyle from, CFURLPathStyle to) {
    return nativeFrame<jstring>(env, [&]() -> jstring {
        requireNonNull(env, path, "path");
        const JavaUnits units(env, path);  // a copy: nothing to give back before the result
        const std::optional<std::u16string> converted =
            ConvertPath(units.view().data(), static_cast<int64_t>(units.view().size()), from, to);
        if (!converted) return nullptr;
        return newString(env, *converted);  // never holds U+0000: such paths are refused
    });
}

}  // namespace

NATIVE(jstring, toHfsStylePath)(JNIEnv* env, jclass, jstring path) {
    return convertPathNative(env, path, platform::kCFURLPOSIXPathStyle, platform::kCFURLHFSPathStyle);
}

NATIVE(jstring, toUnxStylePath)(JNIEnv* env, jclass, jstring path) {
    return convertPathNative(env, path, platform::kCFURLHFSPathStyle, platform::kCFURLPOSIXPathStyle);
}

NATIVE(jstring, normalize)(JNIEnv* env, jclass, jstring text) {
    return nativeFrame<jstring>(env, [&]() -> jstring {
        requireNonNull(env, text, "text");
        const JavaUnits units(env, text);
        // The result ends before the first U+0000, a character that never combines with its
        // neighbours: the text before it is normalized alone. One look at every unit finds it,
        // and how far the text needs no normalizer (all of a text below U+0300).
        const platform::UnitScan scan = platform::scanUnits(units.view());
        const std::u16string_view kept = units.view().substr(0, scan.nul);
        const size_t prefix =
            scan.composed == kept.size() ? kept.size() : platform::formCPrefix(kept, scan.composed);
        if (prefix == kept.size()) {
            // In Form C already: the caller's own string, unless it was cut.
            return kept.size() == units.view().size() ? text : newString(env, kept);
        }
        // The frame turns an allocation failure into java.lang.OutOfMemoryError; a failing
        // NewString leaves the JVM's own pending.
        platform::UnitBuffer<512> out(kept.size() + kept.size() / 2 + 16);
        size_t length;
        while ((length = platform::precomposeInto(kept, prefix, out.data(), out.size())) > out.size()) {
            out.resize(length);  // the room it reported
        }
        // A text in Form C that the quick check could not vouch for (a mark that combines with
        // nothing before it) still comes back as the caller's own string.
        const std::u16string_view whole = units.view();
        if (length == whole.size() && std::memcmp(out.data(), whole.data(), length * sizeof(char16_t)) == 0) return text;
        return newString(env, std::u16string_view(out.data(), length));
    });
}

// ---- volumes -------------------------------------------------------------------------------

namespace {

using platform::VolumeList;

// The number of volumes: indices 1 to n answer, n + 1 does not.
uint32_t countVolumes(const VolumeList& volumes) {
    uint32_t n = 0;
    while (volumes.FSGetVolumeInfo(n + 1, platform::kFSVolInfoNone, nullptr, nullptr) == platform::noErr) ++n;
    return n;
}

jstring volumeName(JNIEnv* env, const platform::HFSUniStr255& name) {
    return newString(env, std::u16string_view(name.unicode, name.length));
}

}  // namespace

NATIVE(jobjectArray, listVolumes)(JNIEnv* env, jclass) {
    return nativeFrame<jobjectArray>(env, [&]() -> jobjectArray {
        const VolumeList volumes = VolumeList::current();
        const uint32_t n = countVolumes(volumes);
        LocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
        if (!stringClass) return nullptr;
        LocalRef<jobjectArray> array(env, env->NewObjectArray(static_cast<jsize>(n), stringClass.get(), nullptr));
        if (!array) return nullptr;
        for (uint32_t i = 1; i <= n; ++i) {
            platform::HFSUniStr255 name;
            if (volumes.FSGetVolumeInfo(i, platform::kFSVolInfoNone, nullptr, &name) != platform::noErr) break;
            LocalRef<jstring> element(env, volumeName(env, name));
            env->SetObjectArrayElement(array.get(), static_cast<jsize>(i - 1), element.get());
        }
        return array.release();
    });
}

NATIVE(jobjectArray, getAllVolumeInfos)(JNIEnv* env, jclass) {
    return nativeFrame<jobjectArray>(env, [&]() -> jobjectArray {
        const VolumeList volumes = VolumeList::current();
        const uint32_t n = countVolumes(volumes);
        LocalRef<jclass> infoClass(env, env->FindClass("com/veltor/perivane/VolumeInfo"));
        if (!infoClass) return nullptr;
        LocalRef<jobjectArray> array(env, env->NewObjectArray(static_cast<jsize>(n), infoClass.get(), nullptr));
        if (!array) return nullptr;
        jmethodID init = env->GetMethodID(infoClass.get(), "<init>", "(Ljava/lang/String;JJ)V");
        if (init == nullptr) return nullptr;
        for (uint32_t i = 1; i <= n; ++i) {
            platform::FSVolumeInfo info;
            platform::HFSUniStr255 name;
            if (volumes.FSGetVolumeInfo(i, platform::kFSVolInfoSizes, &info, &name) != platform::noErr) break;
            LocalRef<jstring> jname(env, volumeName(env, name));
            LocalRef<jobject> element(env, env->NewObject(infoClass.get(), init, jname.get(),
                                                          static_cast<jlong>(info.totalBytes),
                                                          static_cast<jlong>(info.freeBytes)));
            if (!element) return nullptr;  // the JVM's error is pending
            env->SetObjectArrayElement(array.get(), static_cast<jsize>(i - 1), element.get());
        }
        return array.release();
    });
}

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
        const auto ascii = [](char c) { return static_cast<unsigned char>(c) < 0x80; };
        if (std::all_of(target->begin(), target->end(), ascii)) return newStringFromUtf8(env, *target);
        const std::u16string text = platform::utf8ToUtf16Lossy(*target);
        if (platform::formCPrefix(text) == text.size()) return newString(env, text);
        // In Form C where that spelling names the same item, a relative one from the link's folder.
        const bool relative = text.front() != u'/';
        const platform::FileDescriptor folder = relative ? platform::openFolder(platform::splitPath(p.c_str()).folder)
                                                         : platform::FileDescriptor();
        if (relative && !folder) return newString(env, text);
        return newString(env, platform::inFormCWhereItNamesTheSameItem(text, relative ? folder.get() : AT_FDCWD));
    });
}

NATIVE(void, createSymbolicLink)(JNIEnv* env, jclass, jstring linkPath, jstring targetPath) {
    nativeFrame<void>(env, [&] {
        requireNonNull(env, linkPath, "linkPath");
        requireNonNull(env, targetPath, "targetPath");
        PosixPath link(env, linkPath);
        PosixPath target(env, targetPath);
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
// Finds the object at the path and, for a folder, reads its Finder information from the
// folder held open, raising the IOException that tells which of the two steps failed. A path
// that cannot name a file (it holds U+0000 or a lone surrogate, or is empty) finds nothing,
// like a missing one.
platform::FSRef finderObject(JNIEnv* env, jstring path, platform::FinderInfo& info) {
    requireNonNull(env, path, "path");
    PosixPath p(env, path);
    std::optional<platform::FSRef> ref;
    if (p.c_str() != nullptr) ref = platform::FSPathMakeRef(p.c_str());
    if (!ref) throw JavaThrow{"java/io/IOException", "Failed to get the FSRef of the specified path."};
    if (ref->isDirectory && platform::FSGetFinderInfo(ref->fd.get(), info) != 0) {
        throw JavaThrow{"java/io/IOException", "Failed to get the finder info of the specified path."};
    }
    return std::move(*ref);
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
        if (platform::FSSetFinderInfo(ref.fd.get(), info) != 0) {
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
