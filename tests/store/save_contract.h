#pragma once
// Contracts of the save that a local book and a linked one both keep: one
// body, run by the store's tests on a local file and by the server's tests
// on a linked book. The window and the tool only hand a name to StorePicture,
// so which rows a save replaces is checked here and nowhere above.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "store/save.h"
#include "support.h"

// The message of a missing file to store is shown only after the save's
// transaction has ended: while the box is up, another writer of the book
// (`othersMayWrite`, true when it got through without waiting) is not held
// up, and the user still sees that one message, then nothing else.
inline void ExpectNoLockWhileAMessageIsShown(Database& db, const std::function<bool()>& othersMayWrite) {
    struct Probe : MessageBox {
        std::function<bool()> othersMayWrite;
        std::vector<std::string> shown;
        std::vector<bool> othersWrote;
        void MsgBox(const std::string& prompt, int) override {
            shown.push_back(prompt);
            othersWrote.push_back(othersMayWrite());
        }
    } probe;
    probe.othersMayWrite = othersMayWrite;
    LocalFileSystem files;
    EXPECT_FALSE(StorePicture(db, "도장", "", files, probe));
    EXPECT_EQ(probe.shown, std::vector<std::string>{"파일이 존재하지 않습니다."});
    EXPECT_EQ(probe.othersWrote, std::vector<bool>{true});
    EXPECT_FALSE(db.InTransaction());
}

// --- a save replaces every row of its name, and no other -------------------

// One name saved over a book holding it (often several times) among names
// that differ from it by a quote, a blank, a letter's case or a wildcard: the
// save's removal must match exactly the rows of that name.
struct ReplaceCase {
    const char* what;
    std::string saved;
    bool refused = false;  // refused whole, nothing changed
};
inline void PrintTo(const ReplaceCase& c, std::ostream* os) { *os << c.what; }

inline const std::vector<ReplaceCase>& ReplaceCases() {
    static const std::vector<ReplaceCase> cases = {
        {"several_rows_of_the_name", "도장"},
        {"a_new_name", "새 이름"},
        {"an_apostrophe", "it's"},
        {"sql_that_matches_every_row", "x' OR '1'='1"},
        {"sql_that_ends_the_statement", "'; DROP TABLE pic_list; --"},
        {"one_quote", "'"},
        {"two_quotes", "''"},
        {"double_quotes", "\"quoted\""},
        {"like_wildcard_percent", "%"},
        {"like_wildcard_underscore", "_"},
        {"wildcards_inside", "a%b_c"},
        {"backslashes", "back\\slash\\"},
        {"tab_and_line_breaks", "tab\there\nline\r\n"},
        {"a_leading_blank", " 도장"},
        {"trailing_blanks", "도장  "},
        {"a_single_blank", " "},
        {"letter_case", "Dojang"},
        {"combining_marks", "e\xcc\x81 a\xcc\x8a"},
        {"emoji_with_a_skin_tone", "\xf0\x9f\x98\x80\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd"},
        {"a_name_of_40000_characters", std::string(40000, 'L')},
        {"a_nul_character", std::string("a\0b", 3), true},
    };
    return cases;
}

using NamedRows = std::vector<std::pair<std::string, Bytes>>;

// What the book holds before each case: every name of the table (but the NUL
// one, which no statement can hold), some several times, and near misses.
inline NamedRows ReplaceSeed() {
    NamedRows rows;
    unsigned seed = 1;
    auto add = [&](const std::string& name) { rows.emplace_back(name, PatternBytes(200 + seed, seed)), ++seed; };
    for (const ReplaceCase& c : ReplaceCases())
        if (!c.refused && c.saved != "새 이름") add(c.saved);
    for (const char* more : {"도장", "it's", "도장", "''", "dojang", "a", "b", "x", "a%b_cd"}) add(more);
    return rows;
}

inline NamedRows Sorted(NamedRows rows) {
    std::sort(rows.begin(), rows.end());
    return rows;
}

// The rows one side has and the other lacks, by name and size: a failure
// names the rows, not every byte of the book.
inline std::string RowDifference(const NamedRows& want, const NamedRows& got) {
    NamedRows missing, extra;
    const NamedRows w = Sorted(want), g = Sorted(got);
    std::set_difference(w.begin(), w.end(), g.begin(), g.end(), std::back_inserter(missing));
    std::set_difference(g.begin(), g.end(), w.begin(), w.end(), std::back_inserter(extra));
    std::string out;
    auto list = [&](const char* what, const NamedRows& rows) {
        for (const auto& [name, pic] : rows)
            out += std::string(what) + " \"" + name.substr(0, 40) + (name.size() > 40 ? "..." : "") + "\" (" +
                   std::to_string(pic.size()) + " bytes)\n";
    };
    list("missing", missing);
    list("unexpected", extra);
    return out;
}

// Runs every case on `db`: the book emptied and filled with ReplaceSeed()
// through the engine, one save of a picture of two chunks and more, then
// `rowsOutside()` (the rows as another program reads them) compared.
inline void ExpectSaveReplacesEveryRowOfTheNameAndNoOther(Database& db, const std::string& folder,
                                                          const std::function<NamedRows()>& rowsOutside) {
    LocalFileSystem files;
    const std::string file = folder + "/in.bmp";
    const Bytes picture = PatternBytes(2 * 32000 + 123, 77);
    WriteBytes(file, picture);
    for (const ReplaceCase& c : ReplaceCases()) {
        SCOPED_TRACE(c.what);
        {
            Transaction seeding(db);
            db.Execute("DELETE FROM pic_list", dbFailOnError);
            Recordset rs = db.OpenRecordset("pic_list", dbOpenTable);
            for (const auto& [name, pic] : ReplaceSeed()) {
                rs.AddNew();
                rs.Fields("pic").AppendChunk(pic);
                rs.Fields("pic_name").SetValue(name);
                rs.Update();
            }
            rs.Close();
            seeding.Commit();
        }
        const NamedRows before = Sorted(rowsOutside());
        ASSERT_EQ(before.size(), ReplaceSeed().size());
        RecordingMessageBox messages;
        if (c.refused) {
            const Error e = ErrorOf([&] { StorePicture(db, c.saved, file, files, messages); });
            EXPECT_EQ(e.Number(), err::InvalidArgument);
            EXPECT_NE(std::string(e.what()).find("\"a\\x00b\""), std::string::npos) << e.what();
            EXPECT_EQ(RowDifference(before, rowsOutside()), "");
            continue;
        }
        ASSERT_TRUE(StorePicture(db, c.saved, file, files, messages));
        EXPECT_TRUE(messages.shown.empty());
        NamedRows expected = before;
        std::erase_if(expected, [&](const auto& row) { return row.first == c.saved; });
        expected.emplace_back(c.saved, picture);
        EXPECT_EQ(RowDifference(expected, rowsOutside()), "");
    }
}
