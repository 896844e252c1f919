// Binary Office files written by a real office suite, made once by fixtures/make.sh:
//   sh tests/formats/office/fixtures/make.sh
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "formats/office/OLEFTAUtil.h"

TEST(OleRealFiles, TypesAndEncryption) {
    struct Case {
        const char* file;
        OleFileType code;
        const char* typeId;
        bool encrypted;
    };
    const Case cases[] = {
        {"writer.doc", OLE_DOC, "DOC", false},
        {"writer-password.doc", OLE_DOC, "DOC-ENCRYPTED", true},
        {"writer.dot", OLE_DOT, "DOT", false},
        {"calc.xls", OLE_XLS, "XLS", false},
        {"calc-password.xls", OLE_XLS, "XLS-ENCRYPTED", true},
        // Encrypted, but with the password every reader tries first.
        {"calc-default-password.xls", OLE_XLS, "XLS", false},
        // This writer puts no TEMPLATE record in its templates, so only the name says "xlt".
        {"calc.xlt", OLE_XLS, "XLS", false},
    };
    for (const Case& c : cases) {
        std::string path = std::string(KIV_SOURCE_DIR) + "/tests/formats/office/fixtures/real/" + c.file;
        struct stat st;
        ASSERT_EQ(stat(path.c_str(), &st), 0) << path;
        std::string typeId, mime, extensions, description;
        bool encrypted = false;
        EXPECT_EQ(OLEFTAUtil::isOLEFileType(path, static_cast<unsigned long>(st.st_size), typeId, mime, extensions,
                                            description, encrypted),
                  c.code)
            << c.file;
        EXPECT_EQ(typeId, c.typeId) << c.file;
        EXPECT_EQ(encrypted, c.encrypted) << c.file;
    }
}
