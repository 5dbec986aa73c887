// Arbitrary bytes as dojang.mdb: the connection is opened and the start-up
// reads run on it (the name list, then the "도장" picture written to the
// transfer file). Every failure must be an Error; a refused open must leave
// the file exactly as it was.
#include <filesystem>

#include "fuzz_support.h"
#include "engine/workspace/workspace.h"
#include "os/error.h"
#include "store/connection.h"
#include "reliability_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ClearScratch();
    const std::string& folder = ScratchFolder();
    const std::string dbPath = DatabasePath(folder);
    WriteFile(dbPath, data, size);

    Workspace wrkPIC;
    Database dbsPIC;
    try {
        OpenPICDB(wrkPIC, dbsPIC, folder);
    } catch (const Error&) {
        if (!FileEquals(dbPath, data, size)) Fail("a refused open changed the file");
        return 0;
    }
    try {
        ReadStartUp(dbsPIC, folder);
    } catch (const Error&) {
    }
    try {
        ClosePICDB(wrkPIC, dbsPIC);
    } catch (const Error&) {
    }
    return 0;
}
