// How this system's readers see a dump of crs_crash_target: POSIX, LLDB and
// minidump_stackwalk with the symbols dump_syms made
// (crash_reading_posix.cpp); Windows, the minidump's own streams and the
// build machine's minidump_stackwalk (crash_reading_win32.cpp).
#pragma once

#include <filesystem>
#include <string>

#include "crs_test_support.h"

// Expects the readers to read `dump` of `program`: the fault, the faulting
// function on the crashed thread, and every thread (the parked one among
// them) when all_threads, else the faulting one alone.
void ExpectReadable(const std::filesystem::path& program, const std::filesystem::path& dump,
                    crs_test::Fault fault, const std::string& function, bool all_threads);
