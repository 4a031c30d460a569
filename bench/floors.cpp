// The floors of the benchmarks, in a JNI library of their own (never part of libperivane.so):
// what a native cannot go below, measured in the benchmark's own JVM and timed alternately with
// the native. Bound to com.veltor.perivane.bench.Floor:
//   same(s)          an empty JNI call: returns its argument
//   read(s)          copies the string's units to the stack (GetStringLength, GetStringRegion),
//                    then returns its argument: what any native that reads a short string costs
//   holdText(s)      keeps a copy of the string's units in native memory, for compose()
//   compose()        ICU's Normalization Form C of the held text into a buffer made before;
//                    returns the result's length
//   composeString()  the same, then NewString of the result: what any native that returns
//                    the composed text as a Java string cannot go below
//   scanProcesses()  lists /proc and reads every /proc/PID/cmdline with one read into a 64 KiB
//                    buffer, parsing, converting and comparing nothing; returns the processes seen
#include <dirent.h>
#include <fcntl.h>
#include <jni.h>
#include <unistd.h>
#include <unicode/unorm2.h>

#include <cstdio>
#include <vector>

namespace {

std::vector<UChar> heldText;
std::vector<UChar> composed;
char cmdline[1 << 16];
volatile long sink;

const UNormalizer2* nfc() {
    UErrorCode status = U_ZERO_ERROR;
    return unorm2_getNFCInstance(&status);
}

}  // namespace

extern "C" {

JNIEXPORT jstring JNICALL Java_com_veltor_perivane_bench_Floor_same(JNIEnv*, jclass, jstring s) { return s; }

JNIEXPORT jstring JNICALL Java_com_veltor_perivane_bench_Floor_read(JNIEnv* env, jclass, jstring s) {
    jchar units[256];
    const jsize length = env->GetStringLength(s);
    if (length > 256) return nullptr;
    env->GetStringRegion(s, 0, length, units);
    sink = length > 0 ? units[0] : 0;
    return s;
}

JNIEXPORT void JNICALL Java_com_veltor_perivane_bench_Floor_holdText(JNIEnv* env, jclass, jstring s) {
    const jsize length = env->GetStringLength(s);
    heldText.resize(static_cast<size_t>(length));
    env->GetStringRegion(s, 0, length, reinterpret_cast<jchar*>(heldText.data()));
    composed.resize(heldText.size() * 3 + 16);  // Form C is at most three times as long
}

JNIEXPORT jint JNICALL Java_com_veltor_perivane_bench_Floor_compose(JNIEnv*, jclass) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = unorm2_normalize(nfc(), heldText.data(), static_cast<int32_t>(heldText.size()),
                                       composed.data(), static_cast<int32_t>(composed.size()), &status);
    return U_SUCCESS(status) ? n : -1;
}

JNIEXPORT jstring JNICALL Java_com_veltor_perivane_bench_Floor_composeString(JNIEnv* env, jclass c) {
    const jint n = Java_com_veltor_perivane_bench_Floor_compose(env, c);
    return n < 0 ? nullptr : env->NewString(reinterpret_cast<const jchar*>(composed.data()), n);
}

JNIEXPORT jint JNICALL Java_com_veltor_perivane_bench_Floor_scanProcesses(JNIEnv*, jclass) {
    int count = 0;
    DIR* dir = opendir("/proc");
    if (dir == nullptr) return 0;
    char path[300];
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
        std::snprintf(path, sizeof path, "/proc/%s/cmdline", e->d_name);
        const int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        if (read(fd, cmdline, sizeof cmdline) > 0) sink = sink + 1;  // the whole command line, one read
        close(fd);
        ++count;
    }
    closedir(dir);
    return count;
}

}  // extern "C"
