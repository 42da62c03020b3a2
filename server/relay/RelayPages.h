#pragma once

#include <string>

#include "server/relay/Snapshot.h"

namespace zeza::relay {

// The site's pages over a relay snapshot (UTF-8 HTML), with where the data comes from.
std::string HomePage(const Snapshot& s);
std::string BannerPage(const Snapshot& s);
// A fund's page; says the day its net value belongs to, which for a late fund is
// before the feed's quote date. Empty for an unknown code.
std::string FundPage(const Snapshot& s, const std::string& code);

}  // namespace zeza::relay
