// The frame's translation of failures, against a JNIEnv whose few functions record what the
// frame asked of the JVM.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "VLPerivaneJNI/NativeFrame.h"

using namespace perivane;
using namespace perivane::jni;

namespace {

struct FakeJvm {
    JNINativeInterface_ functions{};
    JNIEnv env{};
    std::set<std::string> missingClasses;
    std::vector<std::string> findClassCalls;
    std::vector<std::pair<std::string, std::string>> thrown;  // class, message ("<null>" for none)
    bool pending = false;

    // The fake whose env a callback was given (each test makes its fakes one at a time).
    static FakeJvm& of(JNIEnv* env) {
        for (FakeJvm* f : live()) {
            if (&f->env == env) return *f;
        }
        throw std::logic_error("unknown JNIEnv");
    }
    static std::vector<FakeJvm*>& live() {
        static std::vector<FakeJvm*> all;
        return all;
    }
    ~FakeJvm() { std::erase(live(), this); }
    FakeJvm(const FakeJvm&) = delete;

    FakeJvm() {
        functions.FindClass = [](JNIEnv* env, const char* name) -> jclass {
            FakeJvm& jvm = of(env);
            jvm.findClassCalls.push_back(name);
            if (jvm.missingClasses.count(name)) {
                jvm.pending = true;  // NoClassDefFoundError
                return nullptr;
            }
            return reinterpret_cast<jclass>(new std::string(name));
        };
        functions.ThrowNew = [](JNIEnv* env, jclass cls, const char* message) -> jint {
            FakeJvm& jvm = of(env);
            EXPECT_FALSE(jvm.pending) << "ThrowNew with an exception pending";
            jvm.thrown.emplace_back(*reinterpret_cast<std::string*>(cls), message ? message : "<null>");
            jvm.pending = true;
            return 0;
        };
        functions.ExceptionCheck = [](JNIEnv* env) -> jboolean { return of(env).pending ? JNI_TRUE : JNI_FALSE; };
        functions.DeleteLocalRef = [](JNIEnv*, jobject ref) { delete reinterpret_cast<std::string*>(ref); };
        env.functions = &functions;
        live().push_back(this);
    }
};

int exits = 0;
platform::PoolToken nullToken() noexcept { return nullptr; }
platform::PoolToken someToken() noexcept { return reinterpret_cast<platform::PoolToken>(0x1); }
void countExit(platform::PoolToken) noexcept { ++exits; }

}  // namespace

TEST(Frame, ThrowJavaStopsQuietlyWhenTheClassIsMissing) {
    FakeJvm jvm;
    jvm.missingClasses.insert("java/io/IOException");
    throwJava(&jvm.env, "java/io/IOException", "Failed to create symbolic link.");
    EXPECT_TRUE(jvm.thrown.empty());
    EXPECT_TRUE(jvm.pending);  // only the JVM's own lookup error

    FakeJvm ok;
    throwJava(&ok.env, "java/lang/OutOfMemoryError", nullptr);
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
        jint r = nativeFrame<jint>(&jvm.env, [&]() -> jint { c.raise(); return 7; });
        EXPECT_EQ(r, 0);
        ASSERT_EQ(jvm.thrown.size(), 1u) << c.cls;
        EXPECT_EQ(jvm.thrown[0].first, c.cls);
        EXPECT_EQ(jvm.thrown[0].second, c.message);
    }
}

TEST(Frame, AnExceptionAlreadyPendingIsKept) {
    FakeJvm jvm;
    jvm.pending = true;  // e.g. the JVM could not supply a string's characters
    jobject r = nativeFrame<jobject>(&jvm.env, []() -> jobject { throw std::bad_alloc(); });
    EXPECT_EQ(r, nullptr);
    EXPECT_TRUE(jvm.thrown.empty());

    FakeJvm quiet;
    nativeFrame<void>(&quiet.env, [] { throw JavaExceptionPending{}; });
    EXPECT_TRUE(quiet.thrown.empty());
}

TEST(Frame, CocoaBracketDrainsThePoolOnEveryWayOut) {
    exits = 0;
    FakeJvm jvm;
    jboolean r = cocoaBracketWith<jboolean>(&jvm.env, &someToken, &countExit, []() -> jboolean {
        throw platform::NSException("NSInvalidArgumentException", std::nullopt);
    });
    EXPECT_EQ(r, JNI_FALSE);
    EXPECT_EQ(exits, 1);
    ASSERT_EQ(jvm.thrown.size(), 1u);
    EXPECT_EQ(jvm.thrown[0].second, "Non-Java exception raised, not handled! (Original problem: (null))");

    FakeJvm other;
    EXPECT_EQ(cocoaBracketWith<jint>(&other.env, &someToken, &countExit, []() -> jint { throw std::bad_alloc(); }), 0);
    EXPECT_EQ(exits, 2);
    EXPECT_EQ(other.thrown.at(0).first, "java/lang/OutOfMemoryError");

    EXPECT_EQ(cocoaBracketWith<jint>(&other.env, &someToken, &countExit, []() -> jint { return 5; }), 5);
    EXPECT_EQ(exits, 3);
}

TEST(Frame, CocoaBracketWithANullTokenRunsTheBodyAndSkipsTheExit) {
    exits = 0;
    FakeJvm jvm;
    bool ran = false;
    jint r = cocoaBracketWith<jint>(&jvm.env, &nullToken, &countExit, [&]() -> jint {
        ran = true;
        return 3;
    });
    EXPECT_TRUE(ran);
    EXPECT_EQ(r, 3);
    EXPECT_EQ(exits, 0);
}

TEST(Frame, RealPoolTokensNestAndUnwind) {
    FakeJvm jvm;
    EXPECT_EQ(platform::openPoolCount(), 0);
    cocoaBracket<void>(&jvm.env, [&] {
        EXPECT_EQ(platform::openPoolCount(), 1);
        cocoaBracket<void>(&jvm.env, [&] { EXPECT_EQ(platform::openPoolCount(), 2); });
        throw platform::NSException("NSGenericException", "x");
    });
    EXPECT_EQ(platform::openPoolCount(), 0);
}

TEST(Frame, TextUpToTheFirstNul) {
    EXPECT_EQ(untilFirstNul(std::u16string_view(u"ab\0c", 4)), u"ab");
    EXPECT_EQ(untilFirstNul(u"abc"), u"abc");
    EXPECT_EQ(untilFirstNul(std::u16string_view(u"\0", 1)), u"");
}
