#pragma once
// What the table pic_list must be for the system to read and store pictures.
#include "engine/engine.h"

inline constexpr const char* kPictureTable = "pic_list";

// Makes pic_list and its name index in an empty book, in one transaction:
// the one schema of each kind of book (local and server).
void CreatePictureTable(Database& db);

// Refuses a pic_list without rowids (WITHOUT ROWID), whose pictures cannot
// be read or written piece by piece, with an Error that says what is wrong
// and what to do. A missing pic_list is left to the first statement on it.
void CheckPictureTable(Database& db);

// Refuses, before anything is changed, to store into a pic_list that is a
// view: its rows can be read, but no picture can be stored through it.
void RequireWritablePictureTable(Database& db);

// Refuses a local pic_list holding names that the save's removal statement
// can never match: names stored as BLOBs, or as numbers in a column that
// does not turn text into numbers (other programs write such rows). The
// window lists them by their text, but saving under that text would leave
// them in place beside the new row. The Error counts them and gives the
// statement that turns them into text. A linked book's names are text.
void RequireTextNames(Database& db);
