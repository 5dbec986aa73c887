#pragma once
// The keeper's changes to a book besides saving: deleting and renaming the
// rows of a name. Rows are found by the save's own condition (NameCondition),
// so these mean exactly the rows a save of that name would replace.
#include <string>

#include "engine/engine.h"

// Removes every row named `name`, in one transaction. Returns how many went;
// raises err::ItemNotFound, changing nothing, when there is none.
long DeletePictures(Database& db, const std::string& name);

// Gives every row named `from` the name `to`, in one transaction. When rows
// named `to` exist, raises err::DuplicateKey and changes nothing, unless
// `replace`: those rows are then removed first. Raises err::ItemNotFound when
// no row is named `from`, err::InvalidArgument when the two names are one.
// Returns how many rows were renamed.
long RenamePictures(Database& db, const std::string& from, const std::string& to, bool replace);
