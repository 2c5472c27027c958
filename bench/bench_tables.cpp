#include "bench/bench_tables.h"

#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace kjbench {

BenchDir::BenchDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/kj-bench-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back(0);
    if (mkdtemp(buf.data()) == nullptr) {
        std::fprintf(stderr, "cannot make a benchmark folder %s: %s\n", templ.c_str(),
                     std::strerror(errno));
        std::exit(2);
    }
    path_ = buf.data();
}

BenchDir::~BenchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace kjbench
