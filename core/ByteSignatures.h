// Byte patterns at fixed file offsets: ISO 9660 volume descriptors, and the kinds of compound
// document that the first sector after the header gives away. Built once by init, read-only
// afterwards.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct FileSignature {
    std::vector<uint8_t> bytes;
    uint32_t offset = 0;
    std::string typeId;
    std::string mime;
    std::string description;
    std::string extensions;

    // bytes from hexadecimal text: tokens separated by blanks or commas, each a number with an
    // optional "0x"; a token without a number ("0xxx") adds nothing.
    FileSignature(std::string hexText, uint32_t offset, std::string typeId, std::string mime, std::string description,
                  std::string extensions);

    static std::vector<uint8_t> parseHexText(const std::string& text);
};

extern std::vector<FileSignature> isoSignatures;
extern std::map<std::string, std::vector<FileSignature>> fallBackSignatures;

// Append the rows; init calls each once, the ISO rows first.
void initISOVecSignatures();
void initFallBackSignatures();
