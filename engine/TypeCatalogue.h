// The type catalogue: the type ids the engine announces to the host, in 11 groups, and the
// lookup from a type id to the groups that list it. Built once by init, read-only afterwards.
#pragma once

#include <list>
#include <map>
#include <string>
#include <vector>

// One catalogue entry.
class FileTypeInputStructure {
public:
    std::string id;
    std::string description;
    std::string extensions;  // ".gz,.tgz"; may be empty
};

// One group of entries, in insertion order.
class FileTypeGroup {
public:
    FileTypeGroup() = default;
    FileTypeGroup(std::string id, std::string description, std::list<FileTypeInputStructure> types)
        : id(std::move(id)), description(std::move(description)), types(std::move(types)) {}

    std::string id;
    std::string description;
    std::list<FileTypeInputStructure> types;
};

// Appends one entry. An empty id is the placeholder entry ("-", "-"); otherwise the
// description is FileTypeDescription.at(typeId) (std::out_of_range if missing), prefixed
// with "[BETA] " when beta is set.
void insertToFileTypeList(std::list<FileTypeInputStructure>& list, const std::string& typeId,
                          const std::string& extensions, bool beta);

// Builds the catalogue, fills cacheFileTypeGroups and map_TypeToGroupId.
void initFileTypeGroup();

// Replaces cacheFileTypeGroups with the JSON text of the groups.
void cacheFileTypeGroupToJson(std::list<FileTypeGroup> groups);

// Type id -> ids of the groups listing it, in catalogue order, once per listing entry.
extern std::map<std::string, std::vector<std::string>> map_TypeToGroupId;
// The catalogue JSON that getFileTypeGroup hands out.
extern std::string cacheFileTypeGroups;
