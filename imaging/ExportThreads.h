#pragma once
// The export's encoder on a thread of its own: the decoding thread fills
// batches of rows, the encoder thread writes them, and a few batches in
// between keep both busy. The encoder sees the same rows in the same order as
// when one thread does both, so the file is the same.
#include <csetjmp>
#include <cstddef>
#include <thread>
#include <vector>

#include <jpeglib.h>

#include "imaging/Handoff.h"
#include "imaging/JpegSource.h"

class SpareCores;

// One iMCU row of the encoder's 4:2:0 output.
constexpr int ROWS_PER_BATCH = 16;

struct RowBatch {
    JSAMPROW decoded[ROWS_PER_BATCH];  // what the decoder writes into
    JSAMPROW rows[ROWS_PER_BATCH];     // what the encoder takes
    int count = 0;
    // Rows from here on are still decoded rows for the encoder's thread to
    // prepare (RowPreparer) before it writes them.
    int prepared = ROWS_PER_BATCH;
};

// Prepares row i of a batch: from batch.decoded[i] into batch.rows[i]. Must
// give the same bytes on either thread.
class RowPreparer {
public:
    virtual void Prepare(RowBatch& batch, int i) const = 0;

protected:
    ~RowPreparer() = default;
};

class EncoderThread {
public:
    EncoderThread() = default;
    ~EncoderThread() { Abandon(); }
    EncoderThread(const EncoderThread&) = delete;
    EncoderThread& operator=(const EncoderThread&) = delete;

    // Takes a spare core if there is one and starts writing into cinfo on
    // it; from then on cinfo's fatal errors return to the thread. Batches
    // hold decodedBytes per decoded row and, when convertedBytes is not 0,
    // rows converted into a buffer of their own; otherwise the encoder reads
    // a decoded row from byte offset on.
    // preparer: finishes the rows a batch leaves unprepared (none if null).
    bool Start(SpareCores& cores, jpeg_compress_struct& cinfo, JpegErrorTrap& trap, size_t decodedBytes,
               size_t convertedBytes, size_t offset, const RowPreparer* preparer = nullptr);
    bool Running() const { return m_thread.joinable(); }
    // A batch to fill; null when the encoder has failed.
    RowBatch* Free();
    void Push(RowBatch* batch);
    // Waits until every pushed batch is written; gives cinfo back (its
    // errors return to the trap's former target). False when the encoder
    // failed.
    bool Drain();
    // Stops without writing what is still queued.
    void Abandon();

private:
    void Run();
    void Stop(bool abandon);

    static constexpr int SLOTS = 4;
    std::vector<JSAMPLE> m_storage;
    RowBatch m_slots[SLOTS];
    Handoff<RowBatch> m_handoff;
    bool m_failed = false;  // read once the thread has ended

    std::thread m_thread;
    std::jmp_buf m_jump;
    jpeg_compress_struct* m_cinfo = nullptr;
    JpegErrorTrap* m_trap = nullptr;
    std::jmp_buf* m_callerJump = nullptr;
    SpareCores* m_cores = nullptr;
    const RowPreparer* m_preparer = nullptr;
};
