// Compresses entries on several threads and writes them in their order.
// Every file is cut into pieces of PieceSize bytes, whatever the thread
// count, so the output is the same for any number of threads; the pieces
// in flight are bounded, so memory is too, whatever the file sizes.
#ifndef MKSFX_ENTRY_PACKER_H
#define MKSFX_ENTRY_PACKER_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive_writer.h"
#include "platform.h"
#include "progress.h"
#include "zip_crypto.h"
#include "zip_format.h"

namespace sfx {

// The level that mksfx uses unless told otherwise.
constexpr int DefaultLevel = 12;

struct PackOptions {
    int level = DefaultLevel;
    int threads = 0;            // 0: one per processor
    std::string password;       // "" for no encryption
};

// An entry's content: read in order to its end, and once more from the
// start when storing it turns out smaller than compressing it.
class EntryData {
public:
    virtual ~EntryData() = default;
    // Up to count bytes; fewer only at the end.
    virtual size_t Read(uint8_t* buffer, size_t count) = 0;
    virtual void Rewind() = 0;
    // The content's CRC-32 when it is known before reading (and checked
    // when the reading is done).
    virtual bool KnownCrc(uint32_t&) const { return false; }
    // Called when the reading reached the end: throws Failure when the
    // content is no longer what was listed, so that what was read may be
    // only part of it.
    virtual void CheckUnchanged() {}
};

class EntryPacker {
public:
    EntryPacker(ArchiveWriter& writer, const PackOptions& options, Progress& progress);
    ~EntryPacker();
    EntryPacker(const EntryPacker&) = delete;
    EntryPacker& operator=(const EntryPacker&) = delete;

    bool Encrypting() const { return !options_.password.empty(); }

    // An entry compressed at the options' level, or stored when that is
    // smaller, and encrypted when encrypt is set. entry holds the name,
    // time and attributes; the rest is filled in here. sizeHint is the
    // content's size as far as it is known; label names it in messages.
    void Compress(const Entry& entry, std::unique_ptr<EntryData> data, uint64_t sizeHint, const std::string& label,
                  bool encrypt);
    // An entry without content, a folder.
    void Folder(const Entry& entry);
    // Writing that the caller does itself (copied data), once everything
    // queued before it is written; bytes is its content's size.
    void Write(const std::function<void()>& write, uint64_t bytes);
    // Writes everything still queued.
    void Finish();

private:
    struct Piece;
    struct Task;
    void Work(int level);
    void ReadPieces(Task& task);
    void WaitForRoom();
    void WriteOne();
    void EndTask(Task& task, Piece& last);
    void Store(Task& task, Piece& last);

    ArchiveWriter& writer_;
    PackOptions options_;
    Progress& progress_;
    ZipCipher cipher_;
    size_t maxPieces_, maxBytes_;
    size_t pendingPieces_ = 0, pendingBytes_ = 0;
    std::deque<std::unique_ptr<Task>> tasks_;      // in output order, not yet written
    std::vector<uint8_t> buffer_;

    // Shared with the workers.
    std::mutex lock_;
    std::condition_variable jobsWaiting_, pieceDone_;
    std::deque<std::shared_ptr<Piece>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace sfx

#endif
