// The Cocoa half: natives that run their whole body inside the Cocoa bracket and work through
// the platform's Foundation-style objects, converting strings the JavaNativeFoundation way.
#include <jni.h>

#include <sys/stat.h>

#include "ChooserWork.h"
#include "FileFlags.h"
#include "NativeFrame.h"
#include "platform/bookmark.h"
#include "platform/file_manager.h"
#include "platform/log.h"
#include "platform/ns_string_paths.h"
#include "platform/run_loop.h"
#include "UserDefaultsAdditions.h"

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

namespace {
// The item's attributes, or nothing after the platform's error has been logged (`failed`).
std::optional<platform::NSFileAttributes> attributesLoggingError(const NSString& path, bool& failed) {
    std::optional<platform::NSError> error;
    std::optional<platform::NSFileAttributes> attributes =
        platform::NSFileManager::defaultManager().attributesOfItemAtPath(path, &error);
    failed = error.has_value();
    if (failed) platform::NSLog(error->localizedDescription());
    return failed ? std::nullopt : attributes;
}
}  // namespace

NATIVE(jbooleanArray, getFileAttributes)(JNIEnv* env, jclass, jstring path) {
    return cocoaBracket<jbooleanArray>(env, [&]() -> jbooleanArray {
        const std::optional<NSString> p = JNFNormalizedNSStringForPath(env, path);
        if (!p) return nullptr;
        bool failed = false;
        const std::optional<platform::NSFileAttributes> attributes = attributesLoggingError(*p, failed);
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
        const std::optional<NSString> p = JNFNormalizedNSStringForPath(env, path);
        if (!p) return nullptr;
        bool failed = false;
        const std::optional<platform::NSFileAttributes> attributes = attributesLoggingError(*p, failed);
        if (!attributes) return nullptr;
        return JNFNSToJavaString(env, attributes->fileOwnerAccountName());  // nil: no name
    });
}

// ---- running-application check -------------------------------------------------------------
// The routines are declared in ProcessList.h so that the unit tests can reach them.

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "ProcessList.h"
#include "platform/unicode.h"

namespace perivane {

namespace {

// A name from zero-terminated UTF-8 bytes, in Normalization Form C; invalid UTF-8 gives none.
std::optional<NSString> nameFromBytes(const char* bytes, size_t length) {
    std::optional<NSString> text = platform::utf8ToUtf16Strict(std::string_view(bytes, length));
    if (!text) return std::nullopt;
    return platform::precomposed(*text);
}

std::optional<NSString> shortCommandName(const kinfo_proc& proc) {
    const char* comm = proc.kp_proc.p_comm;
    return nameFromBytes(comm, strnlen(comm, sizeof proc.kp_proc.p_comm));
}

}  // namespace

int GetBSDProcessList(kinfo_proc** procList, unsigned long* procCount) {
    static const int kProcessTableName[3] = {platform::CTL_KERN, platform::KERN_PROC,
                                             platform::KERN_PROC_ALL};
    *procList = nullptr;
    *procCount = 0;
    // The table can grow between the size query and the read; then the read fails with ENOMEM
    // and we ask again. There is no limit on the attempts: each one sizes the buffer to the
    // table of that moment with room to spare, so only a table that keeps outgrowing that room
    // between two calls a few milliseconds apart keeps it going, and the number of processes is
    // bounded by the system.
    for (;;) {
        size_t size = 0;
        int error = platform::sysctl(kProcessTableName, 3, nullptr, &size, nullptr, 0);
        if (error == -1) error = errno;
        if (error != 0) return error;

        std::unique_ptr<kinfo_proc, void (*)(void*)> buffer(
            static_cast<kinfo_proc*>(std::malloc(size)), &std::free);
        if (buffer == nullptr) return ENOMEM;

        error = platform::sysctl(kProcessTableName, 3, buffer.get(), &size, nullptr, 0);
        if (error == -1) error = errno;
        if (error == 0) {
            *procList = buffer.release();
            *procCount = size / sizeof(kinfo_proc);
            return 0;
        }
        if (error != ENOMEM) return error;
    }
}

char* ArgumentBuffer::data() {
    if (data_ != nullptr) return data_.get();
    int name[2] = {platform::CTL_KERN, platform::KERN_ARGMAX};
    int argmax = 0;
    size_t length = sizeof argmax;
    if (platform::sysctl(name, 2, &argmax, &length, nullptr, 0) == -1 || argmax <= 0) {
        return nullptr;
    }
    // Not zero-filled: the pages are touched only as far as areas reach.
    data_.reset(static_cast<char*>(std::malloc(static_cast<size_t>(argmax))));
    if (data_ == nullptr) return nullptr;
    size_ = static_cast<size_t>(argmax);
    return data_.get();
}

std::optional<NSString> getproclline(kinfo_proc* proc, int* unused, int* argv0Length,
                                     int showArguments) {
    ArgumentBuffer buffer;
    return getproclline(proc, unused, argv0Length, showArguments, buffer);
}

std::optional<NSString> getproclline(kinfo_proc* proc, int*, int* argv0Length, int showArguments,
                                     ArgumentBuffer& buffer) {
    char* area = buffer.data();
    if (area == nullptr) return shortCommandName(*proc);

    int name[3] = {platform::CTL_KERN, platform::KERN_PROCARGS2, proc->kp_proc.p_pid};
    size_t size = buffer.size();
    // With the flag 0 only argv[0] is read, and the area may say so.
    const platform::AreaUse use =
        showArguments != 0 ? platform::AreaUse::whole : platform::AreaUse::firstArgument;
    if (platform::sysctl(name, 3, area, &size, nullptr, 0, use) == -1) {
        return shortCommandName(*proc);
    }
    const size_t end = size;  // the area is [0, end)

    // The executable path starts at 4 and must end within the area.
    size_t cursor = sizeof(int);
    while (cursor < end && area[cursor] != '\0') ++cursor;
    if (cursor >= end) return shortCommandName(*proc);
    // Skip the padding; the name starts at the first byte after it.
    while (cursor < end && area[cursor] == '\0') ++cursor;
    if (cursor >= end) return shortCommandName(*proc);
    const size_t start = cursor;

    int argc;
    std::memcpy(&argc, area, sizeof argc);
    char* lastEnd = nullptr;  // the last string terminator met so far
    int strings = 0;

    if (argc > 0) {
        while (cursor < end) {
            if (area[cursor] == '\0') {
                ++strings;
                if (lastEnd != nullptr) {
                    *lastEnd = ' ';
                } else if (argv0Length != nullptr) {
                    *argv0Length = static_cast<int>(cursor - start);
                }
                lastEnd = area + cursor;
                if (showArguments == 0) break;  // argv[0] alone
            }
            ++cursor;
            if (strings == argc) break;
        }
    }

    // The further strings (the environment first), only for our own processes or for root.
    if (showArguments != 0 && (::getuid() == 0 || proc->kp_eproc.e_pcred.p_ruid == ::getuid())) {
        while (cursor < end) {
            if (area[cursor] == '\0') {
                if (lastEnd != nullptr && area + cursor == lastEnd + 1) break;  // an empty string
                if (lastEnd != nullptr) *lastEnd = ' ';
                lastEnd = area + cursor;
            }
            ++cursor;
        }
    }

    if (lastEnd == nullptr) return shortCommandName(*proc);
    // Invalid UTF-8 gives no name; the short command name does not stand in for it.
    return nameFromBytes(area + start, static_cast<size_t>(lastEnd - (area + start)));
}

bool isRunningNamed(const NSString& path) {
    // Name every process first, then compare.
    std::vector<NSString> names;
    kinfo_proc* records = nullptr;
    unsigned long count = 0;
    if (GetBSDProcessList(&records, &count) == 0) {
        std::unique_ptr<kinfo_proc, void (*)(void*)> owned(records, &std::free);
        names.reserve(count);
        ArgumentBuffer buffer;  // one for all the processes of this call
        for (unsigned long i = 0; i < count; ++i) {
            if (records[i].kp_proc.p_pid == 0) continue;
            int argv0Length = 0;
            std::optional<NSString> name = getproclline(&records[i], nullptr, &argv0Length, 0, buffer);
            if (name) names.push_back(std::move(*name));
        }
    }
    for (const NSString& name : names) {
        if (platform::equalIgnoringCase(name, path)) return true;
    }
    return false;
}

}  // namespace perivane

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
        if (urls.empty()) {  // objectAtIndex: 0 of an empty array
            throw platform::NSException(platform::NSRangeException,
                                        "*** -[__NSArray0 objectAtIndex:]: index 0 beyond bounds for empty NSArray");
        }
        return JNFNormalizedJavaStringForPath(env, nonEmptyFilePath(urls.front()));
    });
}

// ---- folder chooser ------------------------------------------------------------------------
// The dialog runs on the main thread of the chooser program (platform/run_loop.h), which takes
// the three texts as they are converted here, on the calling thread, before the hop.

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
