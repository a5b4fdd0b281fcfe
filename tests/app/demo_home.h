// The demo home for tests that run the agent: a private copy of the committed demo home, and
// running Net-SNMP commands against it.
//
//   TempDir dir;
//   copyDemoHome(dir.root());
//   CommandRun walk = netSnmp("snmpwalk", "-v2c -c vintor 127.0.0.1:1161 1.3.6.1");
#pragma once

#include <sys/stat.h>

#include <string>

#include "app/core/configuration.h"
#include "app/core/temp_dir.h"
#include "support/command_run.h"

namespace korvimo::testing {

// A Net-SNMP command line with numeric names, no MIB loading and bounded waits; args follow
// the program name ("snmpget -v2c -c vintor 127.0.0.1:1161 1.3.6.1.2.1.1.1.0").
inline CommandRun netSnmp(const std::string& program, const std::string& args) {
    return runCommand(program + " -m '' -On -t 1 -r 1 " + args);
}

// Copies the demo home's agent/demo.ctl, mibs/mibinfo.out and bin/korvan.ini into root,
// with INSTALLDIR naming root so that nothing depends on the working directory.
inline void copyDemoHome(const std::string& root) {
    for (const char* sub : {"bin", "agent", "mibs"}) {
        ::mkdir((root + "/" + sub).c_str(), 0755);
    }
    const std::string source = std::string(KORVIMO_SOURCE_DIR) + "/home/";
    for (const char* file :
         {"agent/demo.ctl", "agent/default.trp", "mibs/mibinfo.out", "bin/korvan.ini"}) {
        writeFile(root + "/" + file, readFile(source + file));
    }
    Configuration config(root + "/bin/korvan.ini");
    config.writePlain(ConfigKey::INSTALLDIR, root);
}

}  // namespace korvimo::testing
