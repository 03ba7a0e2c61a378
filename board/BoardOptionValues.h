#pragma once

// The values of orbelt-board's options that need more than a number: surplus bytes, the chip
// and its protected sectors. Each says what is wrong in error.
#include "board/BoardOptions.h"

#include <cstdint>
#include <string>

bool ParseNumberOption(const std::string& name, const std::string& text, uint64_t min, uint64_t max,
                       uint64_t& value, std::string& error);
// FRAME:COUNT, COUNT surplus bytes after frame FRAME.
bool ParseSurplus(const std::string& text, CBoardOptions& options, std::string& error);
bool ParseChipId(const std::string& text, CBoardOptions& options, std::string& error);
bool ParseChipName(const std::string& text, CBoardOptions& options, std::string& error);
bool ParseProtect(const std::string& text, CBoardOptions& options, std::string& error);
// The protected sectors against the part chosen, once the whole line is read.
bool CheckProtect(const CBoardOptions& options, std::string& error);
// The chips of --chip, one help line each.
std::string ChipRows();
