// The type catalogue and its JSON text.
#include "engine/TypeCatalogue.h"

#include <iterator>

#include "core/TypeTables.h"

std::map<std::string, std::vector<std::string>> map_TypeToGroupId;
std::string cacheFileTypeGroups;

namespace {

struct CatalogueEntry {
    const char* id;
    const char* extensions;
    bool beta;
};

struct CatalogueGroup {
    const char* id;
    const char* title;
    const CatalogueEntry* entries;
    size_t count;
};

// Entries in catalogue order. Ids and texts hold no quote, backslash, control character or
// non-ASCII byte, so the JSON text is written without escaping.
const CatalogueEntry kArchive[] = {
    {"7Z", ".7z", false},
    {"GZ", ".gz", false},
    {"GZIP", ".gz,.tgz", false},
    {"RAR", ".rar", false},
    {"XZ", ".xz", false},
    {"ZIP", ".zip", false},
    {"ARC", ".arc,.ark,.sue", false},
    {"ARJ", ".arj", true},
    {"BZ2", ".bz2", true},
    {"CAB", ".cab", true},
    {"CPIO", ".cpio", false},
    {"DEB", ".deb", false},
    {"EXE_SFX", ".exe", false},
    {"JAR", ".jar", false},
    {"LHA", ".lha", false},
    {"LZH", ".lzh", true},
    {"LZMA", ".lzma", true},
    {"PKLITE", ".exe,.sfx", false},
    {"RPM", ".rpm", false},
    {"TAZ", ".taz,.tz", false},
    {"XAR", ".xar", false},
    {"XPI", ".xpi", false},
    {"SAR", ".sar", false},
    {"TAR", ".tar", true},
    {"SPLIT_ARC",
     ".7z,.gz,.tgz,.rar,.xz,.zip,.arc,.ark,.sue,.arj,.bz2,.cab,.cpio,.deb,.exe,.jar,.lha,.lzh,.lzma,.sfx,.rpm,.tar,"
     ".taz,.tz,.xar,.xpi,.sar",
     false},
    {"PIM", ".pim", false},
};

const CatalogueEntry kOffice[] = {
    {"DOCX", ".docx", false},
    {"DOCM", ".docm", false},
    {"DOTX", ".dotx", false},
    {"DOTM", ".dotm", false},
    {"DOC", ".doc", false},
    {"DOT", ".dot", false},
    {"XLSX", ".xlsx", false},
    {"XLSB", ".xlsb", false},
    {"XLSM", ".xlsm", false},
    {"XLAM", ".xlam", false},
    {"XLS", ".xls", false},
    {"XLTX", ".xltx", true},
    {"XLTM", ".xltm", true},
    {"XLT", ".xlt", true},
    {"PPTX", ".pptx", false},
    {"PPTM", ".pptm", false},
    {"PPSX", ".ppsx", false},
    {"PPT", ".ppt", false},
    {"PPSM", ".ppsm", true},
    {"POTX", ".potx", true},
    {"POTM", ".potm", true},
    {"PPS", ".pps", true},
    {"POT", ".pot", true},
    {"VSD", ".vsd", false},
    {"VSS", ".vss", false},
    {"VST", ".vst", false},
    {"VSDX", ".vsdx", true},
    {"VSDM", ".vsdm", true},
    {"VSSX", ".vssx", true},
    {"VSSM", ".vssm", true},
    {"VSTX", ".vstx", true},
    {"VSTM", ".vstm", true},
    {"VDX", ".vdx", true},
    {"VSX", ".vsx", true},
    {"VTX", ".vtx", true},
    {"XML-DOC", ".xml", false},
    {"XML-DOCX", ".xml", false},
    {"XML-XLS", ".xml", false},
    {"XML-PPTX", ".xml", false},
    {"ODT", ".odt", true},
    {"OTT", ".ott", true},
    {"ODS", ".ods", true},
    {"ODP", ".odp", false},
    {"ODT/ODS/ODP/OTT", ".odt,.ods,.odp,.ott", false},
    {"RTF", ".rtf", false},
    {"JTD", ".jtd", false},
    {"JTDC", ".jtdc", true},
    {"HWP", ".hwp", false},
    {"MPP", ".mpp", false},
    {"XPS", ".xps", false},
    {"OXPS", ".oxps", false},
    {"PUB", ".pub", false},
    {"XLSX/DOCX/PPTX", ".docx,.xlsx,.pptx", false},
};

const CatalogueEntry kExecutable[] = {
    {"EXE", ".exe", false}, {"MSI", ".msi", false},     {"APK", ".apk", false},
    {"DLL", ".dll", false}, {"EXE_SFX", ".exe", false}, {"XEX/EXE", ".exe,.xex", false},
};

const CatalogueEntry kImage[] = {
    {"JPG", ".jpg", false}, {"GIF", ".gif", false}, {"TIFF", ".tiff", false}, {"BMP", ".bmp", false},
    {"PNG", ".png", false}, {"DWG", ".dwg", false}, {"DXF", ".dxf", true},    {"DWF", ".dwf", true},
    {"FAS", ".fas", true},  {"SVG", ".svg", true},  {"ICO", ".ico", false},   {"CDR", ".cdr", false},
    {"PNS", ".pns", false}, {"VML", ".vml", false}, {"AI", ".ai", false},     {"WMF", ".wmf", true},
    {"EMF", ".emf", true},  {"3DS", ".3ds", true},  {"DAE", ".dae", true},    {"DRC", ".drc", true},
    {"RVM", ".rvm", true},  {"U3D", ".u3d", true},
};

const CatalogueEntry kDiskImage[] = {
    {"VMDK", ".vmdk", false},
    {"VMX", ".vmx", false},
    {"ATR", ".atr", false},
    {"DMG", ".dmg", false},
    {"VDI", ".vdi", false},
    {"VHD", ".vhd", false},
    {"IMG", ".img", false},
    {"UDF_ISO", ".udf,.iso,.bin,.mdf", false},
    {"WIM", ".wim", false},
    {"ISO", ".iso", false},
    {"BIN/MDF", ".bin,.mdf,.img", false},
};

const CatalogueEntry kMedia[] = {
    {"M4V", ".m4v", false},
    {"AVI", ".avi", true},
    {"FLV", ".flv", false},
    {"MOV", ".mov", false},
    {"WMV/WMA", ".wmv,.wma", false},
    {"M4A/MP4", ".m4a,.mp4", false},
    {"M4A/M4R", ".m4a,.m4r", false},
    {"M4B", ".m4b", false},
    {"M4P", ".m4p", false},
    {"M4V", ".m4v", false},
    {"WAV", ".wav", true},
    {"3GP", ".3gp", false},
    {"3G2", ".3g2", false},
    {"SWF", ".swf", false},
    {"RM", ".rm", false},
    {"MPG", ".mpg", false},
    {"MPG/MPEG", ".mpg,.mpeg", false},
    {"MPG/MPEG/M2V", ".mpg,.mpeg,.m2v", false},
    {"WMA", ".wma", false},
    {"WMV", ".wmv", true},
    {"MP3", ".mp3", true},
    {"MP4", ".mp4", true},
    {"MPEG", ".mpeg", true},
    {"AMR", ".amr", false},
};

const CatalogueEntry kEmail[] = {
    {"EML", ".eml", true},
    {"MSG", ".msg", true},
    {"PST", ".pst", true},
    {"TNEF", ".tnef,.dat", false},
};

const CatalogueEntry kAdobe[] = {
    {"PDF", ".pdf", false},
    {"PSD", ".psd", true},
    {"PSB", ".psb", true},
};

const CatalogueEntry kText[] = {
    {"HTML", ".html,.htm", false}, {"MHT", ".mht", true},    {"XML", ".xml", true},  {"CSV", ".csv", false},
    {"VCS", ".vcs", true},         {"ICS", ".ics", true},    {"RDF", ".rdf", false}, {"ATOM", ".atom", false},
    {"RELS", ".rels", false},      {"AIML", ".aiml", false}, {"GPX", ".gpx", false}, {"ZIR", ".zir", false},
    {"INI", ".ini", false},        {"XSD", ".xsd", false},   {"PHP", ".php", false}, {"ASPX", ".aspx", false},
    {"PS1", ".ps1", false},        {"VBS", ".vbs", false},   {"TXT", ".txt", true},
};

const CatalogueEntry kEncrypted[] = {
    {"ZIP-ENCRYPTED", ".zip,.zipx", false},
    {"DOC-ENCRYPTED", ".doc", false},
    {"DOT-ENCRYPTED", ".dot", false},
    {"XLS-ENCRYPTED", ".xls", false},
    {"XLT-ENCRYPTED", ".xlt", false},
    {"PPT-ENCRYPTED", ".ppt", false},
    {"POT-ENCRYPTED", ".pot", false},
    {"PPS-ENCRYPTED", ".pps", false},
    {"MSO-ENCRYPTED", ".docx,.docm,.xlsx,.xlsb,.xlsm,.xltx,.xltm,.pptx,.pptm,.ppsx,.ppsm,.potx,.potm", false},
    {"JTD-ENCRYPTED", ".jtd", false},
    {"PDF-ENCRYPTED", ".pdf", false},
    {"ODT-ENCRYPTED", ".odt", false},
    {"OTT-ENCRYPTED", ".ott", false},
    {"ODS-ENCRYPTED", ".ods", false},
    {"ODP-ENCRYPTED", ".odp", false},
};

const CatalogueEntry kOther[] = {
    {"", "-", false},  // placeholder: id "", shown as "-" / "-"
    {"890", ".890", false},     {"CHM", ".chm", false}, {"HFS", ".hfs", false},
    {"JARCS", ".jarcs", false}, {"MBR", ".mbr", false}, {"MSM", ".msm", false},
    {"PAC", ".pac", false},     {"SUO", ".suo", false}, {"WINZIP", ".exe,.sfx", false},
    {"ZLIB", "", false},
};

const CatalogueGroup kGroups[] = {
    {"A", "Archive Files", kArchive, std::size(kArchive)},
    {"D", "Office Documents", kOffice, std::size(kOffice)},
    {"E", "Executable Files", kExecutable, std::size(kExecutable)},
    {"G", "Image Files", kImage, std::size(kImage)},
    {"I", "Disk Image Files", kDiskImage, std::size(kDiskImage)},
    {"M", "Media Files", kMedia, std::size(kMedia)},
    {"Z", "Email Files", kEmail, std::size(kEmail)},
    {"P", "Adobe Files", kAdobe, std::size(kAdobe)},
    {"T", "Text Files", kText, std::size(kText)},
    {"D_ENC", "ENCRYPTED DOCUMENTS", kEncrypted, std::size(kEncrypted)},
    {"O", "Other", kOther, std::size(kOther)},
};

const char kBetaPrefix[] = "[BETA] ";

void appendMember(std::string& out, const char* name, const std::string& value) {
    out += '"';
    out += name;
    out += "\":\"";
    out += value;
    out += '"';
}

void dropTrailingComma(std::string& s) {
    if (!s.empty() && s.back() == ',') s.pop_back();
}

}  // namespace

void insertToFileTypeList(std::list<FileTypeInputStructure>& list, const std::string& typeId,
                          const std::string& extensions, bool beta) {
    FileTypeInputStructure entry;
    entry.id = typeId;
    if (typeId.empty()) {
        entry.description = "-";
        entry.extensions = "-";
    } else {
        const std::string& text = FileTypeDescription.at(typeId);
        entry.description = beta ? kBetaPrefix + text : text;
        entry.extensions = extensions;
    }
    list.push_back(std::move(entry));
}

void cacheFileTypeGroupToJson(std::list<FileTypeGroup> groups) {
    std::string json = "{";
    for (const FileTypeGroup& g : groups) {
        json += '"';
        json += g.id;
        json += "\":{\"types\":[";
        for (const FileTypeInputStructure& e : g.types) {
            json += '{';
            appendMember(json, "id", e.id);
            json += ',';
            appendMember(json, "description", e.description);
            json += ',';
            appendMember(json, "extensions", e.extensions);
            json += "},";
        }
        dropTrailingComma(json);
        json += "],";
        appendMember(json, "description", g.description);
        json += "},";
    }
    dropTrailingComma(json);
    json += '}';
    cacheFileTypeGroups = std::move(json);
}

void initFileTypeGroup() {
    std::list<FileTypeGroup> groups;
    std::list<FileTypeInputStructure> working;
    for (const CatalogueGroup& g : kGroups) {
        for (size_t i = 0; i < g.count; ++i)
            insertToFileTypeList(working, g.entries[i].id, g.entries[i].extensions, g.entries[i].beta);
        groups.emplace_back(g.id, g.title, working);
        working.clear();
    }
    cacheFileTypeGroupToJson(groups);

    // Rebuilt from scratch, so a second init cannot list a group twice.
    std::map<std::string, std::vector<std::string>> lookup;
    for (const FileTypeGroup& g : groups)
        for (const FileTypeInputStructure& e : g.types) lookup[e.id].push_back(g.id);
    map_TypeToGroupId = std::move(lookup);
}
