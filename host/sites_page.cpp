// The sites page and the --sites list. The page has no script: each Forget is a plain form, so
// that the page works under the strictest Content Security Policy.
#include "host/sites_page.h"

namespace zentrak::host {
namespace {

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// "2026-12-08T16:20:00Z" as "2026-12-08 16:20:00 UTC"; "-" for an answer without a time.
std::string When(const std::string& decided_at) {
  if (decided_at.size() != 20 || decided_at[10] != 'T' || decided_at[19] != 'Z')
    return decided_at.empty() ? "-" : decided_at;
  return decided_at.substr(0, 10) + " " + decided_at.substr(11, 8) + " UTC";
}

}  // namespace

std::string SitesPageHtml(const std::vector<SiteAnswer>& kept, const std::vector<std::string>& run_only,
                          const std::string& token, const std::string& notice) {
  std::string h =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Zentrak: sites</title>\n"
      "<style>body{font:15px system-ui,sans-serif;margin:2em;max-width:52em}"
      "table{border-collapse:collapse;width:100%}th,td{text-align:left;padding:.35em .6em;"
      "border-bottom:1px solid #ddd}th{background:#f4f4f4}.blocked{color:#a00}.allowed{color:#070}"
      ".notice{background:#eef6ff;padding:.5em .8em}form{margin:0}</style></head><body>\n"
      "<h1>Sites that asked to use Zentrak</h1>\n"
      "<p>An allowed site can keep databases in your profile, print on your printers, and read files that you "
      "pick or that you can read. Forget a site to be asked again the next time one of its pages uses "
      "Zentrak.</p>\n";
  if (!notice.empty()) h += "<p class=\"notice\" id=\"notice\">" + Escape(notice) + "</p>\n";
  if (kept.empty()) {
    h += "<p id=\"none\">You have not allowed or blocked any site yet.</p>\n";
  } else {
    h += "<table id=\"sites\"><thead><tr><th>Site</th><th>Answer</th><th>When</th><th></th></tr></thead><tbody>\n";
    for (const SiteAnswer& a : kept) {
      std::string origin = Escape(a.origin);
      h += "<tr><td class=\"origin\">" + origin + "</td><td class=\"" + (a.allowed ? "allowed\">Allowed" : "blocked\">Blocked") +
           "</td><td>" + Escape(When(a.decided_at)) +
           "</td><td><form method=\"post\" action=\"/sites/forget\"><input type=\"hidden\" name=\"token\" value=\"" +
           token + "\"><input type=\"hidden\" name=\"origin\" value=\"" + origin +
           "\"><button type=\"submit\">Forget</button></form></td></tr>\n";
    }
    h += "</tbody></table>\n";
  }
  if (!run_only.empty()) {
    h += "<h2>Allowed for this run only</h2>\n<p>Given to the host with --allow-origin; they end when it stops.</p><ul>\n";
    for (const std::string& o : run_only) h += "<li>" + Escape(o) + "</li>\n";
    h += "</ul>\n";
  }
  h += "<p>The same list: <code>zentrak-host --sites</code>; forget one: <code>zentrak-host --forget ORIGIN</code>.</p>\n"
       "</body></html>\n";
  return h;
}

std::string SitesListText(const std::vector<SiteAnswer>& kept) {
  std::string out;
  for (const SiteAnswer& a : kept)
    out += std::string(a.allowed ? "allowed" : "blocked") + "  " + a.origin + "  " + When(a.decided_at) + "\n";
  return out;
}

}  // namespace zentrak::host
