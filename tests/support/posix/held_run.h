// Runs the tool built to hold itself at a named point (packhound_held), and
// changes the tree while it is held there: the change falls at a point of the
// walk the test knows, whatever the scheduler and the pipes do.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tests/support/posix/system_call_faults.h"
#include "tests/support/tool_runner.h"

// The point called name ("asked", "opening-ahead", ...); false for none.
bool PointNamed(const std::string& name, system_calls::Point& point);

// Runs tool (packhound_held) with arguments in workingDirectory, on threads
// walk threads, held the first time any of its threads reaches point with
// name; once every thread of it is stopped there, change runs, and the tool
// goes on. held says whether it got there before it ended. The launch's
// launcher words, if any, come after the hold's own.
ProcessResult RunHeld(const std::string& tool, const std::vector<std::string>& arguments,
                      const std::string& workingDirectory, unsigned threads,
                      const std::string& point, const std::string& name,
                      const std::function<void()>& change, bool& held, ToolLaunch launch = {});
