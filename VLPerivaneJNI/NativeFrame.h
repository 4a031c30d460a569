// The frame shared by every native: how failures cross into Java, the two calling conventions
// (plain JNI, and the Cocoa bracket), RAII holders for what JNI hands out, and the string
// conversions. This is the only code that knows how a C++ failure becomes a Java exception;
// no C++ exception ever leaves a function declared here.
#pragma once

#include <jni.h>

#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/base/autorelease_pool.h"
#include "platform/base/exception.h"
#include "platform/base/strings.h"

// The exported name of a native of com.veltor.perivane.Perivane (the JNI short-name rule).
#define NATIVE(ret, name) extern "C" JNIEXPORT ret JNICALL Java_com_veltor_perivane_Perivane_##name

namespace perivane::jni {

using platform::NSString;

// Finds `className` and throws a new instance of it with `message` (null: no message). When the
// class cannot be found nothing more is thrown: the JVM's own lookup error stays pending.
void throwJava(JNIEnv* env, const char* className, const char* message) noexcept;

// Thrown by the helpers below when a JNI call has left a Java exception pending (the JVM could
// not supply a string's characters, an allocation failed, ...). The frame lets it stand.
struct JavaExceptionPending {};

// A Java exception for C++ code to throw: the frame raises it in Java unless another one is
// already pending.
struct JavaThrow {
    const char* className;
    std::string message;  // empty: no message
};

// Turns whatever a native body threw into the Java exception that stands for it.
void translateCurrentException(JNIEnv* env) noexcept;

template <typename R>
R zeroValue() noexcept {
    if constexpr (!std::is_void_v<R>) return R{};
}

// The one entry frame of every native: runs the body and turns any C++ exception into a
// pending Java exception and the native's zero value (null, false, 0).
template <typename R, typename Body>
R nativeFrame(JNIEnv* env, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        translateCurrentException(env);
        return zeroValue<R>();
    }
}

// The Cocoa bracket with its pool calls given explicitly (tests give a null token).
template <typename R, typename Body>
R cocoaBracketWith(JNIEnv* env, platform::PoolToken (*enter)() noexcept,
                   void (*exit)(platform::PoolToken) noexcept, Body&& body) noexcept {
    return nativeFrame<R>(env, [&]() -> R {
        struct Pool {
            void (*exit)(platform::PoolToken) noexcept;
            platform::PoolToken token;
            ~Pool() {
                if (token != nullptr) exit(token);  // drained on every way out
            }
        } pool{exit, enter()};
        try {
            return body();
        } catch (const platform::NSException& e) {
            translateCurrentException(env);  // throwToJava:exception:
            return zeroValue<R>();
        }
    });
}

// The bracket every Cocoa-half native runs its whole body in: opens an autorelease pool, runs
// the body, turns a platform exception into a java.lang.RuntimeException, drains the pool.
template <typename R, typename Body>
R cocoaBracket(JNIEnv* env, Body&& body) noexcept {
    return cocoaBracketWith<R>(env, &platform::JNFNativeMethodEnter,
                               &platform::JNFNativeMethodExit, std::forward<Body>(body));
}

// ---- holders -------------------------------------------------------------------------------

// A Java string's UTF-16 units, copied out with GetStringRegion into the holder: a string of
// common length needs no heap block, a longer one one block, and nothing is owed to the JVM
// afterwards (GetStringChars would make a heap copy of every compact string anyway).
class JavaUnits {
public:
    JavaUnits(JNIEnv* env, jstring s);  // s non-null; a longer string can throw std::bad_alloc
    JavaUnits(JNIEnv* env, jstring s, jsize length);  // its length known already
    std::u16string_view view() const noexcept { return {units_.data(), units_.size()}; }

private:
    platform::UnitBuffer<256> units_;
};

// The bytes a POSIX call takes for a Java path: standard UTF-8 made from its UTF-16 units.
class PosixPath {
public:
    PosixPath(JNIEnv* env, jstring s);  // s non-null
    // Null when the string cannot name a file (it holds U+0000 or a lone surrogate).
    const char* c_str() const noexcept { return name_.c_str(); }

private:
    JavaUnits units_;
    platform::FileSystemName name_;
};

// A JNI local reference, deleted when the holder goes unless handed out with release().
template <typename T>
class LocalRef {
public:
    LocalRef(JNIEnv* env, T ref) noexcept : env_(env), ref_(ref) {}
    ~LocalRef() {
        if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
    }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    T get() const noexcept { return ref_; }
    explicit operator bool() const noexcept { return ref_ != nullptr; }
    T release() noexcept { return std::exchange(ref_, nullptr); }

private:
    JNIEnv* env_;
    T ref_;
};

// Throws java.lang.NullPointerException naming the parameter when `s` is null.
void requireNonNull(JNIEnv* env, jobject s, const char* parameter);

// ---- results -------------------------------------------------------------------------------

// NewString of the units; a null from the JVM (its error pending) throws JavaExceptionPending.
jstring newString(JNIEnv* env, std::u16string_view units);

// A Java string from bytes the system gave (UTF-8): invalid sequences become U+FFFD. A null
// from the JVM (its error pending) throws JavaExceptionPending.
jstring newStringFromUtf8(JNIEnv* env, std::string_view bytes);

// ---- conversions of the Cocoa half ---------------------------------------------------------

// Java path -> platform string. Null gives nil; an empty path raises as the platform's file
// manager does. Other paths pass unchanged: Linux names files by the bytes given.
std::optional<NSString> JNFNormalizedNSStringForPath(JNIEnv* env, jstring path);

// The same path's units held in place rather than in a new platform string, for a native that
// hands the path straight to the system: nothing for null; an empty path raises as above.
std::optional<JavaUnits> JNFNormalizedPathUnits(JNIEnv* env, jstring path);

// Java text -> platform string, unchanged; null gives nil.
std::optional<NSString> JNFJavaToNSString(JNIEnv* env, jstring text);

// Platform path -> Java string in Normalization Form C where that spelling names the same item
// as the path (or neither names anything), else as the path is spelled; nil gives null.
jstring JNFNormalizedJavaStringForPath(JNIEnv* env, const std::optional<NSString>& path);

// Platform text -> Java string, unchanged; nil gives null.
jstring JNFNSToJavaString(JNIEnv* env, const std::optional<NSString>& text);

// A new Java boolean array; when the JVM cannot make it, its error stays pending and the
// bracket returns the native's zero value.
jbooleanArray JNFNewBooleanArray(JNIEnv* env, jsize count);

}  // namespace perivane::jni
