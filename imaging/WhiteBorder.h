#pragma once
// The whole photograph on a white print: the step between the export's rows
// and the encoder that puts white on either side of every row, and white
// rows above the first and below the last. It holds a batch of the print's
// rows, never the print.
#include <cstdint>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "imaging/Export.h"
#include "imaging/ExportThreads.h"

class WhiteBorder {
public:
    // For a photograph of width x height pixels. False when the print would
    // be larger than a JPEG can be or its rows cannot be had.
    bool Prepare(const WhiteMargins& margins, JDIMENSION width, JDIMENSION height);
    JDIMENSION PrintWidth() const { return m_printWidth; }
    JDIMENSION PrintHeight() const { return m_printHeight; }

    // Makes cinfo (started, for a PrintWidth x PrintHeight image) take its
    // rows through this border from now on: see WriteRows.
    void Attach(jpeg_compress_struct& cinfo);

    // Rows a caller fills and then writes, count of them at most a batch:
    // when they hold exactly the photograph's width, they are pointed at the
    // middle of the border's own rows, so that what is filled there goes to
    // the encoder without being copied. Others are left as they are.
    void Lend(JSAMPARRAY rows, int count, size_t rowBytes) const;
    // The same for the encoder thread's batches, laid out as EncoderThread
    // lays them out; each batch gets rows of its own.
    void LendBatches(RowBatch* batches, int count, size_t decodedBytes, size_t convertedBytes, size_t offset);

private:
    friend void WriteRows(j_compress_ptr cinfo, JSAMPARRAY rows, JDIMENSION count);
    void Write(j_compress_ptr cinfo, JSAMPARRAY rows, JDIMENSION count);
    void WriteWhite(j_compress_ptr cinfo, JDIMENSION count);
    // The print row whose middle row is, when it is one of those lent.
    JSAMPROW LentRow(JSAMPROW row) const;

    WhiteMargins m_margins;
    JDIMENSION m_width = 0, m_height = 0;
    JDIMENSION m_printWidth = 0, m_printHeight = 0;
    JDIMENSION m_rowsIn = 0;  // photograph rows written so far
    std::vector<JSAMPLE> m_storage;
    // Print rows whose margins are white for good; the photograph's pixels
    // are copied between them. The white row stands for every white row.
    std::vector<JSAMPROW> m_rows;
    std::vector<JSAMPROW> m_white;
    std::vector<JSAMPLE> m_batchStorage;  // the encoder thread's, when lent
};

// Every row the export encodes goes through here. With a border attached,
// the rows get their margins, the white rows above come before the first
// and those below follow the last; otherwise they go to the encoder as they
// are. Like jpeg_write_scanlines, it may leave through the encoder's error
// trap, so it holds nothing that needs destroying.
void WriteRows(j_compress_ptr cinfo, JSAMPARRAY rows, JDIMENSION count);
