// The path of a kept record after the gate: the hook's bounded queue, the writer thread that fills
// the lists and the journal, and the text of positions.json, clicks.json and the journal lines,
// which must stay byte for byte what the JSON library made of them.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "common/captured_log.h"
#include "input/input_record_text.h"
#include "input/input_record_writer.h"
#include "input/input_records.h"
#include "recording_journal.h"

namespace input_test {
namespace {

namespace fs = std::filesystem;

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

nlohmann::json recordObject(const InputRecord& r) {
    return {{"button", r.button}, {"cursorName", r.cursorName}, {"time", r.time}, {"type", r.type}, {"x", r.x}, {"y", r.y}};
}

std::vector<InputRecord> someRecords(size_t count) {
    static const char* names[] = {"Arrow", "IBeam", "Unknown", "odd \"name\"\\\t\x01 é"};
    std::mt19937 random(7);
    std::vector<InputRecord> records;
    for (size_t i = 0; i < count; ++i) {
        records.push_back({static_cast<int32_t>(random()) >> 16, -static_cast<int32_t>(random() % 5000), static_cast<int32_t>(i % 2),
                           static_cast<int32_t>(random() % 65536), names[i % 4], 1'700'000'000'000 + static_cast<int64_t>(i) * 10});
    }
    return records;
}

class InputQueueTest : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("desktracks-input-queue-" + std::to_string(std::random_device{}()));
    void SetUp() override {
        fs::create_directories(dir);
        resetInputRecords();
    }
    void TearDown() override {
        resetInputRecords();
        fs::remove_all(dir);
    }
};

// Nothing is lost while the queue has room; what a full queue turns away is counted and said
// once, with the total at the end; the journal gets every kept record in order.
TEST_F(InputQueueTest, AFullQueueLosesOnlyWhatDoesNotFitAndSaysSo) {
    test_support::CapturedLog log;
    const auto records = someRecords(70);
    {
        auto journal = RecordingJournal::create(dir);
        ASSERT_TRUE(journal);
        InputRecordWriter writer(journal, log.logger, 32);
        for (size_t i = 0; i < 32; ++i) EXPECT_TRUE(writer.queue().push({records[i], i % 3 == 0}));
        EXPECT_FALSE(writer.queue().push({records[32], false}));
        writer.drain();
        for (size_t i = 33; i < 65; ++i) EXPECT_TRUE(writer.queue().push({records[i], i % 3 == 0}));
        EXPECT_FALSE(writer.queue().push({records[65], false}));
        EXPECT_FALSE(writer.queue().push({records[66], false}));
        writer.drain();
        writer.stop();
    }
    EXPECT_EQ(positionRecords.size() + clickRecords.size(), 64u);
    EXPECT_EQ(log.messages(), (std::vector<std::string>{
                                  "input: the input queue is full; mouse records are being lost (1 so far)",
                                  "input: 3 mouse records were lost in all because the input queue was full",
                              }));
    std::string expected;
    for (size_t i = 0; i < 65; ++i) {
        if (i == 32) continue;
        nlohmann::json line = recordObject(records[i]);
        line["kind"] = i % 3 == 0 ? "click" : "position";
        expected += line.dump() + "\n";
    }
    EXPECT_EQ(fileText(dir / journalFileName), expected);
}

// The writer thread takes the records off the queue by itself and the journal has them on disk
// well within a second.
TEST_F(InputQueueTest, TheWriterThreadAppendsTheJournalWithinASecond) {
    auto journal = RecordingJournal::create(dir);
    ASSERT_TRUE(journal);
    InputRecordWriter writer(journal, nullptr);
    writer.start();
    const auto records = someRecords(3);
    for (const InputRecord& record : records) ASSERT_TRUE(writer.queue().push({record, false}));
    const auto start = std::chrono::steady_clock::now();
    while (std::count(std::istreambuf_iterator<char>(*std::make_unique<std::ifstream>(dir / journalFileName)), {}, '\n') < 3) {
        ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    writer.stop();
    ASSERT_EQ(positionRecords.size(), 3u);
    EXPECT_EQ(positionRecords[2].time, records[2].time);
}

// Streamed piece by piece, the lists come out as the JSON library's dump(4) of the same objects,
// and each journal line reads back as the record it was.
TEST_F(InputQueueTest, TheTextIsTheJsonLibrarysAndReadsBack) {
    for (size_t count : {size_t{0}, size_t{1}, size_t{5000}}) {
        const auto records = someRecords(count);
        nlohmann::json list = nlohmann::json::array();
        for (const InputRecord& record : records) list.push_back(recordObject(record));
        ASSERT_TRUE(writeRecordList(dir / "positions.json", records));
        EXPECT_EQ(fileText(dir / "positions.json"), list.dump(4)) << count << " records";
        EXPECT_EQ(recordListJson(records), list.dump(4));
    }
    std::set<std::string> names;
    for (const InputRecord& record : someRecords(8)) {
        std::string line;
        appendJournalLine(line, record, record.type == 1);
        nlohmann::json spaced = recordObject(record);
        spaced["kind"] = "position";
        // Its own lines and any other layout of the members.
        for (const std::string& text : {line, spaced.dump(1)}) {
            InputRecord read{};
            bool click = false;
            ASSERT_TRUE(readJournalRecord(text, read, click, names)) << text;
            EXPECT_EQ(recordObject(read), recordObject(record));
        }
    }
    InputRecord read{};
    bool click = false;
    EXPECT_FALSE(readJournalRecord("{\"kind\":\"meta\",\"time\":1}", read, click, names));
    EXPECT_FALSE(readJournalRecord("{\"button\":0,\"cursorName\":\"Arr", read, click, names));  // cut short by a death
    EXPECT_TRUE(readJournalRecord("{\"kind\":\"click\",\"x\":\"not a number\"}", read, click, names));
    EXPECT_EQ(read.x, 0);
}

}  // namespace
}  // namespace input_test
