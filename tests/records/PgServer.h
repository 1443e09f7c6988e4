#pragma once
// A throw-away PostgreSQL server for one test: its own cluster in a temporary
// folder, reached only through a unix socket in that folder. The server does
// not run as root, so a root test hands the folder to "nobody".
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/TempDir.h"

namespace qk::test {

class PgServer {
 public:
  PgServer() {
    for (const char* version : {"17", "16", "15", "14", "13"}) {
      const std::string bin = std::string("/usr/lib/postgresql/") + version + "/bin/";
      if (std::filesystem::exists(bin + "initdb") && std::filesystem::exists(bin + "pg_ctl")) {
        bin_ = bin;
        break;
      }
    }
    if (bin_.empty()) return;
    if (getuid() == 0) {
      const passwd* pw = getpwnam("nobody");
      if (!pw) return;
      user_ = "nobody";
      as_ = "runuser -u nobody -- ";
      chown(dir_.path().c_str(), pw->pw_uid, pw->pw_gid);
    } else {
      const passwd* pw = getpwuid(getuid());
      user_ = pw ? pw->pw_name : "postgres";
    }
    std::filesystem::create_directory(dir_.file("sock"));
    if (getuid() == 0) chown(dir_.file("sock").c_str(), getpwnam("nobody")->pw_uid, getpwnam("nobody")->pw_gid);
    ready_ = shell(bin_ + "initdb -A trust -U " + user_ + " -D " + dir_.file("data") + " >" + dir_.file("initdb.log") +
                   " 2>&1") &&
             start();
  }
  ~PgServer() {
    if (running_) stop();
  }

  // Empty when the server could be started; else why not.
  std::string missing() const {
    if (bin_.empty()) return "the PostgreSQL server binaries are not installed (/usr/lib/postgresql/*/bin)";
    if (!ready_) return "the throw-away PostgreSQL server did not start, see " + dir_.file("initdb.log");
    return "";
  }
  bool binariesMissing() const { return bin_.empty(); }

  std::string url() const {
    return "postgresql:///postgres?host=" + dir_.file("sock") + "&port=5432&user=" + user_;
  }
  bool start() {
    return running_ = shell(bin_ + "pg_ctl -w -t 60 -D " + dir_.file("data") + " -l " + dir_.file("server.log") +
                 " -o \"-k " + dir_.file("sock") + " -p 5432 -c listen_addresses='' -c fsync=off\" start >/dev/null");
  }
  bool stop() {
    running_ = false;
    return shell(bin_ + "pg_ctl -w -t 60 -D " + dir_.file("data") + " -m fast stop >/dev/null");
  }

 private:
  bool shell(const std::string& command) { return std::system((as_ + command).c_str()) == 0; }

  TempDir dir_;
  std::string bin_, user_, as_;
  bool ready_ = false, running_ = false;
};

}  // namespace qk::test
