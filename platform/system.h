// Facts about the running program and its host: name, version, services, platform family.
#pragma once

#include <string>

namespace kelo::platform {

// The program's file name without directory or extension; titles message boxes.
std::string ProgramName();
void SetProgramName(const std::string& argv0);

// The full path of the running program file ("" when it cannot be found).
std::string ProgramPath();

// The product version compiled in from the project version.
std::string ProgramVersion();

// The port of a service from the system's services database, or the fallback when the
// database does not list it.
int ServicePort(const char* service, const char* protocol, int fallback);

// Tests can pretend the services database lacks every entry.
void SetServicesDatabaseHiddenForTest(bool hidden);

// $TMPDIR or /tmp/, always with a trailing '/'.
std::string TempFolder();

// A folder for the user's own short-lived files: $XDG_RUNTIME_DIR, which only the user can
// reach, else the temporary folder; always with a trailing '/'.
std::string UserTempFolder();

// The folder that holds the profile: $XDG_CONFIG_HOME, else ~/.config.
std::string ConfigFolder();

// The user's data folder, where the desktop looks for the user's own desktop entries and MIME
// packages: $XDG_DATA_HOME, else ~/.local/share.
std::string DataHome();

// The program's own folder in it, for the service records: DataHome()/kelo.
std::string DataFolder();

// The description of an OS error that names the file, e.g. "x.kel: No such file or directory".
std::string FileErrorText(const std::string& path, int error);

}  // namespace kelo::platform
