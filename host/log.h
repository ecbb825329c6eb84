// The host's log: what the user may want to look back on (approvals, refusals with their
// reason, sessions opened and ended, errors), one line each, in the user's state folder. The
// file is bounded: past its size limit it moves to "<file>.1" (replacing the one before) and a
// new file begins. With verbose on, request lines also go to standard error.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zentrak::host {

// The default size bound of the log file.
constexpr size_t kLogMaxBytes = size_t{1} << 20;

// "$XDG_STATE_HOME/zentrak/host.log", or "$HOME/.local/state/zentrak/host.log" when
// XDG_STATE_HOME is not set.
std::string DefaultLogPath();

// Starts writing the log to `path` (its folder is created when missing). Without a call, or
// with an empty path, Log writes nothing. Returns false and sets `error` when the file cannot be
// opened; the host then runs without a log.
bool OpenLog(const std::string& path, std::string& error, size_t max_bytes = kLogMaxBytes);
void CloseLog();

// Appends "2026-12-08T16:20:00Z <line>" to the log. A line whose write fails is lost: the log
// never stops the host.
void Log(std::string_view line);

// Request lines (op and timing) for --verbose: on standard error, only when verbose is on.
void SetVerbose(bool on);
bool Verbose();
void LogVerbose(std::string_view line);

}  // namespace zentrak::host
