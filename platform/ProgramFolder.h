#pragma once
// The program folder holds the profile, the flash list, the images and the logs.
// It is the executable's folder unless the front end names another (--home).
#include <string>

namespace qk {

class ProgramFolder {
 public:
  ProgramFolder() = default;
  explicit ProgramFolder(std::string dir);

  // The folder of the running executable (/proc/self/exe).
  static ProgramFolder ofExecutable();

  // Always ends in '/'.
  const std::string& path() const { return dir_; }
  // Absolute names (leading '/', or a Windows name with ":\") stay as they are;
  // anything else is taken relative to the program folder.
  std::string resolve(const std::string& name) const;

  // Fixed places that are machine-wide on the original platform; here they live
  // in the program folder so that several stations on one machine stay apart.
  std::string defaultImagePath() const { return dir_ + "QKSSD.img"; }
  std::string pcMarkerPath() const { return dir_ + "pc.ini"; }

 private:
  std::string dir_ = "./";
};

bool isAbsoluteName(const std::string& name);
// The part after the last '/' or '\'.
std::string bareFileName(const std::string& path);
bool fileExists(const std::string& path);
bool directoryExists(const std::string& path);

}  // namespace qk
