// Probes the post-rules use to confirm or refine a generic answer of the archive family: a JAR
// by "META-INF/" among its first entries, ISO 9660 images by their volume descriptors, Apple
// disk images by their trailer and Atari ATR disk images by their header. The (path, size)
// forms are thin wrappers that open the file.
#pragma once

#include <string>

#include "core/ByteSource.h"

bool isJAR(const kiv::ByteSource& src);
bool isJAR(const std::string& path, unsigned long size);
bool isISO(const kiv::ByteSource& src);
bool isISO(const std::string& path);
bool isDMG(const kiv::ByteSource& src);
bool isDMG(const std::string& path, unsigned long size);
bool isATR(const kiv::ByteSource& src);
bool isATR(const std::string& path, unsigned long size);
