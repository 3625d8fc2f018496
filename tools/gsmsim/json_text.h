// Small JSON text helpers shared by the decoder and the run output.
#pragma once

#include <string>
#include <string_view>

namespace gsmsim {

// A JSON string literal, quotes included. Control characters and bytes
// above 0x7F are written as \u00XX (bytes taken as Latin-1), so any record
// text gives valid JSON.
std::string JsonString(std::string_view text);

}  // namespace gsmsim
