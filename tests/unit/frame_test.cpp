// The frame's translation of failures, against a JNIEnv whose few functions record what the
// frame asked of the JVM.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "VLPerivaneJNI/NativeFrame.h"
#include "VLPerivaneJNI/UnwindLookup.h"
#include "platform/base/strings.h"
#include "platform/base/unicode.h"
#include <unicode/normalizer2.h>

using namespace perivane;
using namespace perivane::jni;

namespace {
// Set to make every allocation fail, as it may when memory runs out.
thread_local bool failAllocations = false;
}  // namespace

// Never inlined: a tool that puts its own allocator in their place (valgrind) then gets every
// call, and never frees a block its allocator gave with free().
[[gnu::noinline]] void* operator new(std::size_t size) {
    void* p = failAllocations ? nullptr : std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

// A JVM that records what was thrown. A callback finds its fake through the env, which sits at
// the start of a standard-layout pair with a pointer back.
struct FakeJvm {
    struct Env {
        JNIEnv env;
        FakeJvm* owner;
    };
    JNINativeInterface_ functions{};
    Env holder{{&functions}, this};
    JNIEnv* const env = &holder.env;
    const char* missingClass = "";
    std::vector<std::pair<std::string, std::string>> thrown;  // class, message ("<null>" for none)
    bool pending = false;

    static FakeJvm& of(JNIEnv* env) { return *reinterpret_cast<Env*>(env)->owner; }

    FakeJvm() {
        functions.FindClass = [](JNIEnv* env, const char* name) -> jclass {
            of(env).pending = of(env).pending || std::strcmp(name, of(env).missingClass) == 0;  // NoClassDefFoundError
            return of(env).pending ? nullptr : reinterpret_cast<jclass>(const_cast<char*>(name));
        };
        functions.ThrowNew = [](JNIEnv* env, jclass cls, const char* message) -> jint {
            failAllocations = false;  // the JVM's own memory
            EXPECT_FALSE(of(env).pending) << "ThrowNew with an exception pending";
            of(env).thrown.emplace_back(reinterpret_cast<const char*>(cls), message ? message : "<null>");
            return of(env).pending = true, 0;
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
    jvm.missingClass = "java/io/IOException";
    throwJava(jvm.env, "java/io/IOException", "Failed to create symbolic link.");
    EXPECT_TRUE(jvm.thrown.empty());
    EXPECT_TRUE(jvm.pending);  // only the JVM's own lookup error
}

// Each case: what the body raises, whether the JVM has an exception pending already, and the
// one Java exception thrown (none when one was pending: the first tells what went wrong).
TEST(Frame, EveryCppFailureBecomesOneJavaExceptionAndTheZeroValue) {
    struct Case { std::function<void()> raise; bool pendingFirst; const char* cls; const char* message; };
    const std::vector<Case> cases = {
        {[] { throw std::bad_alloc(); }, false, "java/lang/OutOfMemoryError", "<null>"},
        {[] { throw std::runtime_error("disk on fire"); }, false, "java/lang/Error", "disk on fire"},
        {[] { throw 42; }, false, "java/lang/Error", "unknown C++ exception in a native method"},
        {[] { throw JavaThrow{"java/io/IOException", "Failed to create symbolic link."}; }, false,
         "java/io/IOException", "Failed to create symbolic link."},
        {[] { throw platform::NSException("NSInvalidArgumentException", std::nullopt); }, false,
         "java/lang/RuntimeException", "Non-Java exception raised, not handled! (Original problem: (null))"},
        {[] { throw std::bad_alloc(); }, true, nullptr, nullptr},
        {[] { throw JavaExceptionPending{}; }, false, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        FakeJvm jvm;
        jvm.pending = c.pendingFirst;
        EXPECT_EQ(nativeFrame<jint>(jvm.env, [&]() -> jint { c.raise(); return 7; }), 0);
        const decltype(jvm.thrown) expected = c.cls ? decltype(jvm.thrown){{c.cls, c.message}} : decltype(jvm.thrown){};
        EXPECT_EQ(jvm.thrown, expected);
    }
}

TEST(Frame, CocoaBracketDrainsThePoolOnEveryWayOut) {
    exits = 0;
    FakeJvm jvm;
    EXPECT_EQ(cocoaBracketWith<jint>(jvm.env, &someToken, &countExit, []() -> jint { throw platform::NSException("N", "x"); }), 0);
    EXPECT_EQ(cocoaBracketWith<jint>(jvm.env, &someToken, &countExit, []() -> jint { throw std::bad_alloc(); }), 0);
    EXPECT_EQ(cocoaBracketWith<jint>(jvm.env, &someToken, &countExit, []() -> jint { return 5; }), 5);
    EXPECT_EQ(exits, 3);
    ASSERT_EQ(jvm.thrown.size(), 1u);
    EXPECT_EQ(jvm.thrown[0].first, "java/lang/RuntimeException");
    // A null token still runs the body, and there is nothing to exit.
    EXPECT_EQ(cocoaBracketWith<jint>(jvm.env, &nullToken, &countExit, []() -> jint { return 3; }), 3);
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

// ICU is linked in with a stub in place of its data package: a form that needs the data fails,
// and every ICU routine the library calls answers from the data compiled into ICU's code.
TEST(Frame, IcuAnswersWithoutItsDataPackage) {
    UErrorCode status = U_ZERO_ERROR;
    EXPECT_EQ(icu::Normalizer2::getNFKCInstance(status), nullptr);
    EXPECT_TRUE(U_FAILURE(status));
    EXPECT_EQ(platform::precomposed(u"A\u030a\u212b"), u"\u00c5\u00c5");
    EXPECT_EQ(platform::decomposed(u"\u00e9\ud55c"), u"e\u0301\u1112\u1161\u11ab");
    EXPECT_EQ(platform::fileSystemDecomposed(u"\u00e9\u2126\uf900"), u"e\u0301\u2126\uf900");
    EXPECT_TRUE(platform::equalIgnoringCase(u"STRASS\u00c9", u"stra\u00dfe\u0301"));
    EXPECT_TRUE(platform::CaselessText(u"\u00c9T\u00c9").equals(u"e\u0301te\u0301"));
    EXPECT_EQ(platform::comparisonLength(u"\u00df\u00c9"), 4u);
    EXPECT_EQ(platform::utf16ToUtf8(u"\u00e9\U0001F600"), "\u00e9\U0001F600");
    EXPECT_EQ(platform::utf8ToUtf16Strict("\u00e9\U0001F600"), u"\u00e9\U0001F600");
}

// The unwinder's object lookup where glibc lacks its own (2.34) answers as glibc's does.
TEST(Frame, UnwindLookupFindsWhatGlibcFinds) {
    for (void* pc : {reinterpret_cast<void*>(&findObjectByProgramHeaders), reinterpret_cast<void*>(&printf)}) {
        dl_find_object walked{}, glibc{};
        ASSERT_EQ(findObjectByProgramHeaders(pc, &walked), 0);
        ASSERT_EQ(_dl_find_object(pc, &glibc), 0);
        EXPECT_NE(walked.dlfo_eh_frame, nullptr);
        EXPECT_EQ(walked.dlfo_eh_frame, glibc.dlfo_eh_frame);
        EXPECT_EQ(walked.dlfo_map_start, glibc.dlfo_map_start);
    }
    dl_find_object none{};
    EXPECT_EQ(findObjectByProgramHeaders(nullptr, &none), -1);
}
