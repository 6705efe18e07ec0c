// The step's parts, for the hot-loop benchmarks (bench/step_bench.cpp): the
// one declared way past the ABI. A benchmark links the exports in, drives a
// block through them, and reaches inside only through these few entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sv::step_seam {

// What loading the library runs: its start-up.
void start_library();

// Sets a block's destination and number of inputs as the dialog's OK would;
// the block record has been through InitUserDLL.
void configure(void* block_record, std::string_view host, std::uint16_t port, std::int32_t inputs);

// While on, the platform's sendto sends nothing and reports every byte as
// sent: what is left of a step is the plug-in's own work.
void stub_sendto(bool on);

// The data type codes, 0 to data_type_count() - 1, and their names.
std::int32_t data_type_count();
std::string data_type_name(std::int32_t code);

// The frame conversion alone: `inputs` 80-bit values into a frame of the
// data type; the frame's length. The frame is the seam's own buffer.
std::size_t convert(std::int32_t inputs, std::int32_t data_type, const std::uint8_t* values);

}  // namespace sv::step_seam
