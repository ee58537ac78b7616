// The limits file: the per-entry upper and lower limits of both plots as CSV, so that limits set
// on a test bench outlive the program, and atomic replacement of a file on disk.
//
//     # comment lines start with '#'
//     axis,entry,max_db,min_db
//     X,5,-12.5,-80
//
// One row per axis (X or Y) and entry 0..31. Loading is all or nothing: a file with any bad line
// changes no limit, and entries the file does not list keep the limits they have.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "LimitEditor.h"
#include "SpectrumStore.h"

// Entries a limits file holds per axis: the 32 that Auto-set places (the drawn bins 5..31 and
// the entries 0..4 below them).
inline constexpr int LimitsFileEntries = AutoSetEntries;
inline constexpr std::string_view LimitsFileHeader = "axis,entry,max_db,min_db";
// Larger files are refused unread: a full file is about 2 kB.
inline constexpr std::size_t LimitsFileMaxBytes = 1024 * 1024;

struct EntryLimits {
    double maxDb = 0.0;
    double minDb = 0.0;
};

// The rows of one file: the entries it lists, per axis.
struct LimitsTable {
    std::array<std::optional<EntryLimits>, LimitsFileEntries> x{};
    std::array<std::optional<EntryLimits>, LimitsFileEntries> y{};
};

// Reads the text of a limits file. On a bad line answers false with "<name>:<line>: <what is
// wrong>" in error and leaves table as it was.
bool ParseLimits(std::string_view text, std::string_view name, LimitsTable& table,
                 std::string& error);

// Puts the listed entries into the store's limit arrays; the others keep theirs.
void ApplyLimits(const LimitsTable& table, SpectrumStore& store);

// The limits of entries 0..31 of both plots as a limits file's text, values written so that they
// read back exactly.
std::string FormatLimits(const SpectrumStore& store);

// Reads and applies the file at path; on any failure nothing changes and error says why.
bool LoadLimitsFile(const std::string& path, SpectrumStore& store, std::string& error);

// Writes the store's limits to path atomically (see WriteFileAtomically).
bool SaveLimitsFile(const std::string& path, const SpectrumStore& store, std::string& error);

// Replaces the file at path with content: written in full to a temporary file in the same folder
// and renamed over the old one, so that a reader sees the old file or the new one, never part of
// either. The new file keeps the old one's permissions and owner; a symbolic link at path is
// replaced, not written through. On failure the old file is untouched, no temporary file is left
// and error says why ("Could not write <path>: <reason>").
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error);

// The whole regular file at path, up to maxBytes; false with the reason in error otherwise
// ("<path>: cannot be read: <reason>"). Nothing else is opened, so a FIFO is never waited on.
bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& content,
                   std::string& error);

// What the window shows now, for keeping: per axis and drawn entry (5..31) the shown level, both
// limits and the latched error (-139 when nothing is latched), as CSV with the header
// axis,entry,shown_db,max_db,min_db,error_db; values written so that they read back exactly.
std::string FormatShownView(const SpectrumStore& store);
