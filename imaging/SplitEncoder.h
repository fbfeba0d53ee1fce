#pragma once
// A frame that lies whole in memory, encoded on two cores. The other thread
// takes the upright rows an iMCU row at a time and runs an encoder of its
// own on them up to the quantized DCT blocks (colour conversion, chroma
// downsampling, DCT, quantization); the caller's thread entropy-codes the
// blocks through the file's encoder, which never sees a pixel. The blocks
// are exactly those the file's encoder would have computed from the same
// rows, so the file is byte for byte the same as when one encoder does it
// all; but the work, which cannot start before the whole frame is decoded,
// now takes about half as long.
//
// Only the file's encoder's entropy coder is used, which the library's
// public interface does not offer; its module interface (jpegint.h) has
// stayed the same since the library's version 6.
#include <atomic>
#include <csetjmp>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

#include <jpeglib.h>

#include "imaging/Handoff.h"
#include "imaging/JpegSource.h"

class SpareCores;

class SplitEncoder {
public:
    // Sets an encoder up exactly as the file's encoder was: size, colour,
    // defaults, quality.
    using Configure = std::function<void(jpeg_compress_struct&)>;
    // Fills count upright rows from first on, on the other thread (three
    // bytes a pixel, into the rows given or by pointing them elsewhere).
    using FillRows = std::function<void(JDIMENSION first, int count, JSAMPROW* rows)>;

    // Upright rows for the other thread to fill.
    struct RowBatch {
        std::vector<JSAMPLE> storage;
        std::vector<JSAMPROW> rows;
        JDIMENSION first = 0, count = 0;
    };
    // The blocks of one iMCU row, each MCU's blocks in the order the entropy
    // coder takes them.
    struct BlockRow {
        std::vector<JCOEF> coefficients;  // DCTSIZE2 per block
        std::vector<JBLOCKROW> mcus;      // a pointer per block
    };

    SplitEncoder() = default;
    ~SplitEncoder() { Abandon(); }
    SplitEncoder(const SplitEncoder&) = delete;
    SplitEncoder& operator=(const SplitEncoder&) = delete;

    // Claims a spare core and starts computing the blocks of an image the
    // size of file's, started already (jpeg_start_compress). False, with
    // nothing started, when there is no core, no memory or no thread.
    bool Start(SpareCores& cores, const jpeg_compress_struct& file, const Configure& configure, size_t rowBytes,
               FillRows fill);
    bool Running() const { return m_thread.joinable(); }
    // Rows an iMCU row holds.
    JDIMENSION RowsPerBatch() const { return m_rowsPerBatch; }

    // Asks for the next iMCU row's rows, count of them from first on,
    // waiting for a batch to be free; false when the other thread failed.
    bool Ask(JDIMENSION first, JDIMENSION count);

    // The next iMCU row's blocks, waiting for them; null when the other
    // thread failed. Give each back with Done once coded.
    const BlockRow* Next();
    void Done(const BlockRow* row);
    // Entropy-codes a row's blocks into the file's encoder, on this thread;
    // its fatal errors leave through its error manager as usual.
    static void Code(jpeg_compress_struct& file, const BlockRow& row);
    // Waits for the thread to end; false when it failed.
    bool Finish();
    // Stops without waiting for what is still to come.
    void Abandon();

private:
    static boolean CaptureMcu(j_compress_ptr cinfo, JBLOCKROW* data);
    static void NoOutput(j_compress_ptr cinfo);
    static boolean DiscardOutput(j_compress_ptr cinfo);
    void Run();
    void Stop(bool abandon);

    // The caller's thread asks for at most SLOTS - 1 batches ahead of the
    // blocks it codes, so neither thread waits for the other in a circle.
    static constexpr int SLOTS = 4;
    RowBatch m_batches[SLOTS];
    Handoff<RowBatch> m_rowHandoff;  // to the other thread
    BlockRow m_slots[SLOTS];
    Handoff<BlockRow> m_blockHandoff;  // back
    BlockRow* m_filling = nullptr;
    JDIMENSION m_filled = 0;  // MCUs of m_filling so far
    std::atomic<bool> m_abandon{false};
    bool m_failed = false;  // read once the thread has ended

    JDIMENSION m_mcusPerRow = 0;
    int m_blocksInMcu = 0;
    JDIMENSION m_rowsPerBatch = 0;
    FillRows m_fill;

    jpeg_compress_struct m_cinfo{};
    JpegErrorTrap m_trap;
    jpeg_destination_mgr m_nowhere{};
    JOCTET m_discard[4096];
    bool m_created = false;
    std::jmp_buf m_jump;

    std::thread m_thread;
    SpareCores* m_cores = nullptr;
};
