// Uploads one file through the form client (the program's 1,024-byte
// proceed budget) and downloads it again, timing each transfer and
// reporting the process's peak memory.
//
//   skiv-transfer-bench BASEURL MEMBER FILE FOLDER   (password on stdin)

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

#include "platform/fs.h"
#include "platform/log_sink.h"
#include "service/exchanges.h"

namespace {

class StderrLog final : public skiv::LogSink {
public:
    bool VWrite(const char* fmt, va_list args) override {
        std::vfprintf(stderr, fmt, args);
        std::fputc('\n', stderr);
        return true;
    }
};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long PeakKiB() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: skiv-transfer-bench BASEURL MEMBER FILE FOLDER < password\n");
        return 2;
    }
    std::string password;
    std::getline(std::cin, password);
    StderrLog log;
    std::int32_t size = 0, type = 0;
    std::string date, key, up, down;
    if (int r = Number(skiv::LoginExchange(argv[1], argv[2], password,
                                           {size, date, type, key, up, down}, log))) {
        std::fprintf(stderr, "login failed: (%d)\n", r);
        return 1;
    }
    const double mib = static_cast<double>(*skiv::fs::FileSize(argv[3])) / (1024.0 * 1024.0);
    auto t0 = std::chrono::steady_clock::now();
    int r = Number(skiv::UploadExchange({up, argv[2], key, argv[3], 1}, log, [](int) {}));
    const double upSeconds = Seconds(t0);
    if (r != 0) {
        std::fprintf(stderr, "upload failed: (%d)\n", r);
        return 1;
    }
    const long afterUpload = PeakKiB();
    t0 = std::chrono::steady_clock::now();
    r = Number(skiv::DownloadExchange(
        {down, argv[2], static_cast<std::int32_t>(mib * 1024 * 1024), skiv::fs::WithSlash(argv[4])},
        log, [](int) {}));
    const double downSeconds = Seconds(t0);
    if (r != 0) {
        std::fprintf(stderr, "download failed: (%d)\n", r);
        return 1;
    }
    std::printf("upload   %.1f MiB in %.2f s = %.0f MiB/s (peak %ld KiB)\n", mib, upSeconds,
                mib / upSeconds, afterUpload);
    std::printf("download %.1f MiB in %.2f s = %.0f MiB/s (peak %ld KiB)\n", mib, downSeconds,
                mib / downSeconds, PeakKiB());
    return 0;
}
