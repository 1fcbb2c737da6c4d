// The report of `mkpkg info`: aligned text for people, JSON for scripts (same content).
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "tools/mkpkg/pkginfo.h"

namespace mkpkg {

// Text lines; values are quoted with control characters and non-ASCII bytes as escapes.
std::string infoText(const PackageInfo& info);

constexpr int kInfoJsonSchema = 2;

// "schemaVersion" first, then keys in the order of the package (ordered_json). Strings as read; bytes that are not
// UTF-8 are replaced when the caller dumps with error_handler_t::replace.
nlohmann::ordered_json infoJson(const PackageInfo& info);

}  // namespace mkpkg
