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
    m_free.clear();
    m_queue.clear();
    for (int s = 0; s < SLOTS; ++s) {
        RowBatch& b = m_slots[s];
        for (int i = 0; i < ROWS_PER_BATCH; ++i) {
            JSAMPLE* row = m_storage.data() + (static_cast<size_t>(s) * ROWS_PER_BATCH + i) * perRow;
            b.decoded[i] = row;
            b.rows[i] = convertedBytes ? row + decodedBytes : row + offset;
        }
        m_free.push_back(&b);
    }
    // The whole photograph on white: rows that need no copy on this thread.
    if (auto* border = static_cast<WhiteBorder*>(cinfo.client_data))
        border->LendBatches(m_slots, SLOTS, decodedBytes, convertedBytes, offset);
    m_ending = m_abandon = m_failed = false;
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
        std::lock_guard<std::mutex> lock(m_mutex);
        m_failed = true;
        m_changed.notify_all();
        return;
    }
    while (RowBatch* batch = Pop()) {
        if (m_preparer)
            for (int i = batch->prepared; i < batch->count; ++i) m_preparer->Prepare(*batch, i);
        WriteRows(m_cinfo, batch->rows, static_cast<JDIMENSION>(batch->count));
        Done(batch);
    }
}

RowBatch* EncoderThread::Pop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_queue.empty() || m_ending || m_abandon; });
    if (m_abandon || m_queue.empty()) return nullptr;
    RowBatch* batch = m_queue.front();
    m_queue.erase(m_queue.begin());
    return batch;
}

void EncoderThread::Done(RowBatch* batch) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_free.push_back(batch);
    m_changed.notify_all();
}

RowBatch* EncoderThread::Free() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_free.empty() || m_failed; });
    if (m_failed) return nullptr;
    RowBatch* batch = m_free.back();
    m_free.pop_back();
    return batch;
}

void EncoderThread::Push(RowBatch* batch) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.push_back(batch);
    m_changed.notify_all();
}

void EncoderThread::Stop(bool abandon) {
    if (!Running()) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
        m_abandon = m_abandon || abandon;
        m_changed.notify_all();
    }
    m_thread.join();
    m_trap->target = m_callerJump;
    m_cores->Release();
}

bool EncoderThread::Drain() {
    Stop(false);
    return !m_failed;
}

void EncoderThread::Abandon() { Stop(true); }
