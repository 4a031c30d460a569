#include "NativeFrame.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <limits>
#include <string_view>

#include "platform/base/file_system.h"
#include "platform/base/unicode.h"

namespace perivane::jni {

void throwJava(JNIEnv* env, const char* className, const char* message) noexcept {
    jclass cls = env->FindClass(className);
    if (cls == nullptr) return;  // the JVM's NoClassDefFoundError is pending
    env->ThrowNew(cls, message);
    env->DeleteLocalRef(cls);
}

namespace {
// Raises a Java exception unless one is pending already: a JNI call made with an exception
// pending is an error, and the first exception is the one that tells what went wrong.
void throwUnlessPending(JNIEnv* env, const char* className, const char* message) noexcept {
    if (!env->ExceptionCheck()) throwJava(env, className, message);
}

// The message the platform's throwToJava:exception: gives an exception it does not know,
// written into `out` without allocating (this runs in a handler, where a failure to allocate
// would end the JVM). A reason too long for it is cut at a character boundary.
template <size_t N>
const char* nonJavaExceptionMessage(const char* reason, char (&out)[N]) noexcept {
    constexpr std::string_view prefix = "Non-Java exception raised, not handled! (Original problem: ";
    std::string_view text(reason);
    if (text.size() > N - prefix.size() - 2) {
        text = text.substr(0, N - prefix.size() - 2);
        while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) text.remove_suffix(1);
        if (!text.empty() && static_cast<unsigned char>(text.back()) >= 0xC0) text.remove_suffix(1);
    }
    char* end = std::copy(prefix.begin(), prefix.end(), out);
    end = std::copy(text.begin(), text.end(), end);
    end[0] = ')';
    end[1] = '\0';
    return out;
}
}  // namespace

void translateCurrentException(JNIEnv* env) noexcept {
    try {
        throw;
    } catch (const JavaExceptionPending&) {
        // The JVM's own exception is pending and says what failed.
    } catch (const JavaThrow& t) {
        throwUnlessPending(env, t.className, t.message.empty() ? nullptr : t.message.c_str());
    } catch (const platform::NSException& e) {
        char message[2048];
        throwUnlessPending(env, "java/lang/RuntimeException", nonJavaExceptionMessage(e.reasonText(), message));
    } catch (const std::bad_alloc&) {
        throwUnlessPending(env, "java/lang/OutOfMemoryError", nullptr);
    } catch (const std::exception& e) {
        throwUnlessPending(env, "java/lang/Error", e.what());
    } catch (...) {
        throwUnlessPending(env, "java/lang/Error", "unknown C++ exception in a native method");
    }
}

JavaUnits::JavaUnits(JNIEnv* env, jstring s) : JavaUnits(env, s, env->GetStringLength(s)) {}

JavaUnits::JavaUnits(JNIEnv* env, jstring s, jsize length) : units_(static_cast<size_t>(length)) {
    env->GetStringRegion(s, 0, length, reinterpret_cast<jchar*>(units_.data()));  // in range: cannot fail
}

PosixPath::PosixPath(JNIEnv* env, jstring s) : units_(env, s), name_(units_.view()) {}

void requireNonNull(JNIEnv* env, jobject s, const char* parameter) {
    if (s == nullptr) throw JavaThrow{"java/lang/NullPointerException", parameter};
}

jstring newString(JNIEnv* env, std::u16string_view units) {
    // A Java string holds at most 2^31 - 1 units: a longer text cannot be made (never cut).
    if (units.size() > static_cast<size_t>(std::numeric_limits<jsize>::max())) throw std::bad_alloc();
    jstring s = env->NewString(reinterpret_cast<const jchar*>(units.data()),
                               static_cast<jsize>(units.size()));
    if (s == nullptr) throw JavaExceptionPending{};
    return s;
}

jstring newStringFromUtf8(JNIEnv* env, std::string_view bytes) {
    // ASCII, the common case, widens unit for unit without a heap block.
    char16_t onStack[256];
    if (bytes.size() <= std::size(onStack) &&
        std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        std::copy(bytes.begin(), bytes.end(), onStack);
        return newString(env, std::u16string_view(onStack, bytes.size()));
    }
    return newString(env, platform::utf8ToUtf16Lossy(bytes));
}

std::optional<NSString> JNFJavaToNSString(JNIEnv* env, jstring text) {
    if (text == nullptr) return std::nullopt;
    const jsize length = env->GetStringLength(text);
    NSString out(static_cast<size_t>(length), u'\0');
    env->GetStringRegion(text, 0, length, reinterpret_cast<jchar*>(out.data()));  // in range: cannot fail
    return out;
}

namespace {
// What the platform's file manager raises for an empty path.
void refuseEmpty(size_t length) {
    if (length != 0) return;
    throw platform::NSException(
        platform::NSInvalidArgumentException,
        "*** -[NSFileManager fileSystemRepresentationWithPath:]: nil or empty path argument");
}
}  // namespace

std::optional<NSString> JNFNormalizedNSStringForPath(JNIEnv* env, jstring path) {
    std::optional<NSString> s = JNFJavaToNSString(env, path);
    if (s) refuseEmpty(s->size());
    return s;
}

std::optional<JavaUnits> JNFNormalizedPathUnits(JNIEnv* env, jstring path) {
    if (path == nullptr) return std::nullopt;
    const jsize length = env->GetStringLength(path);
    refuseEmpty(static_cast<size_t>(length));
    return std::optional<JavaUnits>(std::in_place, env, path, length);
}

jstring JNFNSToJavaString(JNIEnv* env, const std::optional<NSString>& text) {
    if (!text) return nullptr;
    return newString(env, *text);
}

jstring JNFNormalizedJavaStringForPath(JNIEnv* env, const std::optional<NSString>& path) {
    if (!path) return nullptr;
    return newString(env, platform::inFormCWhereItNamesTheSameItem(*path));
}

jbooleanArray JNFNewBooleanArray(JNIEnv* env, jsize count) {
    jbooleanArray array = env->NewBooleanArray(count);
    if (array == nullptr || env->ExceptionCheck()) throw JavaExceptionPending{};
    return array;
}

}  // namespace perivane::jni
