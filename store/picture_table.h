#pragma once
// What the table pic_list must be for the system to read and store pictures.
#include "platform/engine.h"

inline constexpr const char* kPictureTable = "pic_list";

// Refuses a pic_list without rowids (WITHOUT ROWID), whose pictures cannot
// be read or written piece by piece, with an Error that says what is wrong
// and what to do. A missing pic_list is left to the first statement on it.
void CheckPictureTable(Database& db);

// Refuses, before anything is changed, to store into a pic_list that is a
// view: its rows can be read, but no picture can be stored through it.
void RequireWritablePictureTable(Database& db);
