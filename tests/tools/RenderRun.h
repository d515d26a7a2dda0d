#pragma once

#include "support/Commands.h"
#include "support/TempDir.h"

#include <string>
#include <vector>

// What a run of kelvox-render left: its exit status and what it printed.
struct RunResult
{
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the built kelvox-render with args in the folder dir/work (which must
// exist); its output streams go to files in dir, outside that folder.
inline RunResult runKelvoxRender(const TempDir& dir, const std::vector<std::string>& args)
{
    std::string command = "cd " + shellQuote(dir.path("work")) + " && " + shellQuote(KELVOX_RENDER_EXE);
    for (const std::string& a : args)
        command += " " + shellQuote(a);
    command += " >" + shellQuote(dir.path("stdout.txt")) + " 2>" + shellQuote(dir.path("stderr.txt"));
    RunResult r;
    runCommand(command, r.status);
    r.out = readFile(dir.path("stdout.txt"));
    r.err = readFile(dir.path("stderr.txt"));
    return r;
}
