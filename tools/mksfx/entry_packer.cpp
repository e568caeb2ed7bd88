#include "entry_packer.h"

#include <algorithm>
#include <zlib.h>

#include "deflate_pieces.h"

namespace sfx {

namespace {

// Flag bits 1 and 2 of a deflated entry: how hard its writer tried.
uint16_t LevelFlags(int level)
{
    if (level >= 8)
        return 0x0002;      // maximum
    if (level == 2)
        return 0x0004;      // fast
    return level == 1 ? 0x0006 : 0;     // super fast, normal
}

const uint16_t LevelFlagMask = 0x0006;

}  // namespace

struct EntryPacker::Piece {
    std::vector<uint8_t> data, packed;
    bool last = false;
    bool done = false;          // under lock_, set by the worker
    std::string error;
};

struct EntryPacker::Task {
    Entry entry;
    std::unique_ptr<EntryData> data;
    uint64_t sizeHint = 0;
    std::string label;
    bool encrypt = false;
    uint32_t crc = 0;           // of what has been read
    bool crcKnown = false;      // before reading, as the encryption header needs it
    uint32_t knownCrc = 0;
    uint64_t read = 0;
    size_t piecesRead = 0;
    bool allRead = false, begun = false;
    bool folder = false;
    std::deque<std::shared_ptr<Piece>> pieces;     // read, not yet written
};

EntryPacker::EntryPacker(ArchiveWriter& writer, const PackOptions& options, Progress& progress)
    : writer_(writer), options_(options), progress_(progress), cipher_(options.password)
{
    size_t threads = (size_t)std::max(1, options.threads);
    // Enough to keep every thread busy while the oldest piece waits to be
    // written, and no more.
    maxPieces_ = 4 * threads + 4;
    maxBytes_ = (2 * threads + 1) * PieceSize;
    // Level 0 stores every file: nothing for the threads to do.
    for (size_t i = 0; i < threads && options.level > 0; i++)
        workers_.emplace_back([this] { Work(options_.level); });
}

EntryPacker::~EntryPacker()
{
    {
        std::lock_guard<std::mutex> held(lock_);
        stopping_ = true;
    }
    jobsWaiting_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

void EntryPacker::Work(int level)
{
    std::unique_ptr<PieceDeflater> deflater;
    std::string failed;
    try {
        deflater = std::make_unique<PieceDeflater>(level);
    } catch (const Failure& f) {
        failed = f.what();
    } catch (const std::bad_alloc&) {
        failed = "out of memory";
    }
    for (;;) {
        std::shared_ptr<Piece> piece;
        {
            std::unique_lock<std::mutex> held(lock_);
            jobsWaiting_.wait(held, [this] { return !jobs_.empty() || stopping_; });
            if (stopping_)
                return;
            piece = jobs_.front();
            jobs_.pop_front();
        }
        try {
            if (!deflater)
                throw Failure(failed);
            deflater->Deflate(piece->data.data(), piece->data.size(), piece->last, piece->packed);
        } catch (const Failure& f) {
            piece->error = f.what();
        } catch (const std::bad_alloc&) {
            piece->error = "out of memory";
        }
        {
            std::lock_guard<std::mutex> held(lock_);
            piece->done = true;
        }
        pieceDone_.notify_all();
    }
}

void EntryPacker::Compress(const Entry& entry, std::unique_ptr<EntryData> data, uint64_t sizeHint,
                           const std::string& label, bool encrypt)
{
    auto owned = std::make_unique<Task>();
    Task& task = *owned;
    task.entry = entry;
    task.data = std::move(data);
    task.sizeHint = sizeHint;
    task.label = label;
    task.encrypt = encrypt;
    task.crc = (uint32_t)crc32(0, nullptr, 0);
    tasks_.push_back(std::move(owned));
    if (encrypt) {
        task.crcKnown = task.data->KnownCrc(task.knownCrc);
        if (!task.crcKnown && sizeHint >= PieceSize) {
            // The header goes out before the first of several pieces.
            uLong crc = crc32(0, nullptr, 0);
            buffer_.resize(1 << 16);
            while (size_t got = task.data->Read(buffer_.data(), buffer_.size()))
                crc = crc32(crc, buffer_.data(), (uInt)got);
            task.data->Rewind();
            task.crcKnown = true;
            task.knownCrc = (uint32_t)crc;
        }
    }
    ReadPieces(task);
}

void EntryPacker::Folder(const Entry& entry)
{
    auto task = std::make_unique<Task>();
    task->entry = entry;
    task->folder = true;
    auto nothing = std::make_shared<Piece>();
    nothing->last = nothing->done = true;
    task->pieces.push_back(nothing);
    pendingPieces_++;
    tasks_.push_back(std::move(task));
    WaitForRoom();
}

void EntryPacker::ReadPieces(Task& task)
{
    while (!task.allRead) {
        WaitForRoom();
        auto piece = std::make_shared<Piece>();
        // Small files take only what they need.
        uint64_t expected = task.sizeHint > task.read ? task.sizeHint - task.read : 0;
        size_t room = (size_t)std::min<uint64_t>(PieceSize, expected + 1);
        piece->data.resize(room);
        size_t got = task.data->Read(piece->data.data(), room);
        if (got == room && room < PieceSize) {
            piece->data.resize(PieceSize);
            got += task.data->Read(piece->data.data() + got, PieceSize - got);
        }
        piece->data.resize(got);
        piece->last = got < PieceSize;
        task.crc = (uint32_t)crc32(task.crc, piece->data.data(), (uInt)got);
        task.read += got;
        task.piecesRead++;
        task.allRead = piece->last;
        if (task.allRead)
            task.data->CheckUnchanged();
        task.pieces.push_back(piece);
        pendingPieces_++;
        pendingBytes_ += got;
        if (options_.level == 0) {
            piece->done = true;
            continue;
        }
        {
            std::lock_guard<std::mutex> held(lock_);
            jobs_.push_back(piece);
        }
        jobsWaiting_.notify_all();
    }
}

void EntryPacker::WaitForRoom()
{
    while (pendingPieces_ >= maxPieces_ || (pendingPieces_ > 0 && pendingBytes_ + PieceSize > maxBytes_))
        WriteOne();
}

void EntryPacker::WriteOne()
{
    Task& task = *tasks_.front();
    std::shared_ptr<Piece> piece = task.pieces.front();
    {
        std::unique_lock<std::mutex> held(lock_);
        pieceDone_.wait(held, [&piece] { return piece->done; });
    }
    task.pieces.pop_front();
    pendingPieces_--;
    pendingBytes_ -= piece->data.size();
    if (!piece->error.empty())
        throw Failure(task.label + ": " + piece->error);
    if (task.folder) {
        writer_.BeginEntry(task.entry);
        writer_.EndEntry(task.entry);
        tasks_.pop_front();
        progress_.Add(1, 0);
        return;
    }
    bool storing = options_.level == 0;
    if (!task.begun) {
        task.begun = true;
        task.entry.method = storing ? MethodStored : MethodDeflated;
        task.entry.versionNeeded = storing && !task.encrypt ? 10 : 20;
        task.entry.flags = (uint16_t)((task.entry.flags & ~LevelFlagMask) | (storing ? 0 : LevelFlags(options_.level)));
        if (task.encrypt) {
            if (!piece->last && !task.crcKnown)
                throw Failure(task.label + " changed while it was packed");
            task.entry.flags |= FlagEncrypted;
        }
        // Neither the deflated nor the stored data outgrows the content and
        // the encryption header.
        uint64_t largest = task.sizeHint + (task.encrypt ? (uint64_t)EncryptionHeaderSize : 0);
        task.entry.zip64 = largest >= Zip64Marker;
        writer_.BeginEntry(task.entry);
        if (task.encrypt)
            writer_.WriteData(cipher_.Begin(task.entry.name, task.crcKnown ? task.knownCrc : task.crc, task.sizeHint));
    }
    std::vector<uint8_t>& bytes = storing ? piece->data : piece->packed;
    if (task.encrypt)
        cipher_.Encrypt(bytes.data(), bytes.size());
    writer_.WriteData(bytes.data(), bytes.size());
    progress_.Add(0, piece->data.size());
    if (piece->last) {
        EndTask(task, *piece);
        tasks_.pop_front();
        progress_.Add(1, 0);
    }
}

void EntryPacker::EndTask(Task& task, Piece& last)
{
    if (task.crcKnown && task.knownCrc != task.crc)
        throw Failure(task.label + " changed while it was packed");
    uint64_t header = task.encrypt ? (uint64_t)EncryptionHeaderSize : 0;
    if (options_.level > 0 && writer_.DataWritten() - header >= task.read)
        Store(task, last);
    task.entry.crc = task.crc;
    task.entry.compressedSize = writer_.DataWritten();
    task.entry.uncompressedSize = task.read;
    writer_.EndEntry(task.entry);
}

// Compressing did not make the content smaller.
void EntryPacker::Store(Task& task, Piece& last)
{
    writer_.RestartData();
    task.entry.method = MethodStored;
    task.entry.flags &= ~LevelFlagMask;
    task.entry.versionNeeded = task.encrypt ? 20 : 10;
    if (task.encrypt)
        writer_.WriteData(cipher_.Begin(task.entry.name, task.crc, task.sizeHint));
    if (task.piecesRead == 1) {
        // The content is at hand.
        if (task.encrypt)
            cipher_.Encrypt(last.data.data(), last.data.size());
        writer_.WriteData(last.data.data(), last.data.size());
        return;
    }
    task.data->Rewind();
    uLong crc = crc32(0, nullptr, 0);
    uint64_t size = 0;
    buffer_.resize(1 << 16);
    while (size_t got = task.data->Read(buffer_.data(), buffer_.size())) {
        crc = crc32(crc, buffer_.data(), (uInt)got);
        size += got;
        if (task.encrypt)
            cipher_.Encrypt(buffer_.data(), got);
        writer_.WriteData(buffer_.data(), got);
    }
    if (size != task.read || crc != task.crc)
        throw Failure(task.label + " changed while it was packed");
    task.data->CheckUnchanged();
}

void EntryPacker::Write(const std::function<void()>& write, uint64_t bytes)
{
    Finish();
    write();
    progress_.Add(1, bytes);
}

void EntryPacker::Finish()
{
    while (!tasks_.empty())
        WriteOne();
}

}  // namespace sfx
