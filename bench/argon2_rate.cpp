// The ceiling for logins: Argon2id verifications of one stored hash spread
// over threads in one process, with no HTTP, TLS or store around them.
// service_bench.sh builds it with the system compiler and times the verify
// step next to the same number of logins.
//
//   argon2-rate hash MEMORY_KIB PASSES      prints a stored hash of the bench password
//   argon2-rate verify THREADS COUNT HASH   COUNT verifications on THREADS threads

#include <sodium.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

const char kPassword[] = "bench-password";

int Usage() {
    std::fprintf(stderr,
                 "usage: argon2-rate hash MEMORY_KIB PASSES\n"
                 "       argon2-rate verify THREADS COUNT HASH\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (sodium_init() < 0)
        return 1;
    if (argc == 4 && std::strcmp(argv[1], "hash") == 0) {
        char stored[crypto_pwhash_STRBYTES];
        if (crypto_pwhash_str(stored, kPassword, sizeof kPassword - 1,
                              std::strtoull(argv[3], nullptr, 10),
                              std::strtoull(argv[2], nullptr, 10) * 1024) != 0)
            return 1;
        std::puts(stored);
        return 0;
    }
    if (argc != 5 || std::strcmp(argv[1], "verify") != 0)
        return Usage();
    const int threads = std::atoi(argv[2]);
    const int count = std::atoi(argv[3]);
    const char* stored = argv[4];
    if (threads < 1 || count % threads != 0)
        return Usage();
    std::vector<std::thread> pool;
    std::vector<int> failed(static_cast<std::size_t>(threads), 0);
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            for (int i = 0; i < count / threads; ++i) {
                if (crypto_pwhash_str_verify(stored, kPassword, sizeof kPassword - 1) != 0)
                    failed[static_cast<std::size_t>(t)] = 1;
            }
        });
    }
    for (auto& th : pool)
        th.join();
    for (int f : failed) {
        if (f)
            return 1;  // a verification that should match did not
    }
    return 0;
}
