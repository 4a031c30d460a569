// The floor of the Dock benchmark's large-domain case: libplist's own parse of a property-list
// file (plist_from_memory, then plist_free), against the library's parse of the same bytes
// (plist::parse: the limit scan, libplist, and the conversion to its values), their batches
// alternating. Prints the median nanoseconds per parse of libplist, then of the library.
//   plist-floor FILE BATCHES PARSES_PER_BATCH
#include <plist/plist.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/preferences/property_list.h"

namespace {

template <typename Parse>
double batch(int parses, Parse parse) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < parses; ++i) parse();
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / parses;
}

double median(std::vector<double> t) {
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::ostringstream s;
    s << std::ifstream(argv[1], std::ios::binary).rdbuf();
    const std::string bytes = s.str();
    const int batches = argc > 2 ? std::atoi(argv[2]) : 7;
    const int perBatch = argc > 3 ? std::atoi(argv[3]) : 1;
    auto libplist = [&] {
        plist_t root = nullptr;
        plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
        if (root == nullptr) std::exit(1);
        plist_free(root);
    };
    auto ours = [&] {
        if (!perivane::platform::plist::parse(bytes)) std::exit(1);
    };
    batch(perBatch, libplist);  // warm-up
    batch(perBatch, ours);
    std::vector<double> a, b;
    for (int i = 0; i < batches; ++i) {
        a.push_back(batch(perBatch, libplist));
        b.push_back(batch(perBatch, ours));
    }
    std::printf("%.0f %.0f\n", median(a), median(b));
}
