// Recognises the kinds of compound document (binary Word, Excel, PowerPoint, installer
// packages, Visio, Project and others) by the streams of the root storage and its class id,
// with the encryption state where the format records one.
#pragma once

#include <string>

#include "core/ByteSource.h"
#include "formats/office/CompoundFile.h"

enum OleFileType : int {
    OLE_NONE = 0,
    OLE_DAMAGED = 1,  // reported as "data"
    OLE_DOC = 2,
    OLE_DOT = 3,
    OLE_XLS = 4,
    OLE_XLT = 5,  // only from isXLS; isOLEFileType answers OLE_XLS for both
    OLE_PPT = 6,
    OLE_MSO_ENCRYPTED = 9,
    OLE_JTD = 10,
    OLE_JTDC = 11,
    OLE_HWP = 12,
    OLE_SUO = 13,
    OLE_MPP = 14,
    OLE_MSM = 15,
    OLE_VSD = 16,
    OLE_MSI = 19,
};

class OLEFTAUtil {
public:
    // On a hit fills the result quadruple (and the encrypted flag where the format has one);
    // otherwise leaves the outputs alone.
    static OleFileType isOLEFileType(const std::string& path, unsigned long size, std::string& typeId,
                                     std::string& mime, std::string& extensions, std::string& description,
                                     bool& encrypted);
    static OleFileType isOLEFileType(const kiv::ByteSource& src, std::string& typeId, std::string& mime,
                                     std::string& extensions, std::string& description, bool& encrypted);

    // The single tests over the root storage: their code, 0 for no match, 1 where noted.
    static int isDOC(CFStorage& root, bool& encrypted);  // 1: unreadable header
    static int isPPT(CFStorage& root, bool& encrypted);
    static int isMSI(CFStorage& root);
    static int isXLS(CFStorage& root, bool& encrypted);  // 4 workbook, 5 template, 1 unreadable
    static int isVSD(CFStorage& root, bool& encrypted);  // the flag is not touched
    static int isJTD(CFStorage& root, bool& encrypted);
    static int isJTDC(CFStorage& root);
    static int isHWP(CFStorage& root);
    static int isSUO(CFStorage& root);
    static int isMPP(CFStorage& root);
    static int isMSM(CFStorage& root);
    static int isEncryptedMSOffice2007(CFStorage& root);
};
