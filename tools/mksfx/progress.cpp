#include "progress.h"

#include "platform.h"

namespace sfx {

namespace {

const double FirstAfter = 1.0, Every = 0.25;     // seconds

}  // namespace

Progress::Progress(bool shown) : shown_(shown && ErrorIsTerminal()), start_(Seconds()) {}

void Progress::Expect(uint64_t files, uint64_t bytes)
{
    totalFiles_ = files;
    totalBytes_ = bytes;
}

void Progress::Add(uint64_t files, uint64_t bytes)
{
    files_ += files;
    bytes_ += bytes;
    if (!shown_)
        return;
    double now = Seconds();
    if (now - start_ >= FirstAfter && now - lastShown_ >= Every) {
        lastShown_ = now;
        Show(false);
    }
}

void Progress::Show(bool last)
{
    double elapsed = Seconds() - start_;
    double mb = 1e6;
    char line[160];
    std::snprintf(line, sizeof line, "\rmksfx: %llu of %llu files, %.1f of %.1f MB, %.1f MB/s%s",
                  (unsigned long long)files_, (unsigned long long)totalFiles_, (double)bytes_ / mb,
                  (double)totalBytes_ / mb, elapsed > 0 ? (double)bytes_ / mb / elapsed : 0.0, last ? "\n" : "  ");
    showing_ = !last;
    WriteProgress(line, showing_);
}

void Progress::End()
{
    if (showing_)
        Show(true);
}

}  // namespace sfx
