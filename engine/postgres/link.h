#pragma once
// The server a linked book names: its table, and what the connection string
// in a link file (engine/sqlite/link_file.h) may hold.
//
// The connection string never holds a password: credentials come from
// libpq's own password file or connection service file (libpq_files.h).
#include <string>

// The table of the server that is the stamp book, and its name column,
// which must be of a text type.
inline constexpr const char* kLinkedTable = "pic_list";
inline constexpr const char* kLinkedNameColumn = "pic_name";

// Refuses a connection string that cannot be read, that holds a password, or
// that holds any key but host, port, dbname, user, service, connect_timeout,
// application_name and the TLS keys that make a connection stricter, with an
// Error that names the key and says why (and where such settings belong).
// A service stanza is the administrator's own file and is not looked into.
void CheckLinkConnection(const std::string& conninfo);

// The connection string a linked book connects with: `conninfo` less each
// TLS setting that is weaker than the one its service stanza gives (a link
// file's sslmode=require beside a service's verify-full, say), so that a
// link file can make the administrator's TLS settings stricter, never
// weaker. Without a service it is `conninfo` as it is.
std::string StricterThanService(const std::string& conninfo);
