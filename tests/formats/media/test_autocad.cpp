// AutoCAD probes: DWG, FAS and DWF heads, text and binary DXF (also from python3-ezdxf),
// and the bounds of the text walk.
#include "MediaTestKit.h"
#include "core/TypeTables.h"
#include "formats/media/AutoCADUtil.h"

using namespace mediatest;

namespace {

// Code and family for a text padded with blanks (which the DXF walk ignores) to 64 bytes.
std::pair<int, int> probe(const std::string& text) {
    Bytes b = ByteBuilder().str(text).padTo(64, ' ').bytes;
    AutoCADExts family = AUTOCAD_EXT_DXF;
    int code = AutoCADUtil::determineAutoCADType(mem(b), family);
    return {code, family};
}
int code(const std::string& text) { return probe(text).first; }

std::string lines(std::initializer_list<const char*> ls, const std::string& eol = "\n") {
    std::string s;
    for (const char* l : ls) s += std::string(l) + eol;
    return s;
}

const std::string kHead = lines({"  0", "SECTION", "  2", "HEADER", "  9"});

}  // namespace

TEST(AutoCAD, DwgFasDwfHeads) {
    EXPECT_EQ(probe("MC0.0"), std::make_pair(int(DWG_MC0_0), int(AUTOCAD_EXT_DWG)));
    EXPECT_EQ(code("AC1.2"), DWG_AC1_2);
    EXPECT_EQ(code("AC1.50"), DWG_AC1_50);
    EXPECT_EQ(code("AC1032"), DWG_AC1032);
    EXPECT_EQ(probe("AC1099"), std::make_pair(0, 0));
    EXPECT_EQ(probe(std::string(AutoCADUtil::fasASCIIHeader) + "x"),
              std::make_pair(int(FAS_FILE), int(AUTOCAD_EXT_FAS)));
    EXPECT_EQ(probe("(DWF V06.20)"), std::make_pair(int(DWFVersion.at("06.20")), int(AUTOCAD_EXT_DWF)));
    EXPECT_EQ(code("(DWF V07.77)"), DWF_UNKNOWN_VERSION);
    Bytes b63(63, ' ');
    std::copy_n("AC1032", 6, b63.begin());
    AutoCADExts family = AUTOCAD_EXT_DWG;
    EXPECT_EQ(AutoCADUtil::determineAutoCADType(mem(b63), family), AUTOCAD_NONE);
    EXPECT_EQ(family, AUTOCAD_EXT_NONE);
}

TEST(AutoCAD, TextDxfWalk) {
    for (const char* eol : {"\n", "\r\n", "\r"})
        EXPECT_EQ(probe(lines({"  0", "SECTION", "  2", "HEADER", "  9", "$ACADVER", "  1", "AC1032", "  9"}, eol)),
                  std::make_pair(int(DXF_AC1032), int(AUTOCAD_EXT_DXF)));
    EXPECT_EQ(code(kHead + lines({"$ACADVER", "1", "AC9999"})), DXF_UNKNOWN_VERSION);
    // Variables before $ACADVER are skipped; empty and blank-only lines cost nothing.
    EXPECT_EQ(code(kHead + lines({"$DWGCODEPAGE", "3", "ANSI_1252", "", "   ", "9", "$ACADVER", "1", "AC1009"})),
              DXF_AC1009);
    // Without $ACADVER the next section decides.
    const std::string vars = lines({"$INSBASE", " 10", "0.0", "  0", "ENDSEC", "  0", "SECTION", "  2"});
    EXPECT_EQ(code(kHead + vars + lines({"TABLES", "  0"})), DXF_UNKNOWN_VERSION);
    EXPECT_EQ(code(kHead + vars + lines({"CLASSES", "  0"})), DXF_UNKNOWN_VERSION);
    EXPECT_EQ(code(kHead + vars + lines({"ENTITIES", "  0"})), AUTOCAD_NONE);
    // After the stop empty lines are appended too, and so push the version out of place.
    EXPECT_EQ(code(kHead + lines({"$ACADVER", "", "1", "AC1015"})), DXF_UNKNOWN_VERSION);
    EXPECT_EQ(code(lines({"0", "SECTION", "2", "ENTITIES", "0", "LINE"})), AUTOCAD_NONE);
    // A line over 1024 characters ends the walk, even a blank one.
    const std::string dxf = kHead + lines({"$ACADVER", "1", "AC1032"});
    EXPECT_EQ(code(std::string(1024, ' ') + "\n" + dxf), DXF_AC1032);
    EXPECT_EQ(code(std::string(1025, ' ') + "\n" + dxf), AUTOCAD_NONE);
}

TEST(AutoCAD, TextWalkIsBounded) {
    TempDir dir;
    std::string sparse = dir.write("sparse.bin", {});
    ASSERT_EQ(truncate(sparse.c_str(), 50 << 20), 0);  // 50 MiB without a line end
    AutoCADExts family;
    EXPECT_EQ(AutoCADUtil::determineAutoCADType(sparse, 0, family), AUTOCAD_NONE);
    // Skipping header variables stops after 100,000 lines or 8 MiB.
    const std::string start = kHead + "$X\n", version = lines({"$ACADVER", "1", "AC1032"});
    std::string blanks;
    for (int i = 0; i < 9000; ++i) blanks += std::string(1000, ' ') + "\n";
    EXPECT_EQ(code(start + std::string(200000, '\n') + version), AUTOCAD_NONE);
    EXPECT_EQ(code(start + blanks + version), AUTOCAD_NONE);
    EXPECT_EQ(code(start + std::string(90000, '\n') + version), DXF_AC1032);
    EXPECT_EQ(code(start + blanks.substr(0, 7000 * 1001) + version), DXF_AC1032);
}

TEST(AutoCAD, EzdxfFilesAndAdjust) {
    TempDir dir;
    std::string a12 = dir.file("a12.dxf"), a18 = dir.file("a18.dxf"), b18 = dir.file("b18.dxf"),
                b12 = dir.file("b12.dxf");
    runTool({"/usr/bin/python3", "-c",
             "import ezdxf, sys\n"
             "for v, p, f in (('R12', 1, 'asc'), ('R2018', 2, 'asc'), ('R2018', 3, 'bin'), ('R12', 4, 'bin')):\n"
             "    d = ezdxf.new(v); d.modelspace().add_line((0, 0), (1, 1)); d.saveas(sys.argv[p], fmt=f)\n",
             a12, a18, b18, b12});
    // The R12 binary layout has its version at 50, not 54: only the generic code.
    const std::pair<std::string, int> cases[] = {
        {a12, DXF_AC1009}, {a18, DXF_AC1032}, {b18, DXF_AC1032}, {b12, DXF_UNKNOWN_VERSION}};
    for (auto& c : cases) {
        AutoCADExts family = AUTOCAD_EXT_NONE;
        EXPECT_EQ(AutoCADUtil::determineAutoCADType(c.first, 0, family), c.second) << c.first;
        EXPECT_EQ(family, AUTOCAD_EXT_DXF);
    }

    std::string t = "x", m = "x", e = "x", d = "x";
    AutoCADUtil::adjustAutoCADTypes(AUTOCAD_NONE, AUTOCAD_EXT_DWG, t, m, e, d);
    EXPECT_EQ(t + m + e + d, "xxxx");
    AutoCADUtil::adjustAutoCADTypes(DWG_AC1032, AUTOCAD_EXT_DWG, t, m, e, d);
    EXPECT_EQ(t + "|" + m + "|" + e + "|" + d, "DWG|image/vnd.dwg|dwg|AutoCAD 2018 Drawing");
    AutoCADUtil::adjustAutoCADTypes(DWF_UNKNOWN_VERSION, AUTOCAD_EXT_DWF, t, m, e, d);
    EXPECT_EQ(t + "|" + d, "DWF|AutoCAD Design Web Format");
}
