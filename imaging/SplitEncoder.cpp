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
        std::vector<RowBatch*> batches;
        std::vector<BlockRow*> rows;
        for (RowBatch& batch : m_batches) {
            batch.storage.assign(rowBytes * m_rowsPerBatch, 0);
            batch.rows.resize(m_rowsPerBatch);
            batches.push_back(&batch);
        }
        m_rowHandoff.Reset(std::move(batches));
        m_fill = std::move(fill);
        const size_t blocks = static_cast<size_t>(m_mcusPerRow) * static_cast<size_t>(m_blocksInMcu);
        for (BlockRow& slot : m_slots) {
            slot.coefficients.assign(blocks * DCTSIZE2, 0);
            slot.mcus.resize(blocks);
            for (size_t b = 0; b < blocks; ++b)
                slot.mcus[b] = reinterpret_cast<JBLOCKROW>(slot.coefficients.data() + b * DCTSIZE2);
            rows.push_back(&slot);
        }
        m_blockHandoff.Reset(std::move(rows));
    } catch (const std::bad_alloc&) {
        cores.Release();
        return false;
    }
    m_filling = nullptr;
    m_filled = 0;
    m_abandon = false;
    m_failed = false;

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
        self->m_filling = self->m_blockHandoff.TakeFree();
        if (!self->m_filling) std::longjmp(self->m_jump, 1);
    }
    JCOEF* to = self->m_filling->coefficients.data() +
                static_cast<size_t>(self->m_filled) * static_cast<size_t>(self->m_blocksInMcu) * DCTSIZE2;
    for (int b = 0; b < self->m_blocksInMcu; ++b, to += DCTSIZE2) std::memcpy(to, data[b][0], sizeof(JBLOCK));
    if (++self->m_filled == self->m_mcusPerRow) {
        self->m_blockHandoff.Queue(self->m_filling);
        self->m_filling = nullptr;
        self->m_filled = 0;
    }
    return TRUE;
}

// Holds nothing with a destructor: a fatal library error, or giving up,
// leaves it through longjmp.
void SplitEncoder::Run() {
    if (setjmp(m_jump)) {
        m_failed = !m_abandon;
        m_rowHandoff.Close();
        m_blockHandoff.Close();
        return;
    }
    while (m_cinfo.next_scanline < m_cinfo.image_height) {
        RowBatch* batch = m_rowHandoff.TakeQueued();
        if (!batch) break;  // given up
        const size_t rowBytes = batch->storage.size() / batch->rows.size();
        for (size_t i = 0; i < batch->rows.size(); ++i) batch->rows[i] = batch->storage.data() + i * rowBytes;
        m_fill(batch->first, static_cast<int>(batch->count), batch->rows.data());
        jpeg_write_scanlines(&m_cinfo, batch->rows.data(), batch->count);
        m_rowHandoff.Free(batch);
    }
    m_blockHandoff.Finish();
}

bool SplitEncoder::Ask(JDIMENSION first, JDIMENSION count) {
    RowBatch* batch = m_rowHandoff.TakeFree();
    if (!batch) return false;
    batch->first = first;
    batch->count = count;
    m_rowHandoff.Queue(batch);
    return true;
}

const SplitEncoder::BlockRow* SplitEncoder::Next() { return m_blockHandoff.TakeQueued(); }

void SplitEncoder::Done(const BlockRow* row) { m_blockHandoff.Free(const_cast<BlockRow*>(row)); }

// Holds nothing with a destructor: a write error leaves it through longjmp.
void SplitEncoder::Code(jpeg_compress_struct& file, const BlockRow& row) {
    const size_t perMcu = static_cast<size_t>(file.blocks_in_MCU);
    for (size_t at = 0; at < row.mcus.size(); at += perMcu)
        (*file.entropy->encode_mcu)(&file, const_cast<JBLOCKROW*>(row.mcus.data() + at));
}

void SplitEncoder::Stop(bool abandon) {
    if (!Running()) return;
    if (abandon) {
        m_abandon = true;
        m_rowHandoff.Close();
        m_blockHandoff.Close();
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
