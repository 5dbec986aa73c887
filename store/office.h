#pragma once
// An office's book on a server, its owner kept apart from its clerks: the
// table and its history belong to an owner role no one logs in as, and the
// clerks' roles get exactly what the window and the tool need, so that no
// clerk can empty the book, turn its history off or write into it.
#include <string>
#include <vector>

#include "engine/engine.h"

// The group role the clerks' login roles are made members of.
inline constexpr const char* kClerksRole = "kaldoria_clerks";

// Whether `name` is a role name this set-up takes: a lower-case letter or
// '_', then lower-case letters, digits and '_', at most 63 in all (a name
// PostgreSQL keeps as it is written, so no quoting is ever needed).
bool IsPlainRoleName(const std::string& name);

struct OfficeSetUp {
    std::string database;              // the server's database, for pg_hba.conf
    std::vector<std::string> made;     // the roles made now (the owner, the group, clerks)
    bool historyMade = false;          // the book had no working history before
};

// On the linked book `db`, as an administrator (a superuser, or a role with
// CREATEROLE that may hand its tables over): makes the owner role (NOLOGIN),
// the group kaldoria_clerks and each clerk's login role when missing; gives
// the book a working history; hands pic_list, the tables that inherit from
// it, pic_history and the history's functions to the owner; takes every
// right on them from PUBLIC; grants the group SELECT, INSERT, UPDATE and
// DELETE on pic_list and SELECT on pic_history (listing and restoring;
// pruning stays the owner's), SELECT and INSERT on the ledger of stamped
// documents (made when missing), and the group to each clerk. One transaction:
// all of it or nothing. Raises err::InvalidArgument for a name that is no
// plain role name, err::InvalidOperation on a local book.
OfficeSetUp SetUpOffice(Database& db, const std::string& owner, const std::vector<std::string>& clerks);

// Whether the role this connection logged in as owns the book (is its
// owner, a member of the owner role, or a superuser): such a role can turn
// the history off or empty the table. False on a local book.
bool ConnectedRoleOwnsBook(Database& db);

// A sentence for the clerk or administrator when ConnectedRoleOwnsBook: what
// such a role can do and how the office splits the roles; empty otherwise.
std::string OwnerWarning(Database& db);
