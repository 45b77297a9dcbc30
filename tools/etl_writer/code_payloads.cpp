#include "etl_writer/code_payloads.h"

#include <stdexcept>

#include "etl_writer/byte_output.h"

namespace dormiscope::etl {
namespace {

void PutFrames(Bytes& out, const std::vector<std::uint64_t>& frames, std::uint32_t pointer_size) {
    for (const std::uint64_t frame : frames) {
        PutPointer(out, frame, pointer_size);
    }
}

}  // namespace

std::vector<std::uint8_t> ImagePayload(std::uint16_t version, std::uint32_t pointer_size, const ImageFields& fields) {
    CheckPointerSize(pointer_size);
    if (version != 2 && version != 3) {
        throw std::invalid_argument("Image events are written in versions 2 and 3");
    }
    Bytes out;
    PutPointer(out, fields.ImageBase, pointer_size);
    PutPointer(out, fields.ImageSize, pointer_size);
    PutLE(out, fields.ProcessId);
    PutLE(out, fields.ImageCheckSum);
    PutLE(out, fields.TimeDateStamp);
    if (version == 3) {
        PutLE(out, fields.SignatureLevel);
        PutLE(out, fields.SignatureType);
        PutLE(out, std::uint16_t{0});
    } else {
        PutLE(out, std::uint32_t{0});
    }
    PutPointer(out, fields.DefaultBase, pointer_size);
    for (int reserved = 0; reserved < 4; ++reserved) {
        PutLE(out, std::uint32_t{0});
    }
    PutUtf16Z(out, fields.FileName);
    return out;
}

std::vector<std::uint8_t> ImageIdentityPayload(std::uint32_t pointer_size, const ImageIdentityFields& fields) {
    CheckPointerSize(pointer_size);
    Bytes out;
    PutPointer(out, fields.ImageBase, pointer_size);
    PutLE(out, fields.ProcessId);
    PutGuid(out, fields.PdbGuid);
    PutLE(out, fields.Age);
    PutAnsiZ(out, fields.PdbFileName);
    return out;
}

std::vector<std::uint8_t> StackPayload(std::uint64_t event_time_stamp, std::uint32_t process_id,
                                       std::uint32_t thread_id, const std::vector<std::uint64_t>& frames,
                                       std::uint32_t pointer_size) {
    CheckPointerSize(pointer_size);
    Bytes out;
    PutLE(out, event_time_stamp);
    PutLE(out, process_id);
    PutLE(out, thread_id);
    PutFrames(out, frames, pointer_size);
    return out;
}

std::vector<std::uint8_t> StackKeyDefinitionPayload(std::uint64_t key, const std::vector<std::uint64_t>& frames,
                                                    std::uint32_t pointer_size) {
    CheckPointerSize(pointer_size);
    Bytes out;
    PutPointer(out, key, pointer_size);
    PutFrames(out, frames, pointer_size);
    return out;
}

std::vector<std::uint8_t> StackKeyReferencePayload(std::uint64_t event_time_stamp, std::uint32_t process_id,
                                                   std::uint32_t thread_id, std::uint64_t key,
                                                   std::uint32_t pointer_size) {
    CheckPointerSize(pointer_size);
    Bytes out;
    PutLE(out, event_time_stamp);
    PutLE(out, process_id);
    PutLE(out, thread_id);
    PutPointer(out, key, pointer_size);
    return out;
}

std::vector<std::uint8_t> DpcPayload(std::uint64_t initial_time, std::uint64_t routine, std::uint32_t pointer_size) {
    CheckPointerSize(pointer_size);
    Bytes out;
    PutLE(out, initial_time);
    PutPointer(out, routine, pointer_size);
    return out;
}

std::vector<std::uint8_t> IsrPayload(std::uint64_t initial_time, std::uint64_t routine, std::uint8_t return_value,
                                     std::uint8_t vector, std::uint32_t pointer_size) {
    Bytes out = DpcPayload(initial_time, routine, pointer_size);
    PutLE(out, return_value);
    PutLE(out, vector);
    PutLE(out, std::uint16_t{0});
    return out;
}

}  // namespace dormiscope::etl
