#include "config/jsonutil.h"

#include <rapidjson/encodedstream.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "config/ConfigExports.h"
#include "config/StringUtil.h"
#include "core/ByteUtils.h"
#include "core/Limits.h"

using rapidjson::Value;
using Allocator = rapidjson::Document::AllocatorType;

const std::vector<ValidConfig> JSONUtil::defaultConfigInfo = [] {
    std::vector<ValidConfig> v;
    v.emplace_back("deep_scan", 0, "bool", "Deep scan", "");
    v.emplace_back("extract_archive", 0, "bool", "Extract archive file", "");
    v.emplace_back("heuristic_scan", 0, "bool", "Heuristic scan", "");
    ValidConfig levels("heuristic_scan", 0, "select", "Heuristic scan", "");
    levels.infos = {"Level 0", "Level 1", "Level 2", "Level 3"};
    v.push_back(levels);
    v.emplace_back("enable_cloud_scan", 0, "bool", "Cloud scan", "");
    v.emplace_back("enable_pup_scan", 0, "bool", "Detect PUP/PUA",
                   "Scan for spyware, adware or some other unwanted softwares");
    v.emplace_back("return_pup_scan_result", 0, "bool", "Return PUP/PUA scan result",
                   "Distinguish PUP from infected result");
    v.emplace_back("max_file_size", 0, "number", "Max file size (byte)", "Max file size to scan");
    v.emplace_back("max_scan_size", 0, "number", "Max scan size (byte)",
                   "The maximum amount of data to scan for each container file");
    v.emplace_back("max_extract_depth", 0, "number", "Max Extract Depth", "");
    return v;
}();

namespace {

// The host builds short lists by hand; a missing default or bound reads as 0 / "".
uint64_t numberAt(const ValidConfig& e, size_t i) { return i < e.numberValues.size() ? e.numberValues[i] : 0; }
int64_t signedNumberAt(const ValidConfig& e, size_t i) { return static_cast<int64_t>(numberAt(e, i)); }
std::string stringAt0(const ValidConfig& e) { return e.stringValues.empty() ? std::string() : e.stringValues[0]; }
std::string infoAt0(const ValidConfig& e) { return e.infos.empty() ? std::string() : e.infos[0]; }

// The writer refuses NaN and infinities and would leave a member without a value.
double finiteVersion(float version) { return std::isfinite(version) ? static_cast<double>(version) : 0.0; }

Value text(const std::string& s, Allocator& a) {
    return Value(s.data(), static_cast<rapidjson::SizeType>(s.size()), a);
}

// chain holds the ids of the entries being written around this one: a field id already on
// it would nest the entry inside itself without end, so it is skipped like an unknown id.
Value entryObject(const ValidConfig& e, Allocator& a, const std::vector<ValidConfig>& list,
                  std::vector<std::string>& chain) {
    Value fields(rapidjson::kArrayType);
    chain.push_back(e.id);
    if (chain.size() < kiv::limits::kConfigNestingMax) {
        for (const std::string& fieldId : e.fieldIds) {
            if (std::find(chain.begin(), chain.end(), fieldId) != chain.end()) continue;
            const ValidConfig child = getConfigFromList(fieldId, list);
            if (child.id.empty()) continue;  // names no entry
            fields.PushBack(entryObject(child, a, list, chain), a);
        }
    }
    chain.pop_back();

    Value obj(rapidjson::kObjectType);
    obj.AddMember("type", fields.Empty() ? text(e.type, a) : Value("feature"), a);
    obj.AddMember("display_name", text(e.displayName, a), a);
    obj.AddMember("id", text(e.id, a), a);
    if (e.type == "bool") {
        obj.AddMember("info", text(infoAt0(e), a), a);
        obj.AddMember("default_value", Value(numberAt(e, 0) != 0), a);
    } else if (e.type == "number") {
        obj.AddMember("info", text(infoAt0(e), a), a);
        obj.AddMember("default_value", Value(signedNumberAt(e, 0)), a);
        obj.AddMember("min", Value(signedNumberAt(e, 1)), a);
        obj.AddMember("max", Value(signedNumberAt(e, 2)), a);
    } else if (e.type == "string") {
        obj.AddMember("info", text(infoAt0(e), a), a);
        obj.AddMember("default_value", text(stringAt0(e), a), a);
    } else if (e.type == "select") {
        obj.AddMember("display_type", "radio", a);
        Value infos(rapidjson::kArrayType);
        for (const std::string& info : e.infos) infos.PushBack(text(info, a), a);
        obj.AddMember("infos", infos, a);
        Value values(rapidjson::kArrayType);
        for (size_t i = 1; i < e.numberValues.size(); ++i) values.PushBack(Value(signedNumberAt(e, i)), a);
        obj.AddMember("values", values, a);
        obj.AddMember("default_value", Value(signedNumberAt(e, 0)), a);
    } else {
        obj.AddMember("default_value", "", a);
    }
    if (!fields.Empty()) obj.AddMember("fields", fields, a);
    return obj;
}

// Digits only (checked by the caller); false when the value does not fit 64 signed bits.
bool parseInt64(const std::string& digits, int64_t& out) {
    int64_t v = 0;
    for (unsigned char c : digits) {
        if (__builtin_mul_overflow(v, 10, &v) || __builtin_add_overflow(v, c - '0', &v)) return false;
    }
    out = v;
    return true;
}

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void writeText(JsonWriter& w, const std::string& s) { w.String(s.data(), static_cast<rapidjson::SizeType>(s.size())); }

// The value of one entry: the host's text when it fits the entry, else the entry's default.
void writeEntryValue(JsonWriter& w, const ValidConfig& e, const std::map<std::string, std::string>& values) {
    const auto found = values.find(e.id);
    const bool have = found != values.end();
    const std::string empty;
    const std::string& t = have ? found->second : empty;
    if (e.type == "bool") {
        bool v = numberAt(e, 0) != 0;
        if (have && (t == "1" || t == "true")) v = true;
        if (have && (t == "0" || t == "false")) v = false;
        w.Bool(v);
    } else if (e.type == "number") {
        int64_t v = signedNumberAt(e, 0);
        int64_t given;
        if (have && StringUtil::IsNumber(t) && parseInt64(t, given) && numberAt(e, 1) < static_cast<uint64_t>(given) &&
            static_cast<uint64_t>(given) < numberAt(e, 2)) {
            v = given;
        }
        w.Int64(v);
    } else if (e.type == "select") {
        int64_t v = signedNumberAt(e, 0);
        int64_t given;
        if (have && StringUtil::IsNumber(t) && parseInt64(t, given) &&
            std::find(e.numberValues.begin(), e.numberValues.end(), static_cast<uint64_t>(given)) !=
                e.numberValues.end()) {
            v = given;
        }
        w.Int64(v);
    } else if (e.type == "string") {
        writeText(w, have ? t : stringAt0(e));
    } else {
        w.String("");
    }
}

// JSON white space and a UTF-8 byte-order mark before a "{": the input is a JSON object
// whatever words it holds further on (a temp-dir such as /tmp/invalid/ is ordinary).
bool startsWithObject(const std::string& in) {
    size_t i = 0;
    if (in.compare(0, 3, "\xEF\xBB\xBF") == 0) i = 3;
    while (i < in.size() && (in[i] == ' ' || in[i] == '\t' || in[i] == '\r' || in[i] == '\n')) ++i;
    return i < in.size() && in[i] == '{';
}

}  // namespace

int getApiVersion(std::string name) {
    const size_t first = name.find('_');
    const size_t last = name.rfind('_');
    std::string part;
    if (first == std::string::npos) {
        part = name;
    } else if (first == last) {
        part = name.substr(first + 1);
    } else {
        part = name.substr(first + 1, last - first - 1);
    }
    // strtol's reading, saturated to the int range so a huge number cannot wrap negative.
    size_t i = 0;
    while (i < part.size() && kiv::isAsciiSpace(static_cast<unsigned char>(part[i]))) ++i;
    bool negative = false;
    if (i < part.size() && (part[i] == '+' || part[i] == '-')) negative = part[i++] == '-';
    int64_t v = 0;
    for (; i < part.size() && kiv::isAsciiDigit(static_cast<unsigned char>(part[i])); ++i) {
        v = v * 10 + (part[i] - '0');
        if (v > static_cast<int64_t>(INT_MAX) + 1) v = static_cast<int64_t>(INT_MAX) + 1;
    }
    if (negative) v = -v;
    return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

ValidConfig getConfigFromList(const std::string& id, const std::vector<ValidConfig>& list) {
    for (const ValidConfig& e : list) {
        if (e.id == id) return e;
    }
    return ValidConfig("", 0, "bool", "", "");
}

Value generateConfigJson(const ValidConfig& entry, Allocator& allocator, const std::vector<ValidConfig>& list) {
    std::vector<std::string> chain;
    return entryObject(entry, allocator, list, chain);
}

void JSONUtil::adjustConfig(EngineSchema& schema) {
    for (ValidConfig& e : schema.entries) {
        for (const ValidConfig& known : defaultConfigInfo) {
            if (known.id != e.id || known.type != e.type) continue;
            if (e.displayName.empty()) e.displayName = known.displayName;
            if (e.infos.empty()) e.infos = known.infos;
        }
    }
}

void JSONUtil::createSchema(const EngineSchema& schema, std::string& out) {
    rapidjson::Document doc(rapidjson::kObjectType);
    Allocator& a = doc.GetAllocator();
    doc.AddMember("version", Value(finiteVersion(schema.version)), a);
    Value product(rapidjson::kObjectType);
    product.AddMember("id", text(schema.id, a), a);
    product.AddMember("display_name", text(schema.displayName, a), a);
    doc.AddMember("product", product, a);
    Value entries(rapidjson::kArrayType);
    for (const ValidConfig& e : schema.entries) {
        if (e.parentId.empty()) entries.PushBack(generateConfigJson(e, a, schema.entries), a);
    }
    doc.AddMember("schema", entries, a);

    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    doc.Accept(writer);
    out.assign(buffer.GetString(), buffer.GetSize());
}

std::pair<std::string, std::string> JSONUtil::getValueOf(std::string line) {
    line = StringUtil::trim(line);
    const size_t eq = line.rfind('=');
    if (eq == std::string::npos) return {line, line};
    return {StringUtil::trim(line.substr(0, eq)), StringUtil::trim(line.substr(eq + 1))};
}

int JSONUtil::parseInputJSON(std::string input, const EngineSchema& schema, std::map<std::string, std::string>& values,
                             std::string& tempDir) {
    rapidjson::Document doc;
    rapidjson::MemoryStream ms(input.data(), input.size());
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> is(ms);
    // Iterative: deeply nested input must end in a parse error, not a stack overflow.
    doc.ParseStream<rapidjson::kParseIterativeFlag>(is);
    if (doc.HasParseError()) return 0;
    // The reader takes a NUL byte for the end of its input; anything after the value must be
    // white space, so a stop before the real end is an error.
    if (ms.Tell() != input.size()) return 0;
    if (!doc.IsObject()) return 0;

    const auto tempMember = doc.FindMember("temp-dir");
    if (tempMember != doc.MemberEnd()) {
        if (tempMember->value.IsString()) {
            tempDir.assign(tempMember->value.GetString(), tempMember->value.GetStringLength());
        }
        if (doc.MemberCount() == 1) return 1;
    }
    if (!doc.HasMember("schema-version") || !doc.HasMember("config-serial")) return 0;
    const auto configMember = doc.FindMember("config");
    if (configMember == doc.MemberEnd() || !configMember->value.IsObject()) return 0;
    const Value& config = configMember->value;

    // A section written for an older interface version stands for the current one; the
    // first member that is (or stands for) the current section is read.
    const std::string key = "engine." + schema.id + ".config";
    const int current = getApiVersion(schema.id);
    const Value* section = nullptr;
    for (auto m = config.MemberBegin(); m != config.MemberEnd(); ++m) {
        const std::string name(m->name.GetString(), m->name.GetStringLength());
        if (name == key || getApiVersion(name) < current) {
            section = &m->value;
            break;
        }
    }
    if (section == nullptr || !section->IsObject()) return 0;
    const auto valuesMember = section->FindMember("values");
    if (valuesMember == section->MemberEnd() || !valuesMember->value.IsObject()) return 0;

    const Value& list = valuesMember->value;
    for (auto m = list.MemberBegin(); m != list.MemberEnd(); ++m) {
        const Value& v = m->value;
        std::string text;
        if (v.IsBool()) {
            text = v.GetBool() ? "true" : "false";
        } else if (v.IsInt64()) {
            text = std::to_string(v.GetInt64());
        } else if (v.IsString()) {
            text = v.GetString();  // up to its first NUL
        }
        std::string name(m->name.GetString(), m->name.GetStringLength());
        const size_t dot = name.rfind('.');
        if (dot != std::string::npos) name.erase(0, dot + 1);
        values.insert({name, text});
    }
    return 1;
}

void JSONUtil::createConfigOut(const EngineSchema& schema, const std::map<std::string, std::string>& values,
                               const std::string& tempDir, std::string& out) {
    rapidjson::StringBuffer buffer;
    JsonWriter w(buffer);
    w.StartObject();
    w.Key("schema-version");
    w.Double(finiteVersion(schema.version));
    w.Key("config-serial");
    w.Int(1);
    w.Key("temp-dir");
    writeText(w, tempDir);
    w.Key("config");
    w.StartObject();
    const std::string section = "engine." + schema.id + ".config";
    w.Key(section.data(), static_cast<rapidjson::SizeType>(section.size()));
    w.StartObject();
    w.Key("values");
    w.StartObject();
    for (const ValidConfig& e : schema.entries) {
        const std::string name = e.parentId.empty() ? e.id : e.parentId + "." + e.id;
        w.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
        writeEntryValue(w, e, values);
    }
    w.EndObject();
    w.EndObject();
    w.EndObject();
    w.EndObject();
    out.assign(buffer.GetString(), buffer.GetSize());
}

bool JSONUtil::convertJSON(const std::string& input, const EngineSchema& schema, std::string& schemaOut,
                           std::string& configOut, std::string& error) {
    createSchema(schema, schemaOut);
    std::map<std::string, std::string> values;
    std::string tempDir;
    const bool iniLines = !startsWithObject(input) && (input.find("[engine]") != std::string::npos ||
                                                       input.find("invalid") != std::string::npos || input.empty());
    if (iniLines) {
        std::vector<std::string> lines;
        StringUtil::ParseStrToVecWith(input, "\n", lines, 0);
        for (const std::string& line : lines) {
            if (line == "[engine]") continue;
            values.insert(getValueOf(line));
        }
    } else if (parseInputJSON(input, schema, values, tempDir) == 0) {
        error = "Fail to parse inputJSON";
        return false;
    }
    createConfigOut(schema, values, tempDir, configOut);
    return true;
}

// Host entry points: nothing may throw across them (an allocation failure answers failure).

KIV_EXPORT void adjustConfig(EngineSchema& schema) {
    try {
        JSONUtil::adjustConfig(schema);
    } catch (...) {
    }
}

KIV_EXPORT bool convertJSON(const std::string& input, const EngineSchema& schema, std::string& schemaOut,
                            std::string& configOut, std::string& error) {
    try {
        return JSONUtil::convertJSON(input, schema, schemaOut, configOut, error);
    } catch (...) {
        return false;
    }
}

KIV_EXPORT int parseInputJSON(const std::string& input, const EngineSchema& schema,
                              std::map<std::string, std::string>& values, std::string* tempDir) {
    try {
        std::string dir;
        const int result = JSONUtil::parseInputJSON(input, schema, values, dir);
        if (tempDir != nullptr) *tempDir = dir;
        return result;
    } catch (...) {
        return 0;
    }
}
