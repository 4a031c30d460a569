// The floor for the running-application check: the least work that can name every process,
// timed in-process. One scan lists /proc and reads every /proc/PID/cmdline with one read into
// a 64 KiB buffer (a /proc file gives all it has in one read when there is room); nothing is
// parsed, converted or compared. Prints the median nanoseconds per scan over the batches,
// then the number of processes of the last scan.
//   proc-floor BATCHES SCANS_PER_BATCH
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

static char buffer[1 << 16];
static volatile long bytes;

static int scan() {
    int count = 0;
    DIR* dir = opendir("/proc");
    if (dir == nullptr) return 0;
    char path[300];
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
        std::snprintf(path, sizeof path, "/proc/%s/cmdline", e->d_name);
        int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        if (read(fd, buffer, sizeof buffer) > 0) bytes = bytes + 1;  // the whole command line, one read
        close(fd);
        ++count;
    }
    closedir(dir);
    return count;
}

int main(int argc, char** argv) {
    const int batches = argc > 1 ? std::atoi(argv[1]) : 15;
    const int perBatch = argc > 2 ? std::atoi(argv[2]) : 5;
    int count = 0;
    for (int i = 0; i < std::max(3, batches / 2) * perBatch; ++i) count = scan();  // warm-up
    std::vector<double> times;
    for (int b = 0; b < batches; ++b) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < perBatch; ++i) count = scan();
        std::chrono::duration<double, std::nano> t = std::chrono::steady_clock::now() - start;
        times.push_back(t.count() / perBatch);
    }
    std::sort(times.begin(), times.end());
    std::printf("%.0f %d\n", times[times.size() / 2], count);
}
