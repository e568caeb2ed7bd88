// The progress line on a terminal: files and bytes done, and the rate. It
// appears once packing has taken a second, and only on a terminal.
#ifndef MKSFX_PROGRESS_H
#define MKSFX_PROGRESS_H

#include <cstdint>
#include <cstdio>

namespace sfx {

class Progress {
public:
    // Shown on stderr when shown is true and stderr is a terminal.
    explicit Progress(bool shown);
    // What is to be done; bytes of content, before compression.
    void Expect(uint64_t files, uint64_t bytes);
    void Add(uint64_t files, uint64_t bytes);
    // Ends the line, if there is one, so that what follows starts afresh.
    void End();

private:
    void Show(bool last);

    bool shown_;
    double start_, lastShown_ = 0;
    uint64_t files_ = 0, bytes_ = 0, totalFiles_ = 0, totalBytes_ = 0;
    bool showing_ = false;
};

}  // namespace sfx

#endif
