// The Cocoa half: natives that run their whole body inside the Cocoa bracket and work through
// the platform's Foundation-style objects, converting strings the JavaNativeFoundation way.
#include <jni.h>

#include <cstdint>

#include "ChooserWork.h"
#include "FileFlags.h"
#include "NativeFrame.h"
#include "ProcessList.h"
#include "platform/files/bookmark.h"
#include "platform/files/file_manager.h"
#include "platform/system/groups.h"
#include "platform/base/log.h"
#include "platform/system/ns_string_paths.h"
#include "platform/dialog/run_loop.h"
#include "UserDefaultsAdditions.h"

using namespace perivane;
using namespace perivane::jni;

// ---- file-creation mask --------------------------------------------------------------------

NATIVE(jint, setUMask)(JNIEnv* env, jclass, jint mask) {
    return cocoaBracket<jint>(env, [&]() -> jint {
        const mode_t previous = platform::umask(static_cast<mode_t>(static_cast<std::uint32_t>(mask) & 0xFFFF));
        return static_cast<jint>(previous & 0xFFFF);  // widened without sign
    });
}

// ---- permissions and owner -----------------------------------------------------------------
// Errors the file manager reports are logged with their description and give the zero result.
// One system call is all these natives do: the path goes to it from where it was copied out of
// Java (JNFNormalizedPathUnits, on the stack for a path of common length), encoded once.

NATIVE(jboolean, setFileAttributes)(JNIEnv* env, jclass, jstring path, jboolean ownerRead,
                                    jboolean ownerWrite, jboolean ownerExecute, jboolean groupRead,
                                    jboolean groupWrite, jboolean groupExecute,
                                    jboolean othersRead, jboolean othersWrite,
                                    jboolean othersExecute) {
    return cocoaBracket<jboolean>(env, [&]() -> jboolean {
        const std::optional<JavaUnits> p = JNFNormalizedPathUnits(env, path);
        if (!p) return JNI_FALSE;
        platform::NSFileAttributeChanges attributes;
        attributes.posixPermissions = permissionsFromFlags(
            {ownerRead, ownerWrite, ownerExecute, groupRead, groupWrite, groupExecute, othersRead,
             othersWrite, othersExecute});
        std::optional<platform::NSError> error;
        const bool done =
            platform::NSFileManager::defaultManager().setAttributes(attributes, p->view(), &error);
        if (error) platform::NSLog(error->localizedDescription());
        return done ? JNI_TRUE : JNI_FALSE;
    });
}

namespace {
// The item's attributes, or nothing after the platform's error has been logged (`failed`).
std::optional<platform::NSFileAttributes> attributesLoggingError(std::u16string_view path,
                                                                 platform::FinalLink finalLink,
                                                                 bool& failed) {
    std::optional<platform::NSError> error;
    std::optional<platform::NSFileAttributes> attributes =
        platform::NSFileManager::defaultManager().attributesOfItemAtPath(path, &error, finalLink);
    failed = error.has_value();
    if (failed) platform::NSLog(error->localizedDescription());
    return failed ? std::nullopt : attributes;
}
}  // namespace

NATIVE(jbooleanArray, getFileAttributes)(JNIEnv* env, jclass, jstring path) {
    return cocoaBracket<jbooleanArray>(env, [&]() -> jbooleanArray {
        const std::optional<JavaUnits> p = JNFNormalizedPathUnits(env, path);
        if (!p) return nullptr;
        // Permissions are those of what a final link names: where setFileAttributes puts them.
        bool failed = false;
        const std::optional<platform::NSFileAttributes> attributes =
            attributesLoggingError(p->view(), platform::FinalLink::follow, failed);
        if (failed) return nullptr;
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
        const std::optional<JavaUnits> p = JNFNormalizedPathUnits(env, path);
        if (!p) return nullptr;
        bool failed = false;  // a link has an owner of its own
        const std::optional<platform::NSFileAttributes> attributes =
            attributesLoggingError(p->view(), platform::FinalLink::describe, failed);
        if (!attributes) return nullptr;
        return JNFNSToJavaString(env, attributes->fileOwnerAccountName());  // nil: no name
    });
}

// ---- running-application check -------------------------------------------------------------

NATIVE(jboolean, isAppRunning)(JNIEnv* env, jclass, jstring path) {
    return cocoaBracket<jboolean>(env, [&]() -> jboolean {
        const std::optional<NSString> wanted = JNFNormalizedNSStringForPath(env, path);
        if (!wanted) return JNI_FALSE;
        return isRunningNamed(*wanted) ? JNI_TRUE : JNI_FALSE;
    });
}

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

// ---- alias files ---------------------------------------------------------------------------
// Paths have a leading "~" expanded; names never do. The category methods log what fails.

namespace {
// A Java path's file URL, after tilde expansion: nil when no URL can be made of it.
std::optional<platform::NSURL> fileURLFromJavaPath(const NSString& path) {
    return platform::NSURL::fileURLWithPath(platform::stringByExpandingTildeInPath(path));
}

// The path of a URL's file path URL, or nil when that is empty or missing.
std::optional<NSString> nonEmptyFilePath(const std::optional<platform::NSURL>& url) {
    const std::optional<platform::NSURL> fileURL = url ? url->filePathURL() : std::nullopt;
    std::optional<NSString> path = fileURL ? std::optional<NSString>(fileURL->path()) : std::nullopt;
    if (!path || path->empty()) return std::nullopt;
    return path;
}
}  // namespace

NATIVE(jboolean, createShortcutItem)(JNIEnv* env, jclass, jstring name, jstring targetPath, jstring folderPath) {
    return cocoaBracket<jboolean>(env, [&]() -> jboolean {
        const std::optional<NSString> target = JNFNormalizedNSStringForPath(env, targetPath);
        const std::optional<NSString> folder = JNFNormalizedNSStringForPath(env, folderPath);
        const std::optional<NSString> n = JNFJavaToNSString(env, name);
        if (!target || !n || !folder) return JNI_FALSE;
        const std::optional<platform::NSURL> targetURL = fileURLFromJavaPath(*target);
        const std::optional<platform::NSURL> folderURL = fileURLFromJavaPath(*folder);
        if (!targetURL || !folderURL) return JNI_FALSE;
        platform::NSUserDefaults defaults = platform::NSUserDefaults::standardUserDefaults();
        return additions::createShortcutItem(defaults, *targetURL, *n, *folderURL) ? JNI_TRUE : JNI_FALSE;
    });
}

NATIVE(jboolean, removeShortcutItem)(JNIEnv* env, jclass, jstring name, jstring folderPath) {
    return cocoaBracket<jboolean>(env, [&]() -> jboolean {
        const std::optional<NSString> folder = JNFNormalizedNSStringForPath(env, folderPath);
        const std::optional<NSString> n = JNFJavaToNSString(env, name);
        if (!n || !folder) return JNI_FALSE;
        const std::optional<platform::NSURL> folderURL = fileURLFromJavaPath(*folder);
        if (!folderURL) return JNI_FALSE;
        platform::NSUserDefaults defaults = platform::NSUserDefaults::standardUserDefaults();
        return additions::removeShortcutItem(defaults, *n, *folderURL) ? JNI_TRUE : JNI_FALSE;
    });
}

NATIVE(jboolean, createDesktopItem)(JNIEnv* env, jclass, jstring name, jstring targetPath) {
    return cocoaBracket<jboolean>(env, [&]() -> jboolean {
        const std::optional<NSString> target = JNFNormalizedNSStringForPath(env, targetPath);
        const std::optional<NSString> n = JNFJavaToNSString(env, name);
        if (!target || !n) return JNI_FALSE;
        const std::optional<platform::NSURL> targetURL = fileURLFromJavaPath(*target);
        if (!targetURL) return JNI_FALSE;
        platform::NSUserDefaults defaults = platform::NSUserDefaults::standardUserDefaults();
        return additions::createDesktopItem(defaults, *targetURL, *n) ? JNI_TRUE : JNI_FALSE;
    });
}

NATIVE(jboolean, removeDesktopItem)(JNIEnv* env, jclass, jstring name) {
    return cocoaBracket<jboolean>(env, [&]() -> jboolean {
        const std::optional<NSString> n = JNFJavaToNSString(env, name);
        if (!n) return JNI_FALSE;
        platform::NSUserDefaults defaults = platform::NSUserDefaults::standardUserDefaults();
        return additions::removeDesktopItem(defaults, *n) ? JNI_TRUE : JNI_FALSE;
    });
}

NATIVE(jstring, getShortcutPath)(JNIEnv* env, jclass, jstring aliasPath) {
    return cocoaBracket<jstring>(env, [&]() -> jstring {
        const std::optional<NSString> alias = JNFNormalizedNSStringForPath(env, aliasPath);
        if (!alias) return nullptr;
        const std::optional<platform::NSURL> aliasURL = fileURLFromJavaPath(*alias);
        if (!aliasURL) return nullptr;
        const std::optional<platform::NSData> data = platform::bookmarkDataWithContentsOfURL(*aliasURL, nullptr);
        if (!data) return nullptr;
        const std::optional<platform::NSURL> resolved = platform::URLByResolvingBookmarkData(
            *data, platform::NSURLBookmarkResolutionWithoutUI | platform::NSURLBookmarkResolutionWithoutMounting,
            nullptr, nullptr);
        return JNFNormalizedJavaStringForPath(env, nonEmptyFilePath(resolved));
    });
}

// ---- standard folders ----------------------------------------------------------------------

NATIVE(jstring, getHomeFolder)(JNIEnv* env, jclass) {
    return cocoaBracket<jstring>(env, [&]() -> jstring {
        return JNFNormalizedJavaStringForPath(env, platform::NSHomeDirectory());
    });
}

NATIVE(jstring, getDesktopFolder)(JNIEnv* env, jclass) {
    return cocoaBracket<jstring>(env, [&]() -> jstring {
        const std::vector<platform::NSURL> urls = platform::NSFileManager::defaultManager().URLsForDirectory(
            platform::NSDesktopDirectory, platform::NSUserDomainMask);
        // No URL when there is no home folder (HOME empty or relative) or the Desktop's path is
        // not UTF-8: no Desktop, answered as a nil path rather than by indexing an empty array.
        if (urls.empty()) return nullptr;
        return JNFNormalizedJavaStringForPath(env, nonEmptyFilePath(urls.front()));
    });
}

// ---- folder chooser ------------------------------------------------------------------------
// The dialog runs on the main thread of the chooser program (platform/dialog/run_loop.h), which
// takes the three texts as they are converted here, on the calling thread, before the hop.

NATIVE(jstring, getFolder)(JNIEnv* env, jclass, jstring title, jstring prompt, jstring buttonTitle) {
    return cocoaBracket<jstring>(env, [&]() -> jstring {
        const ChooserTexts texts{JNFJavaToNSString(env, title), JNFJavaToNSString(env, prompt),
                                 JNFJavaToNSString(env, buttonTitle)};
        std::optional<NSString> folder;  // the result slot: nil until the work stores a path
        platform::JNFRunLoop::performOnMainThreadWaiting({texts.captured(), &folder});
        if (!folder || folder->empty()) return nullptr;
        return JNFNormalizedJavaStringForPath(env, folder);
    });  // the slot goes with the body: released once, whatever it held
}
