#include "imaging/WhiteBorder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>


bool WhiteBorder::Prepare(const WhiteMargins& margins, JDIMENSION width, JDIMENSION height) {
    if (margins.left < 0 || margins.top < 0 || margins.right < 0 || margins.bottom < 0) return false;
    const uint64_t printWidth = uint64_t(width) + uint64_t(margins.left) + uint64_t(margins.right);
    const uint64_t printHeight = uint64_t(height) + uint64_t(margins.top) + uint64_t(margins.bottom);
    if (width == 0 || height == 0 || printWidth > JPEG_MAX_DIMENSION || printHeight > JPEG_MAX_DIMENSION) return false;
    m_margins = margins;
    m_width = width;
    m_height = height;
    m_printWidth = static_cast<JDIMENSION>(printWidth);
    m_printHeight = static_cast<JDIMENSION>(printHeight);
    m_rowsIn = 0;
    const size_t rowBytes = size_t(m_printWidth) * 3;
    try {
        // A batch of rows, and one more for the white rows.
        m_storage.assign(rowBytes * (ROWS_PER_BATCH + 1), 0xFF);
        m_rows.resize(ROWS_PER_BATCH);
        m_white.assign(ROWS_PER_BATCH, m_storage.data() + rowBytes * ROWS_PER_BATCH);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int i = 0; i < ROWS_PER_BATCH; ++i) m_rows[i] = m_storage.data() + rowBytes * i;
    return true;
}

void WhiteBorder::Attach(jpeg_compress_struct& cinfo) { cinfo.client_data = this; }

void WhiteBorder::Lend(JSAMPARRAY rows, int count, size_t rowBytes) const {
    if (rowBytes != size_t(m_width) * 3 || count > ROWS_PER_BATCH) return;
    for (int i = 0; i < count; ++i) rows[i] = m_rows[i] + size_t(m_margins.left) * 3;
}

void WhiteBorder::LendBatches(RowBatch* batches, int count, size_t decodedBytes, size_t convertedBytes,
                              size_t offset) {
    // Converted rows are filled where they lie; decoded ones only when the
    // decoder delivers exactly the photograph's pixels and they go on as they
    // are.
    const size_t photoBytes = size_t(m_width) * 3;
    if (convertedBytes ? convertedBytes != photoBytes : decodedBytes != photoBytes || offset != 0) return;
    const size_t rowBytes = size_t(m_printWidth) * 3;
    try {
        m_batchStorage.assign(rowBytes * ROWS_PER_BATCH * size_t(count), 0xFF);
    } catch (const std::bad_alloc&) {
        return;  // copied, then
    }
    const size_t at = size_t(m_margins.left) * 3;
    for (int b = 0; b < count; ++b)
        for (int i = 0; i < ROWS_PER_BATCH; ++i) {
            JSAMPROW middle = m_batchStorage.data() + (size_t(b) * ROWS_PER_BATCH + i) * rowBytes + at;
            batches[b].rows[i] = middle;
            if (!convertedBytes) batches[b].decoded[i] = middle;
        }
}

JSAMPROW WhiteBorder::LentRow(JSAMPROW row) const {
    const size_t rowBytes = size_t(m_printWidth) * 3;
    const size_t at = size_t(m_margins.left) * 3;
    const auto lentIn = [&](const std::vector<JSAMPLE>& storage, size_t rows) {
        const auto start = reinterpret_cast<uintptr_t>(storage.data());
        const auto p = reinterpret_cast<uintptr_t>(row);
        return !storage.empty() && p >= start + at && p < start + rows * rowBytes && (p - start - at) % rowBytes == 0;
    };
    if (lentIn(m_storage, ROWS_PER_BATCH) || lentIn(m_batchStorage, m_batchStorage.size() / rowBytes)) return row - at;
    return nullptr;
}

void WhiteBorder::WriteWhite(j_compress_ptr cinfo, JDIMENSION count) {
    while (count > 0) {
        const JDIMENSION n = std::min<JDIMENSION>(count, ROWS_PER_BATCH);
        jpeg_write_scanlines(cinfo, m_white.data(), n);
        count -= n;
    }
}

void WhiteBorder::Write(j_compress_ptr cinfo, JSAMPARRAY rows, JDIMENSION count) {
    if (m_rowsIn == 0) WriteWhite(cinfo, static_cast<JDIMENSION>(m_margins.top));
    const size_t at = size_t(m_margins.left) * 3;
    const size_t bytes = size_t(m_width) * 3;
    JSAMPROW print[ROWS_PER_BATCH];
    for (JDIMENSION done = 0; done < count;) {
        const JDIMENSION n = std::min<JDIMENSION>(count - done, ROWS_PER_BATCH);
        for (JDIMENSION i = 0; i < n; ++i) {
            print[i] = LentRow(rows[done + i]);
            if (!print[i]) {
                std::memcpy(m_rows[i] + at, rows[done + i], bytes);
                print[i] = m_rows[i];
            }
        }
        jpeg_write_scanlines(cinfo, print, n);
        done += n;
    }
    m_rowsIn += count;
    if (m_rowsIn == m_height) WriteWhite(cinfo, static_cast<JDIMENSION>(m_margins.bottom));
}

void WriteRows(j_compress_ptr cinfo, JSAMPARRAY rows, JDIMENSION count) {
    if (auto* border = static_cast<WhiteBorder*>(cinfo->client_data))
        border->Write(cinfo, rows, count);
    else
        jpeg_write_scanlines(cinfo, rows, count);
}
