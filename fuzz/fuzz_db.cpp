// Arbitrary bytes as dojang.mdb: the connection is opened and the start-up
// reads run on it (the name list, then the "도장" picture written to the
// transfer file). Every failure must be an Error; a refused open must leave
// the file exactly as it was.
#include <filesystem>

#include "fuzz_support.h"
#include "platform/error.h"
#include "store/connection.h"
#include "store/transfer.h"

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
    PosixFileSystem files;
    try {
        Recordset names = dbsPIC.OpenRecordset("SELECT pic_name FROM pic_list", dbOpenSnapshot);
        std::size_t count = 0;
        if (names.RecordCount() > 0) {
            names.MoveFirst();
            while (!names.EOF_()) {
                (void)TextOf(names.Fields(0).Value());
                ++count;
                names.MoveNext();
            }
        }
        names.Close();
        Recordset def = dbsPIC.OpenRecordset("SELECT * FROM pic_list WHERE  pic_name = '도장'", dbOpenSnapshot);
        if (def.RecordCount() != 0) PICFieldToFile(def.Fields("pic"), TransferFilePath(folder), files);
        def.Close();
    } catch (const Error&) {
    }
    try {
        ClosePICDB(wrkPIC, dbsPIC);
    } catch (const Error&) {
    }
    return 0;
}
