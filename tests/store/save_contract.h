#pragma once
// Contracts of the save that a local book and a linked one both keep: one
// body, run by the store's tests on a local file and by the server's tests
// on a linked book.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "store/save.h"

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
    PosixFileSystem files;
    EXPECT_FALSE(StorePicture(db, "도장", "", files, probe));
    EXPECT_EQ(probe.shown, std::vector<std::string>{"파일이 존재하지 않습니다."});
    EXPECT_EQ(probe.othersWrote, std::vector<bool>{true});
    EXPECT_FALSE(db.InTransaction());
}
