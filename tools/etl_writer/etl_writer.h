// Writes .etl files laid out byte for byte as the Windows kernel logger writes
// them, from events described in code. Tests build the exact trace they need
// with it, and the sample generator builds realistic ones.
//
// File layout produced:
//   * buffer 0: HEADER buffer (type 4) of processor 0 holding only the
//     logfile-header event (SYSTEM32/64, version 2, hook 0);
//   * then per-processor data buffers (type 0) in flush order, each
//     `buffer_size` bytes: 0x48-byte buffer header, events 8-byte aligned,
//     unused tail 0xFF. A processor's buffer is flushed when its next event
//     does not fit; Finish() flushes the partly filled ones in processor order
//     and patches BuffersWritten and EndTime into the logfile header.
// With TraceOptions::compress the data buffers are stored compressed instead
// (see there). Damaged files for reader tests are made by editing the bytes
// of a written file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

#include "etl_writer/event_encoding.h"
#include "etl_writer/trace_clock.h"
#include "etl_writer/trace_description.h"

namespace dormiscope::etl {

// Streams events into an .etl file. Memory stays at one buffer per processor,
// whatever the number of events. Events of a processor are stored in the order
// given; a real logger's stamps never go backwards on one processor, so give
// them in non-decreasing raw time unless a test wants otherwise.
class EtlWriter {
public:
    // Creates (truncates) `file` and writes the header buffer. Throws
    // std::invalid_argument for inconsistent options, std::runtime_error when
    // the file cannot be written.
    EtlWriter(const std::filesystem::path& file, TraceOptions options);
    // Finishes the file if Finish() was not called; errors are then lost.
    ~EtlWriter();
    EtlWriter(const EtlWriter&) = delete;
    EtlWriter& operator=(const EtlWriter&) = delete;

    // Appends `event` to its processor's buffer. Throws std::invalid_argument
    // for a processor out of range or an event that cannot fit in a buffer,
    // std::logic_error after Finish().
    void Add(const Event& event);
    // Flushes the partly filled buffers, patches BuffersWritten and EndTime
    // and closes the file. Later calls do nothing.
    void Finish();

    const TraceOptions& options() const { return options_; }
    // Buffers in the file so far, the header buffer included.
    std::uint32_t buffers_written() const { return buffers_written_; }
    // Events added so far, the logfile-header event not included.
    std::uint64_t events_written() const { return events_written_; }

private:
    // A processor's buffer being filled: the 0x48-byte header area, then the
    // events written so far (8-byte aligned).
    struct OpenBuffer {
        std::vector<std::uint8_t> bytes;  // empty until the processor's first event
        std::size_t used = 0;
        std::int64_t latest_raw = 0;
    };

    std::vector<std::uint8_t> HeaderBuffer() const;
    void Flush(std::uint32_t processor, bool final_flush);
    void Write(const std::vector<std::uint8_t>& bytes);

    TraceOptions options_;
    std::filesystem::path path_;
    std::ofstream out_;
    std::vector<OpenBuffer> open_buffers_;
    std::uint32_t buffers_written_ = 0;
    std::int64_t sequence_number_ = 0;
    std::uint64_t events_written_ = 0;
    std::int64_t latest_raw_;
    bool finished_ = false;
};

}  // namespace dormiscope::etl
