#pragma once

// What the clips browser, the search dialog and the player hand to an export:
// the clip files of one channel with their wall-clock starts, and for a range
// the clips that may hold footage within it.
//
// A clip's start is the stamp in its file name (to the second); a record
// whose name holds none falls back to SDate/STime (to the minute). Its end is
// only known to the minute (EDate/ETime), so a range takes every clip that
// starts before the range ends and whose end minute is not before the range's
// start; the exporter then cuts at the exact frames.

#include "clips/core/ClipGroups.h"
#include "platform/export/ClipExporter.h"

#include <optional>
#include <vector>

// Milliseconds since the epoch of the clip's start; nothing when neither the
// name nor SDate/STime can be read.
std::optional<int64_t> clipStartMs(const ClipRecord& record);
// The start of the minute EDate/ETime names.
std::optional<int64_t> clipEndMinuteMs(const ClipRecord& record);

ExportPlan exportPlanForClips(const std::vector<const ClipRecord*>& records, const std::string& label);
ExportPlan exportPlanForRange(const ClipGroup& group, int64_t fromMs, int64_t untilMs);
