#include "imaging/SplitEncoder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

// The library's module interface: the entropy coder's entry points.
#include <jpegint.h>

#include "imaging/Export.h"

bool SplitEncoder::Start(SpareCores& cores, const jpeg_compress_struct& file, const Configure& configure,
                         size_t rowBytes, FillRows fill) {
    if (Running() || !cores.Claim()) return false;
    m_cores = &cores;
    m_mcusPerRow = file.MCUs_per_row;
    m_blocksInMcu = file.blocks_in_MCU;
    m_rowsPerBatch = static_cast<JDIMENSION>(file.max_v_samp_factor * DCTSIZE);
    try {
        m_free.clear();
        m_queue.clear();
        m_freeBatches.clear();
        m_batchQueue.clear();
        for (RowBatch& batch : m_batches) {
            batch.storage.assign(rowBytes * m_rowsPerBatch, 0);
            batch.rows.resize(m_rowsPerBatch);
            m_freeBatches.push_back(&batch);
        }
        m_fill = std::move(fill);
        const size_t blocks = static_cast<size_t>(m_mcusPerRow) * static_cast<size_t>(m_blocksInMcu);
        for (BlockRow& slot : m_slots) {
            slot.coefficients.assign(blocks * DCTSIZE2, 0);
            slot.mcus.resize(blocks);
            for (size_t b = 0; b < blocks; ++b)
                slot.mcus[b] = reinterpret_cast<JBLOCKROW>(slot.coefficients.data() + b * DCTSIZE2);
            m_free.push_back(&slot);
        }
    } catch (const std::bad_alloc&) {
        cores.Release();
        return false;
    }
    m_filling = nullptr;
    m_filled = 0;
    m_abandon = m_failed = m_ended = false;

    if (setjmp(m_jump)) {
        if (m_created) jpeg_destroy_compress(&m_cinfo);
        m_created = false;
        cores.Release();
        return false;
    }
    m_cinfo.err = InitErrorTrap(m_trap, &m_jump);
    jpeg_create_compress(&m_cinfo);
    m_created = true;
    m_cinfo.client_data = this;
    m_nowhere.init_destination = NoOutput;
    m_nowhere.empty_output_buffer = DiscardOutput;
    m_nowhere.term_destination = NoOutput;
    m_cinfo.dest = &m_nowhere;
    configure(m_cinfo);
    jpeg_start_compress(&m_cinfo, TRUE);
    // Every MCU the library would entropy-code comes here instead.
    m_cinfo.entropy->encode_mcu = CaptureMcu;
    if (m_cinfo.MCUs_per_row != m_mcusPerRow || m_cinfo.blocks_in_MCU != m_blocksInMcu ||
        m_cinfo.total_iMCU_rows != file.total_iMCU_rows) {
        // Not set up as the file's encoder: its blocks would not fit.
        jpeg_destroy_compress(&m_cinfo);
        m_created = false;
        cores.Release();
        return false;
    }
    try {
        m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        jpeg_destroy_compress(&m_cinfo);
        m_created = false;
        cores.Release();
        return false;
    }
    return true;
}

void SplitEncoder::NoOutput(j_compress_ptr cinfo) {
    auto* self = static_cast<SplitEncoder*>(cinfo->client_data);
    cinfo->dest->next_output_byte = self->m_discard;
    cinfo->dest->free_in_buffer = sizeof(self->m_discard);
}

boolean SplitEncoder::DiscardOutput(j_compress_ptr cinfo) {
    NoOutput(cinfo);
    return TRUE;
}

// Runs on the thread, inside the library: holds nothing with a destructor,
// since giving up leaves it through longjmp.
boolean SplitEncoder::CaptureMcu(j_compress_ptr cinfo, JBLOCKROW* data) {
    auto* self = static_cast<SplitEncoder*>(cinfo->client_data);
    if (!self->m_filling) {
        self->m_filling = self->WaitFree();
        if (!self->m_filling) std::longjmp(self->m_jump, 1);
    }
    JCOEF* to = self->m_filling->coefficients.data() +
                static_cast<size_t>(self->m_filled) * static_cast<size_t>(self->m_blocksInMcu) * DCTSIZE2;
    for (int b = 0; b < self->m_blocksInMcu; ++b, to += DCTSIZE2) std::memcpy(to, data[b][0], sizeof(JBLOCK));
    if (++self->m_filled == self->m_mcusPerRow) {
        self->Push(self->m_filling);
        self->m_filling = nullptr;
        self->m_filled = 0;
    }
    return TRUE;
}

// Holds nothing with a destructor: a fatal library error, or giving up,
// leaves it through longjmp.
void SplitEncoder::Run() {
    if (setjmp(m_jump)) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_failed = !m_abandon;
        m_ended = true;
        m_changed.notify_all();
        return;
    }
    while (RowBatch* batch = WaitRows()) {
        const size_t rowBytes = batch->storage.size() / batch->rows.size();
        for (size_t i = 0; i < batch->rows.size(); ++i) batch->rows[i] = batch->storage.data() + i * rowBytes;
        m_fill(batch->first, static_cast<int>(batch->count), batch->rows.data());
        jpeg_write_scanlines(&m_cinfo, batch->rows.data(), batch->count);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_freeBatches.push_back(batch);
        m_changed.notify_all();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ended = true;
    m_changed.notify_all();
}

// The next batch of rows; null once every row of the image went through
// the encoder, or when given up.
SplitEncoder::RowBatch* SplitEncoder::WaitRows() {
    if (m_cinfo.next_scanline >= m_cinfo.image_height) return nullptr;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_batchQueue.empty() || m_abandon; });
    if (m_abandon) return nullptr;
    RowBatch* batch = m_batchQueue.front();
    m_batchQueue.erase(m_batchQueue.begin());
    return batch;
}

bool SplitEncoder::Ask(JDIMENSION first, JDIMENSION count) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_freeBatches.empty() || m_ended; });
    if (m_ended) return false;
    RowBatch* batch = m_freeBatches.back();
    m_freeBatches.pop_back();
    batch->first = first;
    batch->count = count;
    m_batchQueue.push_back(batch);
    m_changed.notify_all();
    return true;
}

SplitEncoder::BlockRow* SplitEncoder::WaitFree() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_free.empty() || m_abandon; });
    if (m_abandon) return nullptr;
    BlockRow* row = m_free.back();
    m_free.pop_back();
    return row;
}

void SplitEncoder::Push(BlockRow* row) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.push_back(row);
    m_changed.notify_all();
}

const SplitEncoder::BlockRow* SplitEncoder::Next() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_queue.empty() || m_ended; });
    if (m_queue.empty()) return nullptr;  // failed, or asked for more rows than there are
    BlockRow* row = m_queue.front();
    m_queue.erase(m_queue.begin());
    return row;
}

void SplitEncoder::Done(const BlockRow* row) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_free.push_back(const_cast<BlockRow*>(row));
    m_changed.notify_all();
}

// Holds nothing with a destructor: a write error leaves it through longjmp.
void SplitEncoder::Code(jpeg_compress_struct& file, const BlockRow& row) {
    const size_t perMcu = static_cast<size_t>(file.blocks_in_MCU);
    for (size_t at = 0; at < row.mcus.size(); at += perMcu)
        (*file.entropy->encode_mcu)(&file, const_cast<JBLOCKROW*>(row.mcus.data() + at));
}

void SplitEncoder::Stop(bool abandon) {
    if (!Running()) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_abandon = m_abandon || abandon;
        m_changed.notify_all();
    }
    m_thread.join();
    jpeg_destroy_compress(&m_cinfo);
    m_created = false;
    m_cores->Release();
}

bool SplitEncoder::Finish() {
    Stop(false);
    return !m_failed;
}

void SplitEncoder::Abandon() { Stop(true); }
