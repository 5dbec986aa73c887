#pragma once
// Where libpq looks for each user's own files, as messages name them: the
// password file, the connection service file and the root certificate that
// checks the server's. Each system has its own places (~/.pgpass and
// ~/.postgresql/ on Linux, %APPDATA%\postgresql\ on Windows), and its own
// implementation of this header.
#include <string>

struct LibpqUserFiles {
    std::string passwordFile;
    std::string serviceFile;
    std::string rootCertificate;
    // Whether libpq ignores a password file that others may read; Windows'
    // libpq does not look at who may read it.
    bool passwordFileMustBePrivate = true;
};

LibpqUserFiles UserLibpqFiles();

// The password file libpq has ignored for being readable by others, or
// empty (always empty where libpq does not check).
std::string IgnoredPasswordFile();
