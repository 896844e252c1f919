// Mapping of the generic stage's four answers (matcher extension text, matcher type text,
// libmagic MIME type, libmagic description) onto the engine's own type id, MIME type,
// description and extension list, through an ordered list of regular-expression rules.
#pragma once

#include <list>
#include <string>
#include <vector>

// One rule: four patterns, each matched against the whole of its input, and the outputs
// they produce. A template of the form "%N:$M" is group M of pattern N (1-4) on input N;
// anything else is literal. extensionSpec "*" is input 1, "" the produced type id.
class TypeMatch {
public:
    std::string extPattern;
    std::string descPattern;
    std::string mimePattern;
    std::string magicPattern;
    std::string typeIdTemplate;
    std::string mimeTemplate;
    std::string descriptionTemplate;
    std::string extensionSpec;
};

class RegexpTable {
public:
    RegexpTable();
    ~RegexpTable();
    RegexpTable(const RegexpTable&) = delete;
    RegexpTable& operator=(const RegexpTable&) = delete;

    // Loads the engine's rule table, replacing any rules held before. Descriptions named
    // by type id are looked up in FileTypeDescription here (std::out_of_range if missing).
    void init();
    // Replaces the rules with the given ones and compiles their patterns; init uses it with
    // the built-in table. A pattern that does not compile is reported when check reaches it.
    void assign(std::list<TypeMatch> rules);
    const std::list<TypeMatch>& rules() const { return regexps; }

    // First rule whose four patterns all match decides. Returns 0 with the four outputs
    // written, or 1 (no rule matched, or a pattern error) with the outputs untouched.
    // Safe to call from many threads once the rules are loaded.
    int check(const char* in1, const char* in2, const char* in3, const char* in4, std::string& typeId,
              std::string& mime, std::string& desc, std::string& ext) const;

    struct CompiledRule;

private:
    std::list<TypeMatch> regexps;
    std::vector<CompiledRule> compiled;  // parallel to regexps
    size_t maxCaptures = 0;              // largest capture count of any pattern
};

extern RegexpTable regexpTable;
