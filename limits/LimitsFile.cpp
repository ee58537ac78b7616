#include "LimitsFile.h"

#include <charconv>
#include <cstring>

#include "FileAccess.h"
#include "NumberText.h"

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// A field as it appears in a message: quoted, and cut short when long.
std::string Quoted(std::string_view field) {
    constexpr std::size_t Shown = 40;
    std::string text = "\"";
    text.append(field.substr(0, Shown));
    if (field.size() > Shown) {
        text.append("...");
    }
    text.push_back('"');
    return text;
}

void AppendDb(std::string& out, double value) {
    char buffer[64];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, ec == std::errc{} ? ptr : buffer);
}

std::string SystemReason(int error) {
    return std::strerror(error);
}

// The next line of text, which loses it and its newline.
std::string_view TakeLine(std::string_view& text) {
    const std::size_t newline = text.find('\n');
    const std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    return line;
}

// The fields of a row, trimmed; the count is checked against the four the header names.
bool SplitRow(std::string_view line, std::array<std::string_view, 4>& fields, std::string& what) {
    std::size_t count = 0;
    while (true) {
        const std::size_t comma = line.find(',');
        if (count == fields.size()) {
            what = "more than 4 fields (axis,entry,max_db,min_db)";
            return false;
        }
        fields[count++] = Trim(line.substr(0, comma));
        if (comma == std::string_view::npos) {
            break;
        }
        line.remove_prefix(comma + 1);
    }
    if (count != fields.size()) {
        what = std::to_string(count) + " fields where 4 are expected (axis,entry,max_db,min_db)";
        return false;
    }
    return true;
}

// What one row says.
struct LimitsRow {
    bool isX = false;
    int entry = 0;
    EntryLimits limits;
};

// Reads a row, its fields in order; on the first bad one answers none with the fault in what.
std::optional<LimitsRow> ReadRow(std::string_view line, std::string& what) {
    std::array<std::string_view, 4> fields;
    if (!SplitRow(line, fields, what)) {
        return std::nullopt;
    }
    const std::string_view axis = fields[0];
    const std::optional<int> entry = ParseNumber<int>(fields[1], NumberForms::Exact);
    const std::optional<double> maxDb = ParseNumber<double>(fields[2], NumberForms::LimitsLevel);
    const std::optional<double> minDb = ParseNumber<double>(fields[3], NumberForms::LimitsLevel);
    if (axis != "X" && axis != "Y") {
        what = "unknown axis " + Quoted(axis) + " (X or Y)";
    } else if (!entry || *entry < 0 || *entry >= LimitsFileEntries) {
        what = "entry " + Quoted(fields[1]) + " is not a whole number from 0 to " +
               std::to_string(LimitsFileEntries - 1);
    } else if (!maxDb) {
        what = "max_db " + Quoted(fields[2]) + " is not a finite number";
    } else if (!minDb) {
        what = "min_db " + Quoted(fields[3]) + " is not a finite number";
    } else {
        return LimitsRow{axis == "X", *entry, EntryLimits{*maxDb, *minDb}};
    }
    return std::nullopt;
}

// The rows read so far, with the line each came from to name both lines of a duplicate.
class LimitsReader {
  public:
    // Takes one trimmed line: blank lines and comments, then the header, then rows. On a bad line
    // answers false with the fault in what.
    bool Take(std::string_view line, int lineNumber, std::string& what) {
        if (line.empty() || line.front() == '#') {
            return true;
        }
        if (!headerSeen_) {
            headerSeen_ = line == LimitsFileHeader;
            if (!headerSeen_) {
                what = "expected the header line " + std::string(LimitsFileHeader) + ", found " +
                       Quoted(line);
            }
            return headerSeen_;
        }
        const std::optional<LimitsRow> row = ReadRow(line, what);
        return row && Keep(*row, lineNumber, what);
    }

    bool HeaderSeen() const { return headerSeen_; }
    const LimitsTable& Table() const { return table_; }

  private:
    bool Keep(const LimitsRow& row, int lineNumber, std::string& what) {
        const auto index = static_cast<std::size_t>(row.entry);
        int& firstLine = (row.isX ? lineX_ : lineY_)[index];
        if (firstLine != 0) {
            what = "duplicate row for " + std::string(row.isX ? "X" : "Y") + " entry " +
                   std::to_string(row.entry) + " (first on line " + std::to_string(firstLine) + ")";
            return false;
        }
        firstLine = lineNumber;
        (row.isX ? table_.x : table_.y)[index] = row.limits;
        return true;
    }

    LimitsTable table_;
    std::array<int, LimitsFileEntries> lineX_{};
    std::array<int, LimitsFileEntries> lineY_{};
    bool headerSeen_ = false;
};

}  // namespace

bool ParseLimits(std::string_view text, std::string_view name, LimitsTable& table,
                 std::string& error) {
    const auto fail = [&](int line, const std::string& what) {
        error = std::string(name) + ":" + std::to_string(line) + ": " + what;
        return false;
    };
    // Spreadsheets put a byte order mark in front of the text.
    constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
    if (text.starts_with(ByteOrderMark)) {
        text.remove_prefix(ByteOrderMark.size());
    }
    LimitsReader reader;
    int lineNumber = 0;
    std::string what;
    while (!text.empty()) {
        ++lineNumber;
        if (!reader.Take(Trim(TakeLine(text)), lineNumber, what)) {
            return fail(lineNumber, what);
        }
    }
    if (!reader.HeaderSeen()) {
        return fail(lineNumber == 0 ? 1 : lineNumber,
                    "no header line " + std::string(LimitsFileHeader) + " (empty file)");
    }
    table = reader.Table();
    return true;
}

void ApplyLimits(const LimitsTable& table, SpectrumStore& store) {
    for (std::size_t i = 0; i < LimitsFileEntries; ++i) {
        if (table.x[i]) {
            store.maxLimitX[i] = table.x[i]->maxDb;
            store.minLimitX[i] = table.x[i]->minDb;
        }
        if (table.y[i]) {
            store.maxLimitY[i] = table.y[i]->maxDb;
            store.minLimitY[i] = table.y[i]->minDb;
        }
    }
}

std::string FormatLimits(const SpectrumStore& store) {
    std::string out;
    out.append(LimitsFileHeader).push_back('\n');
    const auto rows = [&](char axis, const SpectrumArray& maxLimit, const SpectrumArray& minLimit) {
        for (std::size_t i = 0; i < LimitsFileEntries; ++i) {
            out.push_back(axis);
            out.push_back(',');
            out.append(std::to_string(i)).push_back(',');
            AppendDb(out, maxLimit[i]);
            out.push_back(',');
            AppendDb(out, minLimit[i]);
            out.push_back('\n');
        }
    };
    rows('X', store.maxLimitX, store.minLimitX);
    rows('Y', store.maxLimitY, store.minLimitY);
    return out;
}

std::string FormatShownView(const SpectrumStore& store) {
    std::string out = "axis,entry,shown_db,max_db,min_db,error_db\n";
    const auto rows = [&](char axis, const SpectrumArray& shown, const SpectrumArray& maxLimit,
                          const SpectrumArray& minLimit, const SpectrumArray& error) {
        for (int bin = FirstDrawnBin; bin <= LastDrawnBin; ++bin) {
            const auto b = static_cast<std::size_t>(bin);
            out.push_back(axis);
            out.push_back(',');
            out.append(std::to_string(bin));
            for (const double value : {shown[b], maxLimit[b], minLimit[b], error[b]}) {
                out.push_back(',');
                AppendDb(out, value);
            }
            out.push_back('\n');
        }
    };
    rows('X', store.shownX, store.maxLimitX, store.minLimitX, store.errorX);
    rows('Y', store.shownY, store.maxLimitY, store.minLimitY, store.errorY);
    return out;
}

bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& content,
                   std::string& error) {
    const FileOutcome outcome = ReadRegularFile(path, maxBytes, content);
    switch (outcome.kind) {
        case FileOutcome::Kind::Done:
            return true;
        case FileOutcome::Kind::NotRegular:
            error = path + ": cannot be read: not a regular file";
            break;
        case FileOutcome::Kind::TooLarge:
            error = path + ": cannot be read: larger than " + std::to_string(maxBytes) + " bytes";
            break;
        case FileOutcome::Kind::System:
            error = path + ": cannot be read: " + SystemReason(outcome.error);
            break;
    }
    return false;
}

bool LoadLimitsFile(const std::string& path, SpectrumStore& store, std::string& error) {
    std::string text;
    if (!ReadWholeFile(path, LimitsFileMaxBytes, text, error)) {
        return false;
    }
    LimitsTable table;
    if (!ParseLimits(text, path, table, error)) {
        return false;
    }
    ApplyLimits(table, store);
    return true;
}

bool SaveLimitsFile(const std::string& path, const SpectrumStore& store, std::string& error) {
    return WriteFileAtomically(path, FormatLimits(store), error);
}

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error) {
    // The path itself is replaced: a symbolic link there gives way to the new file.
    // A limits file in a bench's shared folder may be another user's: it is saved all the same.
    const int failure = ReplaceFileAtomically(path, content, ForeignOwner::TakeOver);
    if (failure != 0) {
        error = "Could not write " + path + ": " + SystemReason(failure);
        return false;
    }
    return true;
}
