#include "Recording.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TemporaryFolder.h"
#include "TestFiles.h"

namespace {

SampleBlock Ramp(int start) {
    SampleBlock block;
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>((start + static_cast<int>(i) * 37) % 256);
    }
    return block;
}

std::string Row(const std::string& cycle, const std::string& axis, const std::string& ms,
                const std::string& firstSample = "0") {
    std::string row = cycle + "," + axis + "," + ms + "," + firstSample;
    for (std::size_t i = 1; i < RecordedSamples; ++i) {
        row += ",7";
    }
    return row + "\n";
}

class RecordingTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(folder_.Create("sorvell-recording")); }

    // Cycles written as a run writes them; answers the blocks the file should give back.
    std::vector<RecordedBlock> WriteCycles(const std::string& path, long long cycles) {
        RecordingWriter writer;
        std::string error;
        EXPECT_TRUE(writer.Open(path, "1.0", "/dev/ttyUSB0", 0, error)) << error;
        std::vector<RecordedBlock> expected;
        for (long long cycle = 1; cycle <= cycles; ++cycle) {
            const SampleBlock x = Ramp(static_cast<int>(cycle));
            const SampleBlock y = Ramp(static_cast<int>(100 + cycle));
            EXPECT_TRUE(writer.WriteCycle(cycle, cycle * 50, x, cycle * 50 + 9, y, error)) << error;
            expected.push_back({cycle, 'X', cycle * 50, x});
            expected.push_back({cycle, 'Y', cycle * 50 + 9, y});
        }
        return expected;
    }

    TemporaryFolder folder_;
};

TEST_F(RecordingTest, WhatTheWriterKeepsReadsBackBlockForBlockBehindItsComments) {
    // Long enough for rows to straddle the reader's reads.
    const std::string path = folder_.Path("part.csv");
    const std::vector<RecordedBlock> expected = WriteCycles(path, 600);

    const std::string text = ReadText(path);
    EXPECT_TRUE(
        text.starts_with("# sorvell 1.0 recording\n# device /dev/ttyUSB0\n"
                         "# started 1970-01-01T00:00:00Z\ncycle,axis,ms,s0,s1,"))
        << text.substr(0, 120);
    EXPECT_NE(text.find(",s63\n1,X,50,1,38,75,"), std::string::npos);

    Recording recording;
    std::string error;
    ASSERT_TRUE(ReadRecording(path, recording, error)) << error;
    EXPECT_EQ(recording.blocks, expected);
    EXPECT_EQ(recording.warning, "");

    // A device whose name holds a line break still makes one comment line.
    RecordingWriter writer;
    ASSERT_TRUE(writer.Open(path, "1.0", "/tmp/odd\nname", 0, error)) << error;
    writer.Close();
    EXPECT_TRUE(ReadText(path).starts_with("# sorvell 1.0 recording\n# device /tmp/odd?name\n"));
    EXPECT_TRUE(ReadRecording(path, recording, error)) << error;
}

TEST_F(RecordingTest, AFileCutAnywhereInItsLastCycleKeepsEveryWholeCycleWithOneWarning) {
    const std::string path = folder_.Path("part.csv");
    std::vector<RecordedBlock> expected = WriteCycles(path, 3);
    expected.resize(4);
    const std::string whole = ReadText(path);
    const std::size_t lastCycle = whole.rfind("3,X,");
    ASSERT_NE(lastCycle, std::string::npos);

    // Every length from the end of cycle 2 up to one byte short of the whole file.
    for (std::size_t length = lastCycle + 1; length < whole.size(); ++length) {
        Recording recording;
        std::string error;
        ASSERT_TRUE(ParseRecording(whole.substr(0, length), "cut.csv", recording, error))
            << "cut at " << length << ": " << error;
        EXPECT_EQ(recording.blocks, expected) << "cut at " << length;
        EXPECT_TRUE(recording.warning.starts_with("cut.csv:")) << recording.warning;
        EXPECT_TRUE(recording.warning.ends_with("read up to cycle 2")) << recording.warning;
    }
    // The file reader keeps the same, a cut line being what its last read leaves over.
    WriteText(path, whole.substr(0, whole.size() - 1));
    Recording recording;
    std::string error;
    ASSERT_TRUE(ReadRecording(path, recording, error)) << error;
    EXPECT_EQ(recording.blocks, expected);
    EXPECT_EQ(
        recording.warning,
        path + ":10: the last line has no line end, so it may be cut short; read up to cycle 2");
}

struct BadRecording {
    const char* name;
    std::string text;
    std::string error;
};

TEST_F(RecordingTest, EveryKindOfBadRowIsRefusedWithItsLineNumberAndNothingRead) {
    const std::string header = std::string(RecordingHeader()) + "\n";
    const std::string good = Row("1", "X", "0") + Row("1", "Y", "3");
    const std::vector<BadRecording> cases = {
        {"no header", "# only a comment\n" + good, "r.csv:2: the first line that is no comment"},
        {"header missing", "# none\n", "r.csv: not a recording: no header line"},
        {"a field short", header + "1,X,0,1,2\n", "r.csv:2: a row has 67 fields"},
        {"a field over", header + "1,X,0,0" + std::string(64 * 2, ',') + "\n",
         "r.csv:2: a row has 67 fields"},
        {"sample above 255", header + good + Row("2", "X", "50", "256"),
         "r.csv:4: sample s0 \"256\" is no whole number from 0 to 255"},
        {"sample not whole", header + Row("1", "X", "0", "1.5"),
         "r.csv:2: sample s0 \"1.5\" is no whole number"},
        {"sample negative", header + Row("1", "X", "0", "-1"), "r.csv:2: sample s0 \"-1\""},
        {"sample blank", header + Row("1", "X", "0", " 1"), "r.csv:2: sample s0 \" 1\""},
        {"axis Z", header + Row("1", "Z", "0"), "r.csv:2: the axis \"Z\" is neither X nor Y"},
        {"axis lower case", header + Row("1", "x", "0"), "r.csv:2: the axis \"x\""},
        {"cycle zero", header + Row("0", "X", "0"), "r.csv:2: the cycle number \"0\""},
        {"ms not whole", header + Row("1", "X", "0.5"), "r.csv:2: ms \"0.5\""},
        {"cycle backwards", header + Row("2", "X", "0") + Row("2", "Y", "0") + Row("1", "X", "0"),
         "r.csv:4: cycle 1 comes after cycle 2: cycle numbers never go backwards"},
        {"axis twice", header + Row("1", "X", "0") + Row("1", "X", "0"),
         "r.csv:3: cycle 1 has a second X row"},
        {"a third row", header + good + Row("1", "Y", "0"), "r.csv:4: cycle 1 has a second Y row"},
        {"axis missing", header + Row("1", "Y", "0") + Row("2", "X", "0"),
         "r.csv:3: cycle 1 has no X row before cycle 2"},
    };
    for (const BadRecording& bad : cases) {
        Recording recording;
        std::string error;
        EXPECT_FALSE(ParseRecording(bad.text, "r.csv", recording, error)) << bad.name;
        EXPECT_TRUE(error.starts_with(bad.error)) << bad.name << ": " << error;
        EXPECT_TRUE(recording.blocks.empty()) << bad.name;
    }
}

TEST_F(RecordingTest, ASpreadsheetsLineEndsByteOrderMarkAndBlankLinesAreRead) {
    std::string text = "\xEF\xBB\xBF# saved again\r\n" + std::string(RecordingHeader()) + "\r\n";
    std::string rows = Row("4", "Y", "10") + "\n" + Row("4", "X", "12", "255");
    for (std::size_t at = 0; (at = rows.find('\n', at)) != std::string::npos; at += 2) {
        rows.replace(at, 1, "\r\n");
    }
    Recording recording;
    std::string error;
    ASSERT_TRUE(ParseRecording(text + rows, "saved.csv", recording, error)) << error;
    ASSERT_EQ(recording.blocks.size(), 2u);
    EXPECT_EQ(recording.blocks[1].axis, 'X');
    EXPECT_EQ(recording.blocks[1].samples[0], 255);
    EXPECT_EQ(recording.blocks[1].samples[63], 7);
}

TEST_F(RecordingTest, ALineOverOneMegabyteAndAnythingButARegularFileAreRefused) {
    const std::string path = folder_.Path("long.csv");
    WriteText(path, std::string(RecordingHeader()) + "\n" + Row("1", "X", "0") +
                        Row("1", "Y", "0") + std::string(MaxRecordingLineBytes + 10, '1') + "\n");
    Recording recording;
    std::string error;
    EXPECT_FALSE(ReadRecording(path, recording, error));
    EXPECT_EQ(error, path + ":4: a line longer than 1 MB is no row of a recording");

    EXPECT_FALSE(ReadRecording(folder_.Path(""), recording, error));
    EXPECT_TRUE(error.ends_with("not a regular file")) << error;
    // A FIFO would wait for a writer if it were opened: both sides refuse it at once.
    const std::string fifo = folder_.Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(ReadRecording(fifo, recording, error));
    EXPECT_EQ(error, fifo + ": not a regular file");
    RecordingWriter writer;
    EXPECT_FALSE(writer.Open(fifo, "1.0", "d", 0, error));
    EXPECT_EQ(error, "Could not record to " + fifo + ": not a regular file");
    EXPECT_FALSE(writer.Open(folder_.Path("no/such/folder.csv"), "1.0", "d", 0, error));
    EXPECT_TRUE(error.ends_with("No such file or directory")) << error;
    EXPECT_FALSE(ReadRecording(folder_.Path("missing.csv"), recording, error));
    EXPECT_TRUE(error.ends_with("No such file or directory")) << error;
}

}  // namespace
