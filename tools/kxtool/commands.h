// kxtool's commands, each given the options its command line set and
// returning the exit code. stdout carries the data alone (tables or JSON);
// failures, warnings, progress and the -v trace go to stderr.
#pragma once

#include <string>
#include <vector>

#include "fields.h"

namespace kxtool {

struct options {
    std::vector<std::string> devices;       // DEVICE arguments
    bool all = false;                       // --all
    const family_traits *family = nullptr;  // --family
    std::string password;
    bool as_json = false;
    bool dry_run = false;
    bool force = false;  // set, restore, apply: write an address another device answers at
    bool with_password = false;
    std::string dir;   // save --dir
    std::string file;  // restore, diff, apply
    bool clone = false;
    std::vector<std::string> set;          // restore --set
    std::vector<std::string> assignments;  // set's KEY=VALUE
    std::string value;                     // the quick settings' value
};

int search_command(const options &o);
int show_command(const options &o, bool save);
int set_command(const options &o);
int restore_command(const options &o);
int apply_command(const options &o);
// baud, parity or databits.
int quick_command(const std::string &name, const options &o);
int fields_command(const options &o);
int doctor_command(const options &o);

}  // namespace kxtool
