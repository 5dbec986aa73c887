#pragma once
// Storing a picture file under a name, replacing every earlier row of that name.
#include <string>

#include "desktop/messagebox.h"
#include "engine/engine.h"
#include "os/files.h"

// "WHERE  pic_name = '<name>'" with each apostrophe of the name doubled, so
// the name can never end the literal. A name with a NUL character, which no
// statement can hold, raises err::InvalidArgument with the whole name shown,
// each NUL as \x00. Every statement that finds rows by name uses it, so the
// save removes exactly the rows that start-up and export call by that name.
std::string NameCondition(const std::string& name);

// "DELETE FROM pic_list " followed by NameCondition(name).
std::string RemovalStatement(const std::string& name);

// Removes the rows named `name` and adds one row holding the bytes of `file`,
// in one transaction, and makes it the recordset's current row. Returns false
// when FileToPICField finds no file; the new row is then dropped and its
// message shown through `messages` once the transaction has ended, so no
// lock is held while it is up. On false or on any Error, every earlier row
// is left as it was.
bool StorePicture(Database& dbsPIC, const std::string& name, const std::string& file, FileSystem& files,
                  MessageBox& messages);
