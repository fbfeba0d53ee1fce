#include "imaging/ExportThreads.h"

#include <new>
#include <system_error>

#include "imaging/Export.h"
#include "imaging/WhiteBorder.h"

bool EncoderThread::Start(SpareCores& cores, jpeg_compress_struct& cinfo, JpegErrorTrap& trap, size_t decodedBytes,
                          size_t convertedBytes, size_t offset, const RowPreparer* preparer) {
    if (Running() || !cores.Claim()) return false;
    const size_t perRow = decodedBytes + convertedBytes;
    try {
        m_storage.assign(perRow * ROWS_PER_BATCH * SLOTS, 0);
    } catch (const std::bad_alloc&) {
        cores.Release();
        return false;  // one thread goes on alone
    }
    std::vector<RowBatch*> free;
    for (int s = 0; s < SLOTS; ++s) {
        RowBatch& b = m_slots[s];
        for (int i = 0; i < ROWS_PER_BATCH; ++i) {
            JSAMPLE* row = m_storage.data() + (static_cast<size_t>(s) * ROWS_PER_BATCH + i) * perRow;
            b.decoded[i] = row;
            b.rows[i] = convertedBytes ? row + decodedBytes : row + offset;
        }
        free.push_back(&b);
    }
    m_handoff.Reset(std::move(free));
    // The whole photograph on white: rows that need no copy on this thread.
    if (auto* border = static_cast<WhiteBorder*>(cinfo.client_data))
        border->LendBatches(m_slots, SLOTS, decodedBytes, convertedBytes, offset);
    m_failed = false;
    m_cores = &cores;
    m_preparer = preparer;
    m_cinfo = &cinfo;
    m_trap = &trap;
    m_callerJump = trap.target;
    trap.target = &m_jump;
    try {
        m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        trap.target = m_callerJump;
        cores.Release();
        return false;
    }
    return true;
}

// Holds nothing with a destructor: a fatal encoder error leaves it through
// longjmp.
void EncoderThread::Run() {
    if (setjmp(m_jump)) {
        m_failed = true;
        m_handoff.Close();
        return;
    }
    while (RowBatch* batch = m_handoff.TakeQueued()) {
        if (m_preparer)
            for (int i = batch->prepared; i < batch->count; ++i) m_preparer->Prepare(*batch, i);
        WriteRows(m_cinfo, batch->rows, static_cast<JDIMENSION>(batch->count));
        m_handoff.Free(batch);
    }
}

RowBatch* EncoderThread::Free() { return m_handoff.TakeFree(); }

void EncoderThread::Push(RowBatch* batch) { m_handoff.Queue(batch); }

void EncoderThread::Stop(bool abandon) {
    if (!Running()) return;
    if (abandon)
        m_handoff.Close();
    else
        m_handoff.Finish();
    m_thread.join();
    m_trap->target = m_callerJump;
    m_cores->Release();
}

bool EncoderThread::Drain() {
    Stop(false);
    return !m_failed;
}

void EncoderThread::Abandon() { Stop(true); }
