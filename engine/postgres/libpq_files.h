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

// What a file of libpq's that a user saved by hand (Notepad, say) has that
// libpq cannot read, as a sentence on what to do: a byte-order mark, UTF-16,
// or a ".txt" added to its name. Empty when none is seen. `file` is a name
// of UserLibpqFiles(), `what` how the sentence calls it ("암호 파일").
std::string HandSavedFileProblem(const std::string& file, const std::string& what);

// The password file libpq has ignored for being readable by others, or
// empty (always empty where libpq does not check).
std::string IgnoredPasswordFile();
