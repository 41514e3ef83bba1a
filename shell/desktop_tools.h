#pragma once
// The desktop's own helper programs, run where they are installed. None of
// them is required: a missing one is skipped without complaint.

#include <string>
#include <vector>

// Runs argv[0] (looked up on PATH) with its output discarded and waits for it,
// at most timeoutMs; a program still running then is killed. Returns its exit
// status, or -1 when it could not be started, was killed or crashed.
int RunDesktopTool(const std::vector<std::string>& argv, int timeoutMs = 10000);

// Rebuilds the MIME cache of an applications folder so that desktops offer the
// entries written there at once ("update-desktop-database").
void RefreshDesktopDatabase(const std::string& applicationsFolder);
