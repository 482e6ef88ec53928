#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace velkora::sim {

// Small wrappers around the system calls the bridge makes to set the guest's kernel up. Each
// failure throws a runtime error that names the path or program and the system's reason.

// Writes the whole text in one write, as kernel attribute files (sysfs, configfs) want it.
void writeAttribute(const std::filesystem::path& path, std::string_view text);
std::string readAttribute(const std::filesystem::path& path);

// Runs a program found on PATH and waits for it; fails unless it exits with 0.
void runProgram(const std::vector<std::string>& arguments);

// Whether a file system is mounted at exactly this folder.
bool isMountPoint(const std::filesystem::path& folder);

// The system's description of the current errno, after the given text.
std::string withReason(const std::string& what);

}  // namespace velkora::sim
