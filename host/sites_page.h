// The host's sites page (/sites): the origins the user answered about, each with a Forget
// button. Only the host's own pages reach it; the server checks that, and a Forget must carry
// the page's token, which only a page the host served can know.
#pragma once

#include <string>
#include <vector>

#include "host/config.h"

namespace zentrak::host {

// The page's HTML: a table of `kept` (origin, answer, when) with one Forget form per origin,
// posting `token` and the origin to /sites/forget; then the origins approved for this run only.
// `notice`, when not empty, is shown above the table (the result of the last Forget).
std::string SitesPageHtml(const std::vector<SiteAnswer>& kept, const std::vector<std::string>& run_only,
                          const std::string& token, const std::string& notice);

// The text for --sites: one line per origin, "allowed  https://a.example  2026-12-08 16:20:00 UTC".
std::string SitesListText(const std::vector<SiteAnswer>& kept);

}  // namespace zentrak::host
