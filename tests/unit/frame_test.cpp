// The frame's translation of failures, against a JNIEnv whose few functions record what the
// frame asked of the JVM.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdlib>
#include <exception>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "VLPerivaneJNI/NativeFrame.h"
#include "platform/unicode.h"

using namespace perivane;
using namespace perivane::jni;

namespace {
// Set to make every allocation fail, as it may when memory runs out.
thread_local bool failAllocations = false;
}  // namespace

void* operator new(std::size_t size) {
    void* p = failAllocations ? nullptr : std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

// A JVM that knows a few classes and records what was thrown. A callback finds its fake
// through the env, which sits at the start of a standard-layout pair with a pointer back.
struct FakeJvm {
    struct Env {
        JNIEnv env;
        FakeJvm* owner;
    };
    JNINativeInterface_ functions{};
    Env holder{{&functions}, this};
    JNIEnv* const env = &holder.env;
    std::set<std::string, std::less<>> missingClasses;
    std::vector<std::pair<std::string, std::string>> thrown;  // class, message ("<null>" for none)
    bool pending = false;

    static FakeJvm& of(JNIEnv* env) { return *reinterpret_cast<Env*>(env)->owner; }

    FakeJvm() {
        functions.FindClass = [](JNIEnv* env, const char* name) -> jclass {
            if (of(env).missingClasses.count(name)) {
                of(env).pending = true;  // NoClassDefFoundError
                return nullptr;
            }
            return reinterpret_cast<jclass>(const_cast<char*>(name));  // the frame's names are literals
        };
        functions.ThrowNew = [](JNIEnv* env, jclass cls, const char* message) -> jint {
            failAllocations = false;  // the JVM's own memory
            FakeJvm& jvm = of(env);
            EXPECT_FALSE(jvm.pending) << "ThrowNew with an exception pending";
            jvm.thrown.emplace_back(reinterpret_cast<const char*>(cls), message ? message : "<null>");
            jvm.pending = true;
            return 0;
        };
        functions.ExceptionCheck = [](JNIEnv* env) -> jboolean { return of(env).pending ? JNI_TRUE : JNI_FALSE; };
        functions.DeleteLocalRef = [](JNIEnv*, jobject) {};
        functions.NewString = [](JNIEnv*, const jchar*, jsize) { return reinterpret_cast<jstring>(0x1); };
    }
    FakeJvm(const FakeJvm&) = delete;
};

int exits = 0;
platform::PoolToken nullToken() noexcept { return nullptr; }
platform::PoolToken someToken() noexcept { return reinterpret_cast<platform::PoolToken>(0x1); }
void countExit(platform::PoolToken) noexcept { ++exits; }

}  // namespace

TEST(Frame, ThrowJavaStopsQuietlyWhenTheClassIsMissing) {
    FakeJvm jvm;
    jvm.missingClasses.insert("java/io/IOException");
    throwJava(jvm.env, "java/io/IOException", "Failed to create symbolic link.");
    EXPECT_TRUE(jvm.thrown.empty());
    EXPECT_TRUE(jvm.pending);  // only the JVM's own lookup error

    FakeJvm ok;
    throwJava(ok.env, "java/lang/OutOfMemoryError", nullptr);
    ASSERT_EQ(ok.thrown.size(), 1u);
    EXPECT_EQ(ok.thrown[0], std::make_pair(std::string("java/lang/OutOfMemoryError"), std::string("<null>")));
}

TEST(Frame, EveryCppFailureBecomesOneJavaExceptionAndTheZeroValue) {
    struct Case {
        std::function<void()> raise;
        std::string cls, message;
    };
    const std::vector<Case> cases = {
        {[] { throw std::bad_alloc(); }, "java/lang/OutOfMemoryError", "<null>"},
        {[] { throw std::runtime_error("disk on fire"); }, "java/lang/Error", "disk on fire"},
        {[] { throw 42; }, "java/lang/Error", "unknown C++ exception in a native method"},
        {[] { throw JavaThrow{"java/io/IOException", "Failed to create symbolic link."}; },
         "java/io/IOException", "Failed to create symbolic link."},
        {[] { throw platform::NSException("NSInvalidArgumentException", "bad key"); },
         "java/lang/RuntimeException", "Non-Java exception raised, not handled! (Original problem: bad key)"},
    };
    for (const auto& c : cases) {
        FakeJvm jvm;
        jint r = nativeFrame<jint>(jvm.env, [&]() -> jint { c.raise(); return 7; });
        EXPECT_EQ(r, 0);
        ASSERT_EQ(jvm.thrown.size(), 1u) << c.cls;
        EXPECT_EQ(jvm.thrown[0].first, c.cls);
        EXPECT_EQ(jvm.thrown[0].second, c.message);
    }
}

TEST(Frame, AnExceptionAlreadyPendingIsKept) {
    FakeJvm jvm;
    jvm.pending = true;  // e.g. the JVM could not supply a string's characters
    jobject r = nativeFrame<jobject>(jvm.env, []() -> jobject { throw std::bad_alloc(); });
    EXPECT_EQ(r, nullptr);
    EXPECT_TRUE(jvm.thrown.empty());

    FakeJvm quiet;
    nativeFrame<void>(quiet.env, [] { throw JavaExceptionPending{}; });
    EXPECT_TRUE(quiet.thrown.empty());
}

TEST(Frame, CocoaBracketDrainsThePoolOnEveryWayOut) {
    exits = 0;
    FakeJvm jvm;
    jboolean r = cocoaBracketWith<jboolean>(jvm.env, &someToken, &countExit, []() -> jboolean {
        throw platform::NSException("NSInvalidArgumentException", std::nullopt);
    });
    EXPECT_EQ(r, JNI_FALSE);
    EXPECT_EQ(exits, 1);
    ASSERT_EQ(jvm.thrown.size(), 1u);
    EXPECT_EQ(jvm.thrown[0].second, "Non-Java exception raised, not handled! (Original problem: (null))");

    FakeJvm other;
    EXPECT_EQ(cocoaBracketWith<jint>(other.env, &someToken, &countExit, []() -> jint { throw std::bad_alloc(); }), 0);
    EXPECT_EQ(exits, 2);
    EXPECT_EQ(other.thrown.at(0).first, "java/lang/OutOfMemoryError");

    EXPECT_EQ(cocoaBracketWith<jint>(other.env, &someToken, &countExit, []() -> jint { return 5; }), 5);
    EXPECT_EQ(exits, 3);

    // A null token still runs the body, and there is nothing to exit.
    EXPECT_EQ(cocoaBracketWith<jint>(other.env, &nullToken, &countExit, []() -> jint { return 3; }), 3);
    EXPECT_EQ(exits, 3);
}

// A failing allocation in a handler would throw out of a noexcept frame and end the JVM: with
// every allocation failing, a platform exception still becomes its Java exception.
TEST(Frame, HandlersAllocateNothing) {
    const std::string reason(300, 'r');
    const std::exception_ptr raised = std::make_exception_ptr(platform::NSException("NSGenericException", reason));
    for (bool bracket : {false, true}) {
        FakeJvm jvm;
        auto body = [&]() -> jint { std::rethrow_exception(raised); };
        failAllocations = true;
        const jint r = bracket ? cocoaBracketWith<jint>(jvm.env, &someToken, &countExit, body)
                               : nativeFrame<jint>(jvm.env, body);
        failAllocations = false;
        EXPECT_EQ(r, 0);
        ASSERT_EQ(jvm.thrown.size(), 1u);
        EXPECT_EQ(jvm.thrown[0].second, "Non-Java exception raised, not handled! (Original problem: " + reason + ")");
    }
}

// Lengths are checked before they are narrowed to the int32_t that ICU and JNI count in: a text
// too long for them is an allocation failure (OutOfMemoryError), never a cut or an ICU error.
TEST(Frame, LengthsPastInt32AreAllocationFailures) {
    const size_t units = (size_t{1} << 31) + 8;
    void* pages = mmap(nullptr, units * 2, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(pages, MAP_FAILED);
    const std::u16string_view huge(static_cast<const char16_t*>(pages), units);
    EXPECT_THROW(platform::precomposed(huge), std::bad_alloc);
    EXPECT_THROW(platform::equalIgnoringCase(huge, u"x"), std::bad_alloc);
    FakeJvm jvm;
    EXPECT_THROW(newString(jvm.env, huge), std::bad_alloc);
    munmap(pages, units * 2);
}
